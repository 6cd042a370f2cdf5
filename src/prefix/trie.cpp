#include "prefix/trie.h"

#include <algorithm>

#include "prefix/internal_error.h"

namespace kelvaro {

Trie::Trie(std::vector<std::uint32_t> node_shifts, std::vector<OptionalChar> node_chars,
           std::vector<std::optional<Payload>> node_payloads, std::vector<NodeId> child_indices)
    : node_shifts_(std::move(node_shifts)),
      node_chars_(std::move(node_chars)),
      node_payloads_(std::move(node_payloads)),
      child_indices_(std::move(child_indices)) {}

void Trie::get_children(NodeId node, Children& out) const {
  out.clear();
  std::size_t start = checked_at(node_shifts_, node);
  std::size_t end =
      std::size_t{node} + 1 < node_shifts_.size() ? node_shifts_[node + 1] : child_indices_.size();
  if (start >= end) return;
  // A malformed run may reach far past child_indices; it fails at the first
  // position outside it, so reserve no further than that.
  std::size_t readable_end = std::min(end, child_indices_.size());
  if (start < readable_end) out.reserve(readable_end - start);
  for (std::size_t position = start; position < end; ++position) {
    NodeId child = checked_at(child_indices_, position);
    OptionalChar ch = checked_at(node_chars_, child);
    if (!ch.has_value()) fail_none();
    out.push_back({ch.value(), child});
  }
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
