// The sound-alike table of an index: the stored words that have a sound key
// (sound_key.h), found by their keys.
//
// The distinct keys make a compact trie whose payload for a key is its
// ordinal among them, in code point order; key k's words are texts
// word_starts[k] to word_starts[k + 1] - 1, text i being the bytes from
// text_ends[i - 1] (0 for the first) to text_ends[i]. The texts are the
// words as the index stores them, ASCII letters and apostrophes, each key's
// in code point order. A word's key is shorter than the word, so the table
// holds less than the words themselves and the key trie.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "folded/compact_trie.h"

namespace kelvaro {

struct SoundTableSpans {
  CompactTrieSpans keys;
  std::span<const std::uint32_t> word_starts;  // one per key, and one more
  std::span<const std::uint32_t> text_ends;    // one per word
  std::span<const std::uint8_t> texts;

  std::size_t bytes() const {
    return keys.bytes() + word_starts.size_bytes() + text_ends.size_bytes() + texts.size_bytes();
  }
};

struct SoundTableArrays {
  CompactTrieArrays keys;
  std::vector<std::uint32_t> word_starts;
  std::vector<std::uint32_t> text_ends;
  std::vector<std::uint8_t> texts;

  SoundTableSpans spans() const;
};

// The table of the words of `forward` that have a key. Interruptible.
SoundTableArrays make_sound_table(const CompactTrie& forward);

// What is wrong with a table read from outside, or nothing: after this, no
// lookup reads outside it. Its words are not trusted to be stored words:
// the index looks each one up.
std::optional<std::string> sound_table_problem(const SoundTableSpans& spans);

class SoundTable {
 public:
  // `spans` must have passed sound_table_problem, or come from
  // make_sound_table.
  explicit SoundTable(const SoundTableSpans& spans);

  // Calls each(word) for every word whose key is `key`; the word is valid
  // during the call.
  void for_each_sounding(const std::string& key,
                         const std::function<void(std::u32string_view)>& each) const;

  std::size_t word_count() const { return spans_.text_ends.size(); }
  const SoundTableSpans& spans() const { return spans_; }

 private:
  SoundTableSpans spans_;
  CompactTrie keys_;
};

}  // namespace kelvaro
