#include "prefix/trie.h"

#include <algorithm>

#include "prefix/internal_error.h"
#include "prefix/interrupt.h"

namespace kelvaro {

Trie::Trie(std::vector<std::uint32_t> node_shifts, std::vector<OptionalChar> node_chars,
           std::vector<std::optional<Payload>> node_payloads, std::vector<NodeId> child_indices)
    : node_shifts_(std::move(node_shifts)),
      node_chars_(std::move(node_chars)),
      node_payloads_(std::move(node_payloads)),
      child_indices_(std::move(child_indices)) {
  find_whether_tree();
}

// One walk from the root, breadth first, proves that it is a tree, lays out
// run_chars and finds the height; the runs of any nodes it did not reach are
// checked after it, so that the whole trie is a tree. Then a pass from the
// leaves up finds what lies below each node.
void Trie::find_whether_tree() {
  const std::size_t reachable_bound = std::min(node_shifts_.size(), node_payloads_.size());
  if (reachable_bound == 0) return;
  std::vector<char32_t> run_chars(child_indices_.size());
  // Nodes that some run lists; the root never is.
  std::vector<bool> listed(node_chars_.size());
  const auto lists = [&](NodeId child) {
    if (child == 0 || child >= node_chars_.size() || listed[child] ||
        !node_chars_[child].has_value())
      return false;
    listed[child] = true;
    return true;
  };
  bool sorted = true;
  bool distinct = true;
  // Parents before children; each level of the walk follows the one above.
  std::vector<NodeId> order;
  order.reserve(reachable_bound);
  order.push_back(0);
  std::size_t height = 0;
  InterruptCheck interrupts;
  for (std::size_t level = 0; level < order.size();) {
    const std::size_t level_end = order.size();
    interrupts.tick(static_cast<std::uint32_t>(std::min<std::size_t>(level_end - level, 1u << 20)));
    for (; level < level_end; ++level) {
      const Run run = run_of(order[level]);
      if (run.end > child_indices_.size()) return;
      char32_t previous = 0;
      for (std::size_t position = run.start; position < run.end; ++position) {
        const NodeId child = child_indices_[position];
        if (child >= reachable_bound || !lists(child)) return;
        const char32_t ch = node_chars_[child].value();
        run_chars[position] = ch;
        if (position > run.start && ch <= previous) {
          distinct = false;
          if (ch < previous) sorted = false;
        }
        previous = ch;
        order.push_back(child);
      }
    }
    if (order.size() > level_end) ++height;
  }
  // Nodes that the walk did not reach: their runs too must keep the trie a
  // tree, though no lookup ever reads them. A trie that the builder made has
  // none.
  if (order.size() < node_shifts_.size()) {
    std::vector<bool> reached(node_shifts_.size());
    for (const NodeId node : order) reached[node] = true;
    for (std::size_t node = 0; node < node_shifts_.size(); ++node) {
      if (reached[node]) continue;
      const Run run = run_of(static_cast<NodeId>(node));
      if (run.end > child_indices_.size()) return;
      for (std::size_t position = run.start; position < run.end; ++position)
        if (!lists(child_indices_[position])) return;
    }
  }
  // Children before parents: what lies below each node.
  std::vector<Reach> reach(reachable_bound, Reach{kFarthest, 0});
  for (std::size_t i = order.size(); i-- > 0;) {
    const NodeId node = order[i];
    Reach here = reach[node];
    if (node_payloads_[node].has_value()) here.nearest_word = 0;
    const Run run = run_of(node);
    for (std::size_t position = run.start; position < run.end; ++position) {
      const Reach below = reach[child_indices_[position]];
      here.nearest_word = std::min<std::uint8_t>(
          here.nearest_word, below.nearest_word < kFarthest ? below.nearest_word + 1 : kFarthest);
      here.deepest = std::max<std::uint8_t>(
          here.deepest, below.deepest < kFarthest ? below.deepest + 1 : kFarthest);
    }
    reach[node] = here;
  }
  // Positions of runs that no walk reaches keep a 0: nothing reads them.
  run_chars_ = std::move(run_chars);
  reach_ = std::move(reach);
  height_ = height;
  runs_sorted_ = sorted;
  siblings_distinct_ = sorted && distinct;
  tree_ = true;
}

void Trie::get_children(NodeId node, Children& out) const {
  out.clear();
  checked_at(node_shifts_, node);
  const Run run = run_of(node);
  if (run.size() == 0) return;
  // A malformed run may reach far past child_indices; it fails at the first
  // position outside it, so reserve no further than that.
  if (run.start < child_indices_.size())
    out.reserve(std::min(run.end, child_indices_.size()) - run.start);
  for (std::size_t position = run.start; position < run.end; ++position) {
    NodeId child = checked_at(child_indices_, position);
    out.push_back({checked_char(child), child});
  }
}

std::optional<std::size_t> Trie::last_child_with(Run run, char32_t wanted) const {
  const std::span<const char32_t> chars = run_chars(run);
  // Sorted runs, which are all the builder makes: a binary search, so that
  // a node with thousands of children costs a dozen reads.
  if (runs_sorted_) {
    const auto after = std::upper_bound(chars.begin(), chars.end(), wanted);
    if (after == chars.begin() || *(after - 1) != wanted) return std::nullopt;
    return run.start + static_cast<std::size_t>(after - 1 - chars.begin());
  }
  // Any order: a scan of the run's characters, from the end.
  std::optional<std::size_t> found = preferred_child(
      chars.size(), [&](std::size_t i) { return chars[i]; }, wanted);
  if (found.has_value()) *found += run.start;
  return found;
}

void Trie::children_carrying(Run run, std::u32string_view wanted,
                             std::vector<std::size_t>& out) const {
  out.clear();
  const std::span<const char32_t> chars = run_chars(run);
  if (runs_sorted_ && chars.size() > 8 * wanted.size()) {
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const char32_t ch = wanted[i];
      if (wanted.substr(0, i).find(ch) != std::u32string_view::npos) continue;
      const auto [first, last] = std::equal_range(chars.begin(), chars.end(), ch);
      for (auto it = first; it != last; ++it)
        out.push_back(run.start + static_cast<std::size_t>(it - chars.begin()));
    }
    std::sort(out.begin(), out.end());
    return;
  }
  for (std::size_t i = 0; i < chars.size(); ++i)
    if (wanted.find(chars[i]) != std::u32string_view::npos) out.push_back(run.start + i);
}

char32_t Trie::checked_char(NodeId child) const {
  OptionalChar ch = checked_at(node_chars_, child);
  if (!ch.has_value()) [[unlikely]]
    fail_none();
  return ch.value();
}

Children Trie::get_children(NodeId node) const {
  Children children;
  get_children(node, children);
  return children;
}

std::optional<Payload> Trie::get_payload(NodeId node) const {
  return checked_at(node_payloads_, node);
}

}  // namespace kelvaro
