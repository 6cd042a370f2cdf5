// Completion: the stored words that begin, give or take a few edits, with
// what has been typed so far.
//
// A stored word w completes `prefix` within K edits when some beginning of
// it, w[:k] for k from 0 to len(w), is within K edits of the prefix; its
// distance is the least such. In the trie that is the least, over the nodes
// on the word's path from the root, of the edit distance between the node's
// path text and the whole prefix: the last cell of the node's row (see
// EditBand). With the words "ax" and "b" and the prefix "ab":
//
//         root      "" against "ab": 2
//        a/  \b
//        1    1     "a" and "b" against "ab": 1 each
//       x|
//        2          "ax" against "ab": 2, but "ax" completes "ab" with 1
//
// The ten best completions of a one-letter prefix sit among nearly every
// word of the dictionary, so they cannot come from listing all completions:
// the search is best first, and stops once nothing it has not yet looked at
// can come before the last completion it wants.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "folded/best_payloads.h"
#include "prefix/queries.h"

namespace kelvaro {

// A completion is a match like any other: the word's path text in UTF-8,
// its payload and its distance.
using Completion = Match;

// Every stored word (a node with a payload, the root's empty word too) that
// completes `prefix` within max_dist edits, ordered by (distance, -payload,
// text) when `weighted` and by (distance, text) otherwise, texts compared by
// code point; at most `limit` of them, all for none. `trie` must be tree-shaped,
// with the siblings of every run distinct and sorted (as the index builder
// makes them), and `best` must be best_payloads_below(trie). With
// `transpositions`, a swap of neighbouring characters is one edit (the
// optimal string alignment distance).
std::vector<Completion> complete(const CompactTrie& trie, PerFolded best,
                                 std::u32string_view prefix, std::uint64_t max_dist,
                                 std::optional<std::uint64_t> limit, bool weighted,
                                 bool transpositions);

}  // namespace kelvaro
