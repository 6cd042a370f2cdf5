// Suggestions: the likeliest corrections of a word, best first.
//
// The candidates are the stored words within max_dist of the word, a swap
// of neighbouring characters counting as one edit. They are ranked by
//
//   1. the stored word equal to the word itself, which is its own best
//      suggestion;
//   2. the stored words that differ from it in case alone ("Zoe" for
//      "zoe"), whatever their weight: the commonest slip of all is a name
//      typed in lower case, and no count of another word outweighs it (a
//      casefolded index stores one spelling per key, so there this never
//      applies);
//   3. in a weighted index (payloads are frequencies or weights, higher is
//      likelier), words with a weight before words without one (payload 0);
//   4. their score: the typo cost of the word for the candidate (typo_cost.h,
//      tens for one ordinary edit), less, in a weighted index, the natural
//      logarithm of the payload plus one (times kFrequencyWeight);
//   5. in a weighted index, the larger payload;
//   6. the candidate's text, by code point.
//
// The words that differ in case alone are looked up first, by a descent
// that follows every case of each character; the walks' bounds then stand
// for the other candidates only. Only the best `limit` are wanted, so the
// walks skip every subtree of the forward trie that cannot hold anything
// better than the limit-th candidate found so far: no word below a node is
// nearer than the node's least distance, each edit of which costs at least
// kLeastTypoCostPerEdit (typo_cost.h), and none is heavier than the
// heaviest payload below it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "folded/best_payloads.h"
#include "folded/compact_trie.h"
#include "prefix/queries.h"
#include "search/delete_table.h"
#include "search/sound_table.h"

namespace kelvaro {

// What a score subtracts per unit of ln(payload + 1) in a weighted index.
inline constexpr double kFrequencyWeight = 0.94;

// An index's tries and what the walks prune by: both tries tree-shaped with
// distinct, sorted siblings, and best_forward best_payloads_below of the
// forward trie. Walks of the reversed trie are not pruned: they are the
// cheap part, and its array would cost as much memory again.
struct IndexTries {
  const CompactTrie& forward;
  const CompactTrie& backward;
  PerFolded best_forward;
  // The index's sound-alike table, or none.
  const SoundTable* sounds = nullptr;
  // The table of deletions of the words, or none: the tries of a weighted
  // index's words with a weight have one, and the whole index when its
  // words are a dictionary's with a weight each (word_index.cpp says when).
  const DeleteTable* near = nullptr;
  // Whether word i of `near` is word i of `forward` (CompactTrie's
  // word_number), whose payload it then reads without a lookup.
  bool near_numbered = false;
};

// `weighted_words`, in a weighted index, may be the tries of its words with
// a weight alone (every one of them), which spare walking the others when
// the best `limit` are found among them. Each set of tries is walked as
// choose_walk says.
std::vector<Match> suggest(const IndexTries& tries, const IndexTries* weighted_words,
                           std::u32string_view word, std::uint64_t max_dist,
                           std::optional<std::uint64_t> limit, bool weighted);

}  // namespace kelvaro
