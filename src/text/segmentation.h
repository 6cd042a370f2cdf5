// Word segmentation: the likeliest way to cut text written without spaces
// into words, "thequickbrownfox" into "the quick brown fox".
//
// A dynamic program over the positions of the text: the cost of a cut is
// the sum of its words' costs (WordCosts: minus the log of each word's
// probability), and the best cut ending at each position is extended by
// every word that starts there. The words that start at a position are
// found by one descent of the trie along the text, so the work is the
// text's length times the longest word. A piece that is no word costs
// more than any word, so the text is always cut somehow.
//
// With max_dist above 0 a piece may also be a stored word within max_dist
// edits of it, at the word's cost plus the typo's (typo_cost.h), found by a
// walk of the trie with an edit-distance row per node from each position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/text_index.h"

namespace kelvaro::text {

struct Piece {
  std::size_t start;
  std::size_t end;
  // The stored word the piece is, or none for a piece that is no word.
  std::optional<Known> word;
  // The edits between the piece and the word.
  std::uint64_t distance = 0;
};

struct Segmentation {
  std::vector<Piece> pieces;
  double cost = 0;
};

// The likeliest cut of the text from start to end, each piece costing
// `piece_cost` on top of its word: a corrector that weighs a cut against
// the text as typed counts the spaces it puts in.
Segmentation segment_span(const TextIndex& index, TextViews views, std::size_t start,
                          std::size_t end, const WordCosts& costs, std::uint64_t max_dist,
                          double piece_cost = 0);

struct SegmentedWord {
  std::size_t start;
  std::size_t end;
  std::vector<Piece> pieces;
};

// Every word of the text (hyphens and everything else that is not a letter
// cut it) that is better cut, or with max_dist, corrected: the words that
// stay as they are written are left out.
std::vector<SegmentedWord> segment_text(const TextIndex& index, TextViews views,
                                        const WordCosts& costs, std::uint64_t max_dist);

}  // namespace kelvaro::text
