#include "search/split_search.h"

#include <algorithm>
#include <utility>

#include "prefix/edit_row.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

struct Found {
  std::u32string text;
  Payload payload;
  Cell distance;
};

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
  for_each_split_match(
      forward, backward, query, max_dist, transpositions,
      [&](std::u32string&& text, Payload payload, Cell distance) {
        found.push_back({std::move(text), payload, distance});
      },
      [](bool, NodeId, Cell) { return false; });
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
