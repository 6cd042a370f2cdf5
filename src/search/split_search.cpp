#include "search/split_search.h"

#include <algorithm>
#include <utility>

#include "prefix/edit_row.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

// One round: the walks for `text` within `budget`, then the rounds for the
// swaps across its cuts. Matches are reported against `query`, which the
// rounds for swapped texts measure again.
void split_round(const CompactTrie& forward, const CompactTrie& backward, std::u32string_view query,
                 std::uint64_t max_dist, const std::u32string& text, std::uint64_t budget,
                 bool transpositions, const SplitFound& found, const SplitSkip& skip) {
  const bool swapped = text != query;
  const auto report = [&](std::u32string&& word, Payload payload, Cell distance) {
    if (swapped) distance = edit_distance(word, query, true);
    if (distance <= max_dist) found(std::move(word), payload, distance);
  };
  if (budget == 0) {
    if (const auto node = find_exact(forward, text))
      report(std::u32string(text), *forward.payload(*node), Cell{0});
    return;
  }
  const auto walk = [&](const CompactTrie& trie, std::u32string_view walked, WalkGuards guards,
                        bool reversed) {
    const EditBand band(walked, budget, std::max<std::uint64_t>(walked.size(), trie.height()));
    TreeWalk(trie, band, budget, transpositions, guards)
        .run(
            [&](CompactTrie::Place node, std::u32string_view path, Cell distance) {
              std::u32string word(path);
              if (reversed) std::reverse(word.begin(), word.end());
              report(std::move(word), *trie.payload(node), distance);
              return true;
            },
            [&](CompactTrie::Place node, Cell least) { return skip(reversed, node, least); });
  };
  const std::size_t n = text.size();
  const std::u32string reversed(text.rbegin(), text.rend());
  std::vector<std::size_t> cuts;
  // Three pieces where two would leave a piece with an edit to spend right
  // at the root of a wide trie, or would not fit the query at all; on a
  // narrow trie with room for two, two pieces make fewer walks.
  constexpr std::size_t kWideRoot = 64;
  if (budget == 2 && n >= 3 && (n < 4 || forward.run_of(0).size() > kWideRoot)) {
    cuts = {n / 3, 2 * n / 3};
    walk(forward, text, {WalkGuard{cuts[0], 0}}, false);
    walk(backward, reversed, {WalkGuard{n - cuts[1], 0}}, true);
    walk(forward, text, {WalkGuard{cuts[0], 1}, WalkGuard{cuts[1], 1}}, false);
  } else {
    // The front piece gets the smaller budget when the two differ.
    cuts = {n / 2};
    const std::uint64_t front_budget = (budget - 1) / 2;
    walk(forward, text, {WalkGuard{cuts[0], front_budget}}, false);
    walk(backward, reversed, {WalkGuard{n - cuts[0], budget - 1 - front_budget}}, true);
  }
  if (!transpositions) return;
  // Every set of cuts whose swaps change the text and do not overlap, one
  // edit each.
  for (unsigned chosen = 1; chosen < (1u << cuts.size()); ++chosen) {
    std::u32string swapped_text(text);
    std::uint64_t swaps = 0;
    std::size_t last_cut = 0;
    bool usable = true;
    for (std::size_t i = 0; i < cuts.size() && usable; ++i) {
      if (!(chosen >> i & 1)) continue;
      const std::size_t cut = cuts[i];
      usable =
          cut >= 1 && cut < n && text[cut - 1] != text[cut] && (swaps == 0 || cut >= last_cut + 2);
      if (!usable) break;
      std::swap(swapped_text[cut - 1], swapped_text[cut]);
      last_cut = cut;
      ++swaps;
    }
    if (usable && swaps <= budget)
      split_round(forward, backward, query, max_dist, swapped_text, budget - swaps, true, found,
                  skip);
  }
}

}  // namespace

