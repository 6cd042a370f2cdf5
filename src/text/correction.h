// Correcting a text: each word the index does not hold replaced by the
// likeliest of its readings, which are
//   - its best suggestion, at the typo's cost (typo_cost.h) plus the
//     suggested word's cost (WordCosts), unless the suggestion only drops
//     a stored word from its start or end, which a cut reads better;
//   - its segmentation into stored words, when it is words run together,
//     as typed or each with one edit, at their costs plus a space's
//     (kSpaceCost) for each space left out;
//   - joined with its neighbour across the blanks between them, when the
//     two are a stored word (or, with one of them not stored, a word within
//     one edit) split by a space typed too many, at that word's cost and a
//     space's;
//   - the word as written, at the cost of a piece that is no word.
// A dynamic program over the words takes the cheapest reading of the
// whole. A stored word is never changed but by joining it to a neighbour,
// and two stored words only when the word they make is likelier by more
// than a space's cost than the two ("wit h", "mo re"; never "in to" or
// "a part"): a text with no misspelling otherwise comes back as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/text_index.h"

namespace kelvaro::text {

// A word of a replacement: a stored key, or with none, the text from start
// to end as written. The key also takes its case from that text.
struct Replacement {
  std::size_t start;
  std::size_t end;
  std::optional<std::u32string> key;
};

// The text from start to end becomes its replacements, a space between
// each two.
struct Edit {
  std::size_t start;
  std::size_t end;
  std::vector<Replacement> words;
};

std::vector<Edit> correct_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                               std::uint64_t max_dist);

}  // namespace kelvaro::text
