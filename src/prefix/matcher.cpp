#include "prefix/matcher.h"

#include <numeric>
#include <utility>

#include "prefix/edit_row.h"
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
  state.put(kCurPrefix, Path());
  return state;
}

void Matcher::visit_node(NodeId node, std::optional<Payload> payload, State& state) {
  const Path& path = required<Path>(state, kCurPrefix);
  // Only the root has an empty path; it is never recorded, whatever its payload.
  if (path.empty()) {
    state.put(kCurRow, root_row());
    return;
  }
  Row row = child_row(required<Row>(state, kPrevRow), path.back());
  const std::uint64_t distance = row.back();
  if (payload.has_value() && distance <= max_dist_ && !limit_reached()) {
    results_.push_back(
        {utf8::encode(std::u32string_view(path.data(), path.size())), node, distance});
  }
  state.put(kCurRow, std::move(row));
}

bool Matcher::enters_children(const State& state) const {
  const Row& row = required<Row>(state, kCurRow);
  // Read as get_children_to_visit reads it, so that both fail alike.
  required<Path>(state, kCurPrefix);
  if (row.empty()) [[unlikely]]
    fail_none();
  return !limit_reached() && smallest_entry(row.data(), row.size()) <= max_dist_;
}

void Matcher::get_children_to_visit(NodeId /*node*/, const State& state,
                                    std::span<const Child> children,
                                    std::vector<NodeVisit>& out) const {
  if (!enters_children(state)) return;
  const Row& row = required<Row>(state, kCurRow);
  const Path& path = required<Path>(state, kCurPrefix);

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
  Row row = Row::uninitialized(recycler_.get(), query_.size() + 1);
  std::iota(row.begin(), row.end(), std::uint64_t{0});
  return row;
}

Matcher::Row Matcher::child_row(const Row& parent_row, char32_t ch) const {
  // The row is computed from the parent's entries in increasing order, so
  // one check up front fails at the same index as the first read past the
  // end would.
  if (parent_row.size() < query_.size() + 1) [[unlikely]]
    fail_out_of_bounds(parent_row.size(), parent_row.size());
  Row row = Row::uninitialized(recycler_.get(), query_.size() + 1);
  fill_child_row(parent_row.data(), query_, ch, row.data());
  return row;
}

bool Matcher::limit_reached() const {
  return limit_.has_value() && results_.size() >= *limit_;
}

void Matcher::add_child(const Child& child, const Row& row, const Path& path,
                        std::vector<NodeVisit>& out) const {
  NodeVisit& visit = out.emplace_back();
  visit.node = child.node;
  visit.state.put(kPrevRow, Row::copy_of(recycler_.get(), row));
  visit.state.put(kCurPrefix, Path::extended(recycler_.get(), path, child.ch));
}

}  // namespace kelvaro
