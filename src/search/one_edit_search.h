// The words one edit from a query, found where the edit can be rather than
// by a walk.
//
// A word one edit from q = q[0..n) is q with a character deleted, changed
// or inserted at some place i (or, with transpositions, two neighbours
// swapped there). Whatever the edit, q[0..i) begins a stored word and the
// rest of q after the edit ends one: a path from the root of the index's
// trie and, reversed, a path from the root of the reversed trie. So the
// search follows q down the forward trie as far as it is stored and its
// reverse down the backward trie likewise, and tries only the places
// where the two meet. A changed or inserted character must label a child
// of both the forward node of q[0..i) and the backward node of the rest:
// the two runs of children are joined, and only the characters in both
// are checked by a descent.
//
// A plain walk at one edit enters every child of every node along the
// query, and the split search every child of the node where its guard lets
// go: on a trie over thousands of characters, a hundred children or more
// below the first character. Here a place costs two runs read side by
// side, and most places are ruled out by the two descents before any run
// is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "folded/compact_trie.h"
#include "prefix/queries.h"
#include "search/split_search.h"

namespace kelvaro {

// Whether the one-edit search is expected to be faster than the split
// search for a query of this length, at one edit.
bool one_edit_pays(std::size_t query_size);

// Calls found(text, payload, distance) for every stored word within one
// edit of `query` (a swap of neighbours one edit too with
// `transpositions`), some more than once; `forward` and `backward` as
// can_split requires.
void for_each_one_edit_match(const CompactTrie& forward, const CompactTrie& backward,
                             std::u32string_view query, bool transpositions,
                             const SplitFound& found);

// What the plain walk at max_dist 1 finds, in its order, at most `limit`.
std::vector<Match> one_edit_search(const CompactTrie& forward, const CompactTrie& backward,
                                   std::u32string_view query, std::optional<std::uint64_t> limit,
                                   bool transpositions);

}  // namespace kelvaro
