// Checking a text: the words an index does not hold, and the stored words
// that are likely typos of a far commoner word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
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
  // Read the text as code (text/code_tokens.h) rather than as prose.
  bool code = false;
  // Whether a word not stored is given suggestions; without, it is
  // reported with none and nothing is searched for it (suspects keep
  // their likelier words).
  bool suggest_unknown = true;
};

// How often each stored word was read, one unsigned 32-bit count per word
// in the index's word order (WordIndex::word_number), in the caller's
// memory, which need not be aligned. A count stops at its largest value.
// Only one check may add to the same counts at a time.
class WordCounts {
 public:
  explicit WordCounts(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size() / sizeof(std::uint32_t); }
  void add(std::uint32_t number) {
    // A number past the end (a file whose count of words disagrees with its
    // trie) counts nowhere rather than writing outside the caller's memory.
    if (number >= size()) return;
    std::uint8_t* at = bytes_.data() + std::size_t{number} * sizeof(std::uint32_t);
    std::uint32_t count;
    std::memcpy(&count, at, sizeof count);
    if (count == UINT32_MAX) return;
    ++count;
    std::memcpy(at, &count, sizeof count);
  }

 private:
  std::span<std::uint8_t> bytes_;
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
// stored is checked part by part. With `counts` (as many as the index has
// words), each word read that is stored adds one to its word's count.
std::vector<Finding> check_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                                const CheckOptions& options, WordCounts* counts = nullptr);

}  // namespace kelvaro::text
