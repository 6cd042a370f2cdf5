// The edit-distance search of an index, split into a front and a back piece.
//
// A walk of the trie must enter every child of every node where the query
// still has an edit to spend; near the root of a trie over a large alphabet
// that is thousands of nodes. A stored word within K edits of the query,
// cut into a front and a back piece, agrees closely with at least one of
// them: when w = w1 w2 is within K of q = q1 q2, the two pieces' distances
// add up to at most K, so either w1 is within a of q1 or w2 within b of q2,
// for any a + b = K - 1. The search therefore runs two narrow walks:
//   - the index's trie, guarded so that a path must come within a edits of
//     q1 before it may spend more (WalkGuard);
//   - the trie of the reversed words, with the reversed query, guarded the
//     same way with b edits for the reversed q2.
// A swap of two neighbouring characters across the cut counts once in the
// whole but once in each piece, so with transpositions a third search
// covers it: the query with the two characters at the cut swapped, one edit
// fewer, its finds measured again against the query itself.
//
// The walks find each match with its exact distance, some twice. Their
// union, ordered as the plain walk would meet it (see walk_order_less),
// and cut at the limit, is exactly the plain walk's answer.
#pragma once

#include <cstdint>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prefix/edit_row.h"
#include "prefix/queries.h"
#include "prefix/tree_walk.h"
#include "prefix/trie.h"

namespace kelvaro {

// Whether the split search can stand in for the plain walk of `forward`:
// both tries sound, and siblings in strictly increasing order, which makes
// the plain walk's order a function of the texts alone.
bool can_split(const Trie& forward, const Trie& backward);

// Whether the split search is expected to be faster than the plain walk.
bool split_pays(std::size_t query_size, std::uint64_t max_dist, std::optional<std::uint64_t> limit);

// What the plain walk with transpositions as given finds, found by the split
// search; `forward` and `backward` as can_split requires.
std::vector<Match> split_search(const Trie& forward, const Trie& backward,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions);

// The walks of the split search, for a caller that wants the matches as
// they are found: found(text, payload, distance) for each, some more than
// once, and skip(backward, node, least) may prune a node of either trie (see
// TreeWalk::run).
template <typename Found, typename Skip>
void for_each_split_match(const Trie& forward, const Trie& backward, std::u32string_view query,
                          std::uint64_t max_dist, bool transpositions, Found&& found, Skip&& skip) {
  // Two rounds at most: the query, then with transpositions the query with
  // the swap across the cut undone, for one edit fewer. A match whose best
  // alignment swaps across the cut aligns with the second query without
  // doing so, so the second round needs no third; its finds are measured
  // again against the query itself.
  std::u32string text(query);
  const std::size_t cut = query.size() / 2;
  for (std::uint64_t budget = max_dist;; --budget) {
    const bool swapped = budget != max_dist;
    const auto report = [&](std::u32string&& word, Payload payload, Cell distance) {
      if (swapped) distance = edit_distance(word, query, true);
      if (distance <= max_dist) found(std::move(word), payload, distance);
    };
    if (budget == 0) {
      if (const std::optional<NodeId> node = find_exact(forward, text))
        report(std::u32string(text), *forward.node_payloads()[*node], Cell{0});
    } else {
      // The front piece gets the smaller budget when the two differ.
      const std::uint64_t front_budget = (budget - 1) / 2;
      const std::uint64_t back_budget = budget - 1 - front_budget;
      const auto walk = [&](const Trie& trie, std::u32string_view walked, WalkGuard guard,
                            bool reversed) {
        const EditBand band(walked, budget,
                            std::max<std::uint64_t>(walked.size(), trie.height()));
        TreeWalk(trie, band, budget, transpositions, guard)
            .run(
                [&](NodeId node, std::u32string_view path, Cell distance) {
                  std::u32string word(path);
                  if (reversed) std::reverse(word.begin(), word.end());
                  report(std::move(word), *trie.node_payloads()[node], distance);
                  return true;
                },
                [&](NodeId node, Cell least) { return skip(reversed, node, least); });
      };
      walk(forward, text, {cut, front_budget}, false);
      const std::u32string reversed(text.rbegin(), text.rend());
      walk(backward, reversed, {text.size() - cut, back_budget}, true);
    }
    if (swapped || !transpositions || budget == 0 || cut < 1 || cut >= text.size() ||
        text[cut - 1] == text[cut])
      return;
    std::swap(text[cut - 1], text[cut]);
  }
}

// The order in which the plain walk of a trie with strictly increasing
// siblings meets stored texts: a text before its extensions, and at the
// first difference, the character that continues the query first, then the
// others by code point.
bool walk_order_less(std::u32string_view query, std::u32string_view a, std::u32string_view b);

}  // namespace kelvaro
