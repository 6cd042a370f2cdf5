// Real-word typos: a stored word that is likely a slip for another stored
// word one edit away, which check reports and correct replaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prefix/queries.h"
#include "text/text_index.h"

namespace kelvaro::text {

inline constexpr std::size_t kSuspectLength = 4;

// How many times likelier a word must be than the stored word written,
// when correct replaces it; check's default (the package's
// DEFAULT_SUSPECTS) is the same.
inline constexpr double kSuspectRatio = 10000;

// A stored word as the context of its neighbours (its number, which pairs
// are counted by, and its weight); none for no word.
std::optional<Context> context_of(const TextIndex& index, const Known* word);

// The stored words one plain edit from the stored key `key`, but for
// those that differ from it by an apostrophe alone: the `wanted` heaviest,
// heaviest first.
std::vector<Match> one_edit_words(const TextIndex& index, const std::u32string& key,
                                  std::uint64_t wanted);

// Whether `word` can be a suspect at all, told before its neighbours are
// searched (likelier_words says the rest): not when it is short, when the
// counts know it beside a word beside it, or, judged by weight, when it
// has none or no word can be `ratio` times as heavy (`heaviest` is the
// heaviest weight of the index).
bool may_be_suspect(const TextIndex& index, const WordCosts& costs, const Known& word,
                    const Known* before, const Known* after, double ratio, double heaviest);

// Of `neighbours` (one_edit_words of `word`), those at least `ratio` times
// as likely as `word`, at most `wanted` of them: with counts of word pairs
// and a word beside it (before or after, none for neither), in its
// context, and only words that the counts know beside each neighbour, and
// none when the counts know `word` beside either; else overall, by weight,
// and none for a word of unknown weight. A word shorter than
// kSuspectLength is never a suspect.
std::vector<Match> likelier_words(const TextIndex& index, const WordCosts& costs, const Known& word,
                                  const Known* before, const Known* after,
                                  const std::vector<Match>& neighbours, double ratio,
                                  std::uint64_t wanted);

}  // namespace kelvaro::text
