#include "prefix/trie.h"

#include "prefix/internal_error.h"

namespace kelvaro {

Trie::Trie(std::vector<std::uint32_t> node_shifts, std::vector<OptionalChar> node_chars,
           std::vector<std::optional<Payload>> node_payloads, std::vector<NodeId> child_indices)
    : node_shifts_(std::move(node_shifts)),
      node_chars_(std::move(node_chars)),
      node_payloads_(std::move(node_payloads)),
      child_indices_(std::move(child_indices)),
      forms_a_tree_(find_whether_tree()) {}

bool Trie::find_whether_tree() const {
  std::vector<bool> listed(node_chars_.size());
  for (std::size_t node = 0; node < node_shifts_.size(); ++node) {
    const std::size_t start = node_shifts_[node];
    const std::size_t end =
        node + 1 < node_shifts_.size() ? node_shifts_[node + 1] : child_indices_.size();
    if (start >= end) continue;
    if (end > child_indices_.size()) return false;
    for (std::size_t position = start; position < end; ++position) {
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

void Trie::get_children(NodeId node, Children& out) const {
  out.clear();
  std::size_t start = checked_at(node_shifts_, node);
  std::size_t end =
      std::size_t{node} + 1 < node_shifts_.size() ? node_shifts_[node + 1] : child_indices_.size();
  if (start >= end) return;
  if (end <= child_indices_.size()) [[likely]] {
    list_run(start, end, out);
    return;
  }
  // A malformed run may reach far past child_indices; it fails at the first
  // position outside it, so reserve no further than that.
  if (start < child_indices_.size()) out.reserve(child_indices_.size() - start);
  for (std::size_t position = start; position < end; ++position) {
    NodeId child = checked_at(child_indices_, position);
    out.push_back({checked_char(child), child});
  }
}

// Searches list the children of every node they visit, so this is one of
// their innermost loops: the run is known to lie inside child_indices, and
// only the children themselves are checked, in the same order as above.
void Trie::list_run(std::size_t start, std::size_t end, Children& out) const {
  out.reserve(end - start);
  for (std::size_t position = start; position < end; ++position) {
    NodeId child = child_indices_[position];
    out.push_back({checked_char(child), child});
  }
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
