// The sections of a saved index checked against each other, so that a file
// whose checksum matches but whose parts tell different stories is refused
// before it answers a single lookup.
//
// The story they must tell: the trie's words, in the order of a walk that
// enters children in character order, are the keys of the word table, one
// per word, in the table's order. A word is its own key unless the spelling
// tables pair it with another: they list, in the same order, every key that
// normalisation made out of a different word, and that word.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "prefix/trie.h"

namespace kelvaro {

// A word table that word_table_problem() found well formed, read in place.
class WordTableView {
 public:
  explicit WordTableView(std::span<const std::uint8_t> table);

  std::uint32_t size() const { return count_; }
  std::string_view operator[](std::uint32_t index) const;

 private:
  std::span<const std::uint8_t> table_;
  std::uint32_t count_;
  const std::uint8_t* text_;
};

// Texts joined into one, the way the builder takes them from Python: with
// newlines between them, or, when a text holds a newline itself, back to
// back with the length of each in characters.
struct JoinedText {
  std::string text;
  std::optional<std::vector<std::uint32_t>> char_lengths;
};

// Which words, with their keys, a caller that checks the normalisation too
// wants to see.
enum class WordsWanted {
  kNone,
  kEvery,
  // Those that a case mapping could change or could have made: a word that
  // is its own key and holds nothing but ASCII other than capital letters
  // is what lower() and casefold() make of it, and is left out.
  kCased,
};

struct WordsAndKeys {
  std::size_t count = 0;
  JoinedText words;
  JoinedText keys;
};

// Why the sections disagree, or nothing when they agree. The trie must have
// the shape of an index trie (check_index_trie) and the tables must be well
// formed. `out` receives the words that `wanted` asks for and their keys.
std::optional<std::string> index_sections_problem(const Trie& trie, const WordTableView& words,
                                                  const WordTableView& spelling_keys,
                                                  const WordTableView& spelling_words,
                                                  WordsWanted wanted, WordsAndKeys& out);

}  // namespace kelvaro
