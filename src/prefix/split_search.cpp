#include "prefix/split_search.h"

#include <algorithm>
#include <utility>

#include "prefix/edit_row.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

struct Found {
  std::u32string text;
  Payload payload;
  Cell distance;
};

// One guarded walk of `trie`; the texts of a reversed trie come back the
// right way round.
void guarded_walk(const Trie& trie, std::u32string_view query, std::uint64_t max_dist,
                  bool transpositions, WalkGuard guard, bool reversed, std::vector<Found>& out) {
  const EditBand band(query, max_dist, std::max<std::uint64_t>(query.size(), trie.height()));
  TreeWalk walk(trie, band, max_dist, transpositions, guard);
  walk.run([&](NodeId node, std::u32string_view path, Cell distance) {
    Found& found = out.emplace_back(Found{std::u32string(path), *trie.node_payloads()[node], distance});
    if (reversed) std::reverse(found.text.begin(), found.text.end());
    return true;
  });
}

void collect(const Trie& forward, const Trie& backward, std::u32string_view query,
             std::uint64_t max_dist, bool transpositions, std::vector<Found>& out) {
  if (max_dist == 0) {
    if (const std::optional<NodeId> node = find_exact(forward, query))
      out.push_back({std::u32string(query), *forward.node_payloads()[*node], 0});
    return;
  }
  // The front piece gets the smaller budget: the forward trie is walked
  // first and its pieces are never longer.
  const std::size_t cut = query.size() / 2;
  const std::uint64_t front_budget = (max_dist - 1) / 2;
  const std::uint64_t back_budget = max_dist - 1 - front_budget;
  guarded_walk(forward, query, max_dist, transpositions, {cut, front_budget}, false, out);
  const std::u32string reversed(query.rbegin(), query.rend());
  guarded_walk(backward, reversed, max_dist, transpositions, {query.size() - cut, back_budget},
               true, out);
  // A swap across the cut: the query with it undone, one edit fewer.
  if (transpositions && cut >= 1 && cut < query.size() && query[cut - 1] != query[cut]) {
    std::u32string swapped(query);
    std::swap(swapped[cut - 1], swapped[cut]);
    std::vector<Found> more;
    collect(forward, backward, swapped, max_dist - 1, true, more);
    for (Found& found : more) {
      found.distance = edit_distance(found.text, query, true);
      if (found.distance <= max_dist) out.push_back(std::move(found));
    }
  }
}

}  // namespace

bool can_split(const Trie& forward, const Trie& backward) {
  return forward.is_sound() && backward.is_sound() && forward.siblings_distinct() &&
         backward.siblings_distinct();
}

bool split_pays(std::size_t query_size, std::uint64_t max_dist,
                std::optional<std::uint64_t> /*limit*/) {
  // Each piece must be longer than its budget, or its guard holds from the
  // root and the walk is a whole plain walk.
  return max_dist >= 1 && max_dist <= query_size / 2;
}

bool walk_order_less(std::u32string_view query, std::u32string_view a, std::u32string_view b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  if (i == a.size()) return i != b.size();
  if (i == b.size()) return false;
  const bool a_continues = i < query.size() && a[i] == query[i];
  const bool b_continues = i < query.size() && b[i] == query[i];
  if (a_continues != b_continues) return a_continues;
  return a[i] < b[i];
}

std::vector<Match> split_search(const Trie& forward, const Trie& backward,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions) {
  std::vector<Found> found;
  collect(forward, backward, query, max_dist, transpositions, found);
  std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) {
    return walk_order_less(query, a.text, b.text);
  });
  // Equal texts are the same match, found twice.
  found.erase(std::unique(found.begin(), found.end(),
                          [](const Found& a, const Found& b) { return a.text == b.text; }),
              found.end());
  if (limit.has_value() && found.size() > *limit) found.resize(*limit);
  std::vector<Match> matches;
  matches.reserve(found.size());
  for (const Found& each : found) matches.push_back({utf8::encode(each.text), each.payload, each.distance});
  return matches;
}

}  // namespace kelvaro
