// Which walk finds the stored words near a query: chosen here once, for
// searches and suggestions alike. Every walk finds the same words with the
// same distances; they differ only in the work it takes.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "folded/compact_trie.h"
#include "search/delete_table.h"
#include "search/one_edit_search.h"
#include "search/split_search.h"

namespace kelvaro {

enum class Walk {
  exact,      // a descent along the query
  deletions,  // a lookup of the query's deletions in a table of them
  one_edit,   // descents of both tries to the places where one edit can be
  split,      // narrow walks of both tries, one per piece of the query
  plain,      // the plain walk of the forward trie
};

// The walk for the words of `forward` within max_dist of `query`. `near` is
// the table of their deletions, if they have one; `backward` gives their
// reversed trie, and is called only when the split search would pay, since
// an index makes that trie on first need.
inline Walk choose_walk(std::u32string_view query, std::uint64_t max_dist,
                        const CompactTrie& forward, const DeleteTable* near,
                        const std::function<const CompactTrie&()>& backward) {
  // No edit to spend: the only match is the query itself, if stored.
  if (max_dist == 0) return Walk::exact;
  // Within the table's reach, a few dozen lookups find what a walk visits
  // thousands of nodes for; the walker measures each word found.
  if (near != nullptr && DeleteTable::answers(query, max_dist)) return Walk::deletions;
  // One edit in a query of up to a few dozen characters: two descents
  // along it rule out most places for the edit, and the rest cost a join
  // of two runs of children each, where a walk enters every child of the
  // nodes it passes (thousands on a large alphabet).
  if (max_dist == 1 && one_edit_pays(query.size()) && can_split(forward, backward()))
    return Walk::one_edit;
  // A query long enough for each piece to be longer than its share of the
  // edits: the guarded walks spend few edits where the trie is widest (the
  // root's word is then out of reach: see split_pays).
  if (split_pays(query.size(), max_dist) && can_split(forward, backward())) return Walk::split;
  // Short queries, and tries that cannot be split.
  return Walk::plain;
}

}  // namespace kelvaro
