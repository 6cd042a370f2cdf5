#include "prefix/tree_walk.h"

namespace kelvaro {

std::optional<NodeId> find_exact(const Trie& trie, std::u32string_view query) {
  // The root is never a match, so the empty query has none.
  if (query.empty()) return std::nullopt;
  // Siblings that never share a character (every index trie): one child
  // at most carries each character, so the descent never turns back.
  if (trie.siblings_distinct()) {
    NodeId node = 0;
    for (const char32_t ch : query) {
      const std::optional<std::size_t> position = trie.last_child_with(trie.run_of(node), ch);
      if (!position.has_value()) return std::nullopt;
      node = trie.child_indices()[*position];
    }
    if (!trie.node_payloads()[node].has_value()) return std::nullopt;
    return node;
  }
  struct Pending {
    NodeId node;
    std::size_t depth;
  };
  std::vector<Pending> pending{{0, 0}};
  InterruptCheck interrupts;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    interrupts.tick();
    if (next.depth == query.size()) {
      if (trie.node_payloads()[next.node].has_value()) return next.node;
      continue;
    }
    const Run run = trie.run_of(next.node);
    const std::optional<std::size_t> last = trie.last_child_with(run, query[next.depth]);
    if (!last.has_value()) continue;
    // Siblings that share the character: the last goes first, then the
    // others in run order, so they are stacked in reverse.
    const std::span<const char32_t> chars = trie.run_chars();
    for (std::size_t position = *last; position-- > run.start;) {
      if (chars[position] == query[next.depth])
        pending.push_back({trie.child_indices()[position], next.depth + 1});
      else if (trie.runs_sorted())
        break;
    }
    pending.push_back({trie.child_indices()[*last], next.depth + 1});
  }
  return std::nullopt;
}

}  // namespace kelvaro
