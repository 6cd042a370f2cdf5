// The word table of an index: its words, in the index's order, laid out so
// that word i can be read without reading the words before it. All integers
// are unsigned 32-bit little-endian.
//
//   count                 the number of words
//   offsets[count + 1]    offsets[0] = 0, never decreasing; word i is
//                         text[offsets[i] .. offsets[i + 1])
//   text                  the words' UTF-8, back to back
//
// Loading a table is then one slice per section and nothing per word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kelvaro {

// The bytes of the table of `words`; nothing when their text would not fit
// 32-bit offsets.
std::optional<std::size_t> word_table_size(std::span<const std::string_view> words);

// Writes that table into `out`, whose size must be word_table_size().
void write_word_table(std::span<const std::string_view> words, std::span<std::uint8_t> out);

// Why `table` is not a well-formed word table, or nothing when it is.
// Well formed: the sections fit the bytes exactly, the offsets never
// decrease, and every word is well-formed UTF-8.
std::optional<std::string> word_table_problem(std::span<const std::uint8_t> table);

// The number of words of a well-formed table.
std::uint32_t word_table_count(std::span<const std::uint8_t> table);

}  // namespace kelvaro

namespace kelvaro {

// Whether the table's count and offsets fit its bytes: enough for reading
// words with word_table_word, which a table of any other shape may not be
// given.
bool word_table_fits(std::span<const std::uint8_t> table);

// Word i, below the count, of a table that fits.
std::string_view word_table_word(std::span<const std::uint8_t> table, std::uint32_t i);

// In two tables that fit and have the same count, `keys` in increasing byte
// order: the word of `words` beside `key` in `keys`, or nothing when `keys`
// does not hold it. A binary search, so that giving a few results their
// spellings costs a few comparisons each.
std::optional<std::string_view> word_beside_key(std::span<const std::uint8_t> keys,
                                                std::span<const std::uint8_t> words,
                                                std::string_view key);

// Whether every word of a table whose `count` offsets (from `offsets`) are
// in order is well-formed UTF-8, judged on the whole text at once: it is,
// exactly when the text is and no word starts inside a character. Runs of
// ASCII go eight bytes at a time, which makes checking the words of a
// mapped index a few ms. word_table_problem asks this first.
bool words_well_formed(std::span<const std::uint8_t> text, const std::uint8_t* offsets,
                       std::uint64_t count);

}  // namespace kelvaro