void for_each_split_match(const CompactTrie& forward, const CompactTrie& backward,
                          std::u32string_view query, std::uint64_t max_dist, bool transpositions,
                          const SplitFound& found, const SplitSkip& skip) {
  split_round(forward, backward, query, max_dist, std::u32string(query), max_dist, transpositions,
              found, skip);
}

void for_each_walk_match(const CompactTrie& trie, std::u32string_view query, std::uint64_t max_dist,
                         bool transpositions, const SplitFound& found, const SplitSkip& skip) {
  const EditBand band(query, max_dist, std::max<std::uint64_t>(query.size(), trie.height()));
  TreeWalk(trie, band, max_dist, transpositions)
      .run(
          [&](CompactTrie::Place node, std::u32string_view path, Cell distance) {
            found(std::u32string(path), *trie.payload(node), distance);
            return true;
          },
          [&](CompactTrie::Place node, Cell least) { return skip(false, node, least); });
}

bool can_split(const CompactTrie& forward, const CompactTrie& backward) {
  return !forward.empty() && !backward.empty();
}

bool split_pays(std::size_t query_size, std::uint64_t max_dist) {
  // Each piece must be longer than its budget, or its guard holds from the
  // root and the walk is a whole plain walk. Two edits cut the query in
  // three, each piece held to no edit in one of the walks. Either way the
  // query is longer than max_dist, so the root's empty word is out of
  // reach, and no walk of a split search ever has to report it.
  return max_dist >= 1 && (max_dist <= query_size / 2 || (max_dist == 2 && query_size >= 3));
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

std::vector<Match> in_walk_order(std::u32string_view query, std::vector<FoundText> found,
                                 std::optional<std::uint64_t> limit) {
  // walk_order_less, read off where each text leaves the query: a text
  // that the query begins with (the query itself among them) comes before
  // every other, the shorter first; the others by where they leave the
  // query, latest first, then by the character they leave it with. Texts
  // that leave the query at the same place with the same character, a
  // few at most, are compared whole. The sort moves numbers, not texts.
  struct Place {
    std::uint64_t leaves;
    std::uint32_t index;
  };
  std::vector<Place> order;
  order.reserve(found.size());
  for (std::uint32_t i = 0; i < found.size(); ++i) {
    const std::u32string& text = found[i].text;
    const std::size_t common = static_cast<std::size_t>(
        std::mismatch(text.begin(), text.end(), query.begin(), query.end()).first - text.begin());
    const std::uint64_t leaves =
        common == text.size()
            ? common
            : std::uint64_t{1} << 63 | (std::uint64_t{0x7FFFFFFF} - common) << 32 | text[common];
    order.push_back({leaves, i});
  }
  std::sort(order.begin(), order.end(), [&](const Place& a, const Place& b) {
    if (a.leaves != b.leaves) return a.leaves < b.leaves;
    return walk_order_less(query, found[a.index].text, found[b.index].text);
  });
  // Equal texts are the same match, found twice.
  order.erase(std::unique(order.begin(), order.end(),
                          [&](const Place& a, const Place& b) {
                            return found[a.index].text == found[b.index].text;
                          }),
              order.end());
  if (limit.has_value() && order.size() > *limit) order.resize(*limit);
  std::vector<Match> matches;
  matches.reserve(order.size());
  for (const Place& place : order) {
    const FoundText& each = found[place.index];
    matches.push_back({utf8::encode(each.text), each.payload, each.distance});
  }
  return matches;
}

std::vector<Match> split_search(const CompactTrie& forward, const CompactTrie& backward,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions) {
  std::vector<FoundText> found;
  for_each_split_match(
      forward, backward, query, max_dist, transpositions,
      [&](std::u32string&& text, Payload payload, Cell distance) {
        found.push_back({std::move(text), payload, distance});
      },
      [](bool, CompactTrie::Place, Cell) { return false; });
  return in_walk_order(query, std::move(found), limit);
}

}  // namespace kelvaro
