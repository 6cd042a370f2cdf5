#include "prefix/exact_search.h"

#include <algorithm>

#include "prefix/internal_error.h"
#include "prefix/utf8.h"

namespace kelvaro {

ExactSearch::ExactSearch(const Trie& trie, std::u32string_view query)
    : trie_(trie), query_(query) {}

std::optional<MatchRecord> ExactSearch::run() {
  // The nodes on the query's path, root first, each with the children of it
  // still to visit: at most one per character of the query, and the root.
  std::vector<OnPath> path;
  path.reserve(std::min<std::size_t>(query_.size() + 1, 64));
  visit(0, true, 0);
  path.push_back(enter(0, 0));
  while (!path.empty()) {
    OnPath& parent = path.back();
    if (parent.visited == parent.end - parent.start) {
      path.pop_back();
      continue;
    }
    const NodeId child = trie_.child_indices()[position_of(parent, parent.visited++)];
    const std::size_t depth = parent.depth + 1;
    const bool on_path =
        parent.depth < query_.size() && trie_.node_chars()[child].value() == query_[parent.depth];
    visit(child, on_path, depth);
    if (on_path) path.push_back(enter(child, depth));
  }
  if (!found_.has_value()) return std::nullopt;
  return MatchRecord{utf8::encode(query_), *found_, 0};
}

// The search enters every child of a node on the path, the one that
// continues the query first.
ExactSearch::OnPath ExactSearch::enter(NodeId node, std::size_t depth) const {
  const std::vector<std::uint32_t>& shifts = trie_.node_shifts();
  const std::size_t start = shifts[node];
  std::size_t end =
      node + std::size_t{1} < shifts.size() ? shifts[node + 1] : trie_.child_indices().size();
  if (start >= end) end = start;
  OnPath on_path{start, end, std::nullopt, depth};
  if (depth < query_.size()) {
    for (std::size_t position = end; position-- > start;) {
      if (trie_.node_chars()[trie_.child_indices()[position]].value() == query_[depth]) {
        on_path.preferred = position;
        break;
      }
    }
  }
  return on_path;
}

// The position in child_indices of the index-th child to visit: the
// preferred one, then the others in run order.
std::size_t ExactSearch::position_of(const OnPath& parent, std::size_t index) const {
  if (!parent.preferred.has_value()) return parent.start + index;
  if (index == 0) return *parent.preferred;
  const std::size_t position = parent.start + index - 1;
  return position < *parent.preferred ? position : position + 1;
}

// What visiting a node can do at distance 0: fail for a node beyond
// node_payloads, record a node whose path text is the whole query, and fail
// for a node whose children cannot be listed, which in a tree is a node
// beyond node_shifts (pruned nodes have theirs listed too).
void ExactSearch::visit(NodeId node, bool on_path, std::size_t depth) {
  const std::vector<std::optional<Payload>>& payloads = trie_.node_payloads();
  if (node >= payloads.size()) [[unlikely]]
    fail_out_of_bounds(payloads.size(), node);
  if (on_path && depth == query_.size() && depth > 0 && !found_.has_value() &&
      payloads[node].has_value()) {
    found_ = node;
  }
  if (node >= trie_.node_shifts().size()) [[unlikely]]
    fail_out_of_bounds(trie_.node_shifts().size(), node);
}

}  // namespace kelvaro
