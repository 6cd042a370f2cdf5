#include "format/word_table.h"

#include <algorithm>
#include <cstring>

#include "bits/little_endian.h"
#include "codec/byte_reader.h"

namespace kelvaro {
namespace {

constexpr std::size_t kWordSize = 4;
constexpr std::uint64_t kMaxOffset = 0xFFFFFFFF;

std::size_t header_size(std::uint64_t count) {
  return kWordSize * (count + 2);
}

}  // namespace

bool words_well_formed(std::span<const std::uint8_t> text, const std::uint8_t* offsets,
                       std::uint64_t count) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.size() - i >= 8) {
      std::uint64_t eight;
      std::memcpy(&eight, text.data() + i, 8);
      if ((eight & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    if (text[i] < 0x80) {
      ++i;
      continue;
    }
    ByteReader reader(text.subspan(i));
    char32_t ch;
    if (!reader.read_char(ch)) return false;
    i = text.size() - reader.bytes_left();
  }
  for (std::uint64_t word = 1; word < count; ++word) {
    const std::uint32_t start = le::load_u32(offsets + kWordSize * word);
    if (start < text.size() && (text[start] & 0xC0) == 0x80) return false;
  }
  return true;
}

std::optional<std::size_t> word_table_size(std::span<const std::string_view> words) {
  std::uint64_t text = 0;
  for (std::string_view word : words) text += word.size();
  if (words.size() > kMaxOffset || text > kMaxOffset) return std::nullopt;
  return header_size(words.size()) + text;
}

void write_word_table(std::span<const std::string_view> words, std::span<std::uint8_t> out) {
  std::uint8_t* offsets = out.data() + kWordSize;
  std::uint8_t* text = out.data() + header_size(words.size());
  le::store_u32(static_cast<std::uint32_t>(words.size()), out.data());
  std::uint32_t offset = 0;
  le::store_u32(offset, offsets);
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::copy(words[i].begin(), words[i].end(), text + offset);
    offset += static_cast<std::uint32_t>(words[i].size());
    le::store_u32(offset, offsets + kWordSize * (i + 1));
  }
}

std::optional<std::string> word_table_problem(std::span<const std::uint8_t> table) {
  if (table.size() < header_size(0)) return "shorter than its header";
  const std::uint64_t count = le::load_u32(table.data());
  const std::size_t text_start = header_size(count);
  if (table.size() < text_start) return "shorter than its offsets";
  const std::uint8_t* offsets = table.data() + kWordSize;
  const std::span<const std::uint8_t> text = table.subspan(text_start);
  if (le::load_u32(offsets) != 0) return "the first offset is not 0";
  // The whole text at once first; word by word only to say which word is
  // wrong, or which offset.
  bool checked_whole = false;
  for (;;) {
    std::uint32_t start = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint32_t end = le::load_u32(offsets + kWordSize * (i + 1));
      if (end < start || end > text.size()) return "offsets out of order";
      if (checked_whole && !is_well_formed_utf8(text.subspan(start, end - start)))
        return "word " + std::to_string(i) + " is not well-formed UTF-8";
      start = end;
    }
    if (start != text.size()) return "bytes after the last word";
    if (checked_whole || words_well_formed(text, offsets, count)) return std::nullopt;
    checked_whole = true;
  }
}

std::uint32_t word_table_count(std::span<const std::uint8_t> table) {
  return le::load_u32(table.data());
}

}  // namespace kelvaro

namespace kelvaro {

std::string_view word_table_word(std::span<const std::uint8_t> table, std::uint32_t i) {
  const std::size_t text = 4 * (std::size_t{word_table_count(table)} + 2);
  const std::size_t start = le::load_u32(table.data() + 4 + 4 * std::size_t{i});
  const std::size_t end = le::load_u32(table.data() + 8 + 4 * std::size_t{i});
  // Held inside the table whatever the offsets say, so that a table that
  // was not checked can give wrong words but never read outside itself.
  const std::size_t size = table.size() - text;
  const std::size_t first = std::min(start, size);
  return std::string_view(reinterpret_cast<const char*>(table.data()) + text + first,
                          std::min(std::max(end, first), size) - first);
}

bool word_table_fits(std::span<const std::uint8_t> table) {
  return table.size() >= 8 && table.size() >= 4 * (std::size_t{word_table_count(table)} + 2);
}

std::optional<std::string_view> word_beside_key(std::span<const std::uint8_t> keys,
                                                std::span<const std::uint8_t> words,
                                                std::string_view key) {
  std::uint32_t low = 0;
  std::uint32_t high = word_table_count(keys);
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (word_table_word(keys, middle) < key)
      low = middle + 1;
    else
      high = middle;
  }
  if (low == word_table_count(keys) || word_table_word(keys, low) != key) return std::nullopt;
  return word_table_word(words, low);
}

}  // namespace kelvaro
