#include "prefix/matcher.h"

#include <limits>
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
    : query_(std::move(query)),
      band_(query_, max_dist, std::numeric_limits<std::uint64_t>::max()),
      max_dist_(max_dist),
      limit_(limit) {}

State Matcher::initial_state() const {
  State state;
  state.put(kCurPrefix, Path());
  return state;
}

void Matcher::visit_node(NodeId /*node*/, std::optional<Payload> payload, State& state) {
  const Path& path = required<Path>(state, kCurPrefix);
  interrupts_.tick(static_cast<std::uint32_t>(std::min<std::size_t>(band_.width() / 16, 1u << 20)));
  Row row(band_.stride());
  // Only the root has an empty path; it is never recorded, whatever its payload.
  if (path.empty()) {
    band_.root_row(row.data());
    state.put(kCurRow, std::move(row));
    return;
  }
  const Row& parent_row = required<Row>(state, kPrevRow);
  if (parent_row.size() < row.size()) [[unlikely]]
    fail_out_of_bounds(parent_row.size(), parent_row.size());
  band_.child_row(path.size(), path.back(), parent_row.data(), row.data());
  const Cell distance = band_.last(path.size(), row.data());
  if (payload.has_value() && distance <= max_dist_ && !limit_reached())
    results_.push_back({utf8::encode(path), payload, distance});
  state.put(kCurRow, std::move(row));
}

void Matcher::get_children_to_visit(NodeId /*node*/, const State& state,
                                    std::span<const Child> children,
                                    std::vector<NodeVisit>& out) const {
  const Row& row = required<Row>(state, kCurRow);
  const Path& path = required<Path>(state, kCurPrefix);
  if (row.size() < band_.stride()) [[unlikely]]
    fail_none();
  if (limit_reached() || band_.smallest(row.data()) > max_dist_) return;

  // The child that continues the query exactly goes first. When several
  // siblings carry that character the last of them is the one; the others
  // keep their place among the rest, so no subtree is left out.
  const std::size_t depth = path.size();
  // Past the last child when there is none.
  const std::size_t preferred =
      depth < query_.size()
          ? preferred_child(
                children.size(), [&](std::size_t i) { return children[i].ch; }, query_[depth])
                .value_or(children.size())
          : children.size();

  const auto add_child = [&](const Child& child) {
    NodeVisit& visit = out.emplace_back();
    visit.node = child.node;
    visit.state.put(kPrevRow, row);
    visit.state.put(kCurPrefix, path + child.ch);
  };
  out.reserve(children.size());
  if (preferred < children.size()) add_child(children[preferred]);
  for (std::size_t i = 0; i < children.size(); ++i) {
    if (i != preferred) add_child(children[i]);
  }
}

bool Matcher::limit_reached() const {
  return limit_.has_value() && results_.size() >= *limit_;
}

}  // namespace kelvaro
