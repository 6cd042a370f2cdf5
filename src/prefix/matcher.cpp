#include "prefix/matcher.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "prefix/internal_error.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

// The matcher writes every value that it reads, so a value that is missing or
// of another type means the State did not come from it.
template <typename T>
const T& required(const State& state, std::string_view key) {
  const T* value = state.get<T>(key);
  if (value == nullptr) [[unlikely]]
    fail_none();
  return *value;
}

}  // namespace

Matcher::Matcher(std::u32string query, std::uint64_t max_dist, std::optional<std::uint64_t> limit)
    : limit_(limit), query_(std::move(query)), max_dist_(max_dist) {}

State Matcher::initial_state() const {
  State state;
  state.put(kCurPrefix, std::u32string());
  return state;
}

void Matcher::visit_node(NodeId node, std::optional<Payload> payload, State& state) {
  const std::u32string& path = required<std::u32string>(state, kCurPrefix);
  // Only the root has an empty path; it is never recorded, whatever its payload.
  if (path.empty()) {
    state.put(kCurRow, root_row());
    return;
  }
  Row row = child_row(required<Row>(state, kPrevRow), path.back());
  const std::uint64_t distance = row.back();
  if (payload.has_value() && distance <= max_dist_ && !limit_reached()) {
    results_.push_back({utf8::encode(path), node, distance});
  }
  state.put(kCurRow, std::move(row));
}

void Matcher::get_children_to_visit(NodeId /*node*/, const State& state,
                                    std::span<const Child> children,
                                    std::vector<NodeVisit>& out) const {
  const Row& row = required<Row>(state, kCurRow);
  const std::u32string& path = required<std::u32string>(state, kCurPrefix);
  if (row.empty()) [[unlikely]]
    fail_none();
  // A row's smallest entry never decreases from a node to its children, so
  // once it exceeds max_dist nothing below this node can match.
  const std::uint64_t smallest = *std::min_element(row.begin(), row.end());
  if (limit_reached() || smallest > max_dist_) return;

  // The child that continues the query exactly goes first. When several
  // siblings carry that character the last of them is the one; the others
  // keep their place among the rest, so no subtree is left out.
  const std::size_t depth = path.size();
  std::optional<std::size_t> preferred;
  if (depth < query_.size()) {
    for (std::size_t i = children.size(); i-- > 0;) {
      if (children[i].ch == query_[depth]) {
        preferred = i;
        break;
      }
    }
  }

  out.reserve(children.size());
  if (preferred.has_value()) add_child(children[*preferred], row, path, out);
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (i != preferred) add_child(children[i], row, path, out);
  }
}

Matcher::Row Matcher::root_row() const {
  // The empty path is i edits away from the first i query characters.
  Row row(query_.size() + 1);
  std::iota(row.begin(), row.end(), std::uint64_t{0});
  return row;
}

// Entries are bounded by the longer of the path and the query, both far below
// 2^64, so adding 1 cannot wrap.
Matcher::Row Matcher::child_row(const Row& parent_row, char32_t ch) const {
  const std::size_t n = query_.size();
  // The loop reads the parent's entries in increasing order, so one check up
  // front fails at the same index as the first read past the end would.
  if (parent_row.size() < n + 1) [[unlikely]]
    fail_out_of_bounds(parent_row.size(), parent_row.size());

  Row row(n + 1);
  row[0] = parent_row[0] + 1;
  for (std::size_t i = 1; i <= n; ++i) {
    const std::uint64_t deleted = parent_row[i] + 1;
    const std::uint64_t inserted = row[i - 1] + 1;
    const std::uint64_t kept_or_substituted = parent_row[i - 1] + (query_[i - 1] == ch ? 0 : 1);
    row[i] = std::min({deleted, inserted, kept_or_substituted});
  }
  return row;
}

bool Matcher::limit_reached() const {
  return limit_.has_value() && results_.size() >= *limit_;
}

void Matcher::add_child(const Child& child, const Row& row, const std::u32string& path,
                        std::vector<NodeVisit>& out) const {
  NodeVisit& visit = out.emplace_back();
  visit.node = child.node;
  State& state = visit.state;
  state.put(kPrevRow, Row(row));
  std::u32string child_path;
  child_path.reserve(path.size() + 1);
  child_path.append(path);
  child_path.push_back(child.ch);
  state.put(kCurPrefix, std::move(child_path));
}

}  // namespace kelvaro
