#include "prefix/trie.h"

#include <algorithm>

#include "prefix/internal_error.h"

namespace kelvaro {

Trie::Trie(std::vector<std::uint32_t> node_shifts, std::vector<OptionalChar> node_chars,
           std::vector<std::optional<Payload>> node_payloads, std::vector<NodeId> child_indices)
    : node_shifts_(std::move(node_shifts)),
      node_chars_(std::move(node_chars)),
      node_payloads_(std::move(node_payloads)),
      child_indices_(std::move(child_indices)),
      forms_a_tree_(find_whether_tree()) {
  find_whether_sound();
}

bool Trie::find_whether_tree() const {
  std::vector<bool> listed(node_chars_.size());
  for (std::size_t node = 0; node < node_shifts_.size(); ++node) {
    const Run run = run_of(static_cast<NodeId>(node));
    if (run.end > child_indices_.size()) return false;
    for (std::size_t position = run.start; position < run.end; ++position) {
      const NodeId child = child_indices_[position];
      if (child == 0 || child >= node_chars_.size() || !node_chars_[child].has_value() ||
          listed[child]) {
        return false;
      }
      listed[child] = true;
    }
  }
  return true;
}

// A tree whose reachable nodes all have a run and a payload entry. The walk
// from the root that proves it also lays out run_chars and finds the height.
void Trie::find_whether_sound() {
  const std::size_t reachable_bound = std::min(node_shifts_.size(), node_payloads_.size());
  if (!forms_a_tree_ || reachable_bound == 0) return;
  std::vector<char32_t> run_chars(child_indices_.size());
  bool sorted = true;
  bool distinct = true;
  // Breadth first, one level at a time, so that the number of levels is the
  // height; `order` ends up holding every reachable node, parents first.
  std::vector<NodeId> order{0};
  std::size_t height = 0;
  for (std::size_t level = 0; level < order.size();) {
    const std::size_t level_end = order.size();
    for (; level < level_end; ++level) {
      const Run run = run_of(order[level]);
      for (std::size_t position = run.start; position < run.end; ++position) {
        const NodeId child = child_indices_[position];
        if (child >= reachable_bound) return;
        const char32_t ch = node_chars_[child].value();
        run_chars[position] = ch;
        if (position > run.start && ch <= run_chars[position - 1]) {
          distinct = false;
          if (ch < run_chars[position - 1]) sorted = false;
        }
        order.push_back(child);
      }
    }
    if (order.size() > level_end) ++height;
  }
  // Children before parents: what lies below each node.
  std::vector<Reach> reach(node_shifts_.size(), Reach{kFarthest, 0});
  for (std::size_t i = order.size(); i-- > 0;) {
    const NodeId node = order[i];
    Reach& here = reach[node];
    if (node_payloads_[node].has_value()) here.nearest_word = 0;
    const Run run = run_of(node);
    for (std::size_t position = run.start; position < run.end; ++position) {
      const Reach& below = reach[child_indices_[position]];
      const std::uint8_t nearest = below.nearest_word < kFarthest ? below.nearest_word + 1 : kFarthest;
      const std::uint8_t deepest = below.deepest < kFarthest ? below.deepest + 1 : kFarthest;
      here.nearest_word = std::min(here.nearest_word, nearest);
      here.deepest = std::max(here.deepest, deepest);
    }
  }
  // Positions of runs that no walk reaches keep a 0: nothing reads them.
  run_chars_ = std::move(run_chars);
  reach_ = std::move(reach);
  height_ = height;
  runs_sorted_ = sorted;
  siblings_distinct_ = sorted && distinct;
  sound_ = true;
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
  std::optional<std::size_t> found =
      preferred_child(chars.size(), [&](std::size_t i) { return chars[i]; }, wanted);
  if (found.has_value()) *found += run.start;
  return found;
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
