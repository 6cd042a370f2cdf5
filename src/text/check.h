// Checking a text: the words an index does not hold, and the stored words
// that are likely typos of a far commoner word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "prefix/queries.h"
#include "text/real_word_typos.h"
#include "text/text_index.h"

namespace kelvaro::text {

struct CheckOptions {
  std::uint64_t max_dist = 2;
  std::optional<std::uint64_t> limit = 3;
  // In a weighted index, a stored word of kSuspectLength characters or more
  // is a suspect when a word one plain edit away (a swap of neighbours is
  // two; sound-alikes and farther words never count) is at least this many
  // times as likely. With counts of word pairs and a stored word beside it,
  // likely means in its context, between the words beside it (the
  // candidate must be counted beside one of them); else, overall, by
  // weight, and then words of unknown weight (0) are never suspects: they
  // are not known to be rare. 0 turns suspects off. Shorter words are never
  // suspects: each lies one edit from dozens of common words ("ord" from
  // "or", "tut" from "but"), and is far likelier an abbreviation than a
  // typo.
  double suspect_ratio = 0;
};

struct Finding {
  std::size_t start;
  std::size_t end;
  // A stored word that is likely a typo, rather than a word not stored.
  bool suspect;
  // Best first: for a suspect, only the far commoner words.
  std::vector<Match> suggestions;
};

// The findings in `views`, in text order. A hyphenated word that is not
// stored is checked part by part.
std::vector<Finding> check_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                                const CheckOptions& options);

}  // namespace kelvaro::text
