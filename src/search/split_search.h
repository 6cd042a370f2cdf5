// The edit-distance search of an index, split into pieces.
//
// A walk of the trie must enter every child of every node where the query
// still has an edit to spend; near the root of a trie over a large alphabet
// that is thousands of nodes. A stored word within K edits of the query,
// cut where the query is cut, agrees closely with at least one piece: when
// w = w1 w2 is within K of q = q1 q2, the two pieces' distances add up to
// at most K, so either w1 is within a of q1 or w2 within b of q2, for any
// a + b = K - 1. The search therefore runs narrow walks:
//   - the index's trie, guarded so that a path must come within a edits of
//     q1 before it may spend more (WalkGuard);
//   - the trie of the reversed words, with the reversed query, guarded the
//     same way with b edits for the reversed q2.
// At two edits, on a trie whose root is wide or for a query too short to be
// halved, the query is cut in three, q1 q2 q3, one piece of which a match
// holds exactly: q1 (a forward walk guarded with no edit), q3 (a
// backward one), or q2 with one edit in each of the others (a forward walk
// guarded twice: one edit through q1, one through q1 q2).
//
// A swap of two neighbouring characters across a cut counts once in the
// whole but once in each piece, so with transpositions the search runs
// again for the query with the swaps at the cuts undone, an edit fewer for
// each, its finds measured again against the query itself.
//
// The walks find each match with its exact distance, some twice. Their
// union, ordered as the plain walk would meet it (see walk_order_less),
// and cut at the limit, is exactly the plain walk's answer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folded/compact_trie.h"
#include "prefix/edit_row.h"
#include "prefix/queries.h"
#include "prefix/tree_walk.h"

namespace kelvaro {

// Whether the split search can stand in for the plain walk of `forward`:
// both tries tree-shaped, and siblings in strictly increasing order, which makes
// the plain walk's order a function of the texts alone.
bool can_split(const CompactTrie& forward, const CompactTrie& backward);

// Whether the split search is expected to be faster than the plain walk.
bool split_pays(std::size_t query_size, std::uint64_t max_dist);

// What the plain walk with transpositions as given finds, found by the split
// search; `forward` and `backward` as can_split requires.
std::vector<Match> split_search(const CompactTrie& forward, const CompactTrie& backward,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions);

// The walks of the split search, for a caller that wants the matches as
// they are found: found(text, payload, distance) for each, some more than
// once, and skip(backward, node, least) may prune a node of either trie (see
// TreeWalk::run).
using SplitFound = std::function<void(std::u32string&&, Payload, Cell)>;
using SplitSkip = std::function<bool(bool, CompactTrie::Place, Cell)>;
void for_each_split_match(const CompactTrie& forward, const CompactTrie& backward,
                          std::u32string_view query, std::uint64_t max_dist, bool transpositions,
                          const SplitFound& found, const SplitSkip& skip);

// The plain walk of `trie` (tree-shaped), for a caller that wants the matches as
// they are found, with the same found and skip as for_each_split_match
// (skip's first argument always false).
void for_each_walk_match(const CompactTrie& trie, std::u32string_view query, std::uint64_t max_dist,
                         bool transpositions, const SplitFound& found, const SplitSkip& skip);

// The order in which the plain walk of a trie with strictly increasing
// siblings meets stored texts: a text before its extensions, and at the
// first difference, the character that continues the query first, then the
// others by code point.
bool walk_order_less(std::u32string_view query, std::u32string_view a, std::u32string_view b);

// A stored text that a search standing in for the plain walk found.
struct FoundText {
  std::u32string text;
  Payload payload;
  Cell distance;
};

// What the plain walk returns, from the finds of a search that stands in
// for it: in its order, each text once, at most `limit` of them.
std::vector<Match> in_walk_order(std::u32string_view query, std::vector<FoundText> found,
                                 std::optional<std::uint64_t> limit);

}  // namespace kelvaro
