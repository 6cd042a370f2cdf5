#include "build/key_spans.h"

#include <numeric>

namespace kelvaro {
namespace {

// The width of the character that starts with `lead`, in well-formed UTF-8.
std::size_t width_of(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Every byte but a continuation byte starts a character.
std::size_t count_characters(std::string_view text) {
  std::size_t count = 0;
  for (char byte : text) count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  return count;
}

// All characters are one byte wide, so character lengths are byte lengths.
std::vector<std::string_view> split_ascii(std::string_view text,
                                          std::span<const std::uint32_t> lengths) {
  std::vector<std::string_view> keys;
  keys.reserve(lengths.size());
  std::size_t pos = 0;
  for (std::uint32_t length : lengths) {
    keys.push_back(text.substr(pos, length));
    pos += length;
  }
  return keys;
}

std::optional<std::vector<std::string_view>> split_utf8(std::string_view text,
                                                        std::span<const std::uint32_t> lengths) {
  std::vector<std::string_view> keys;
  keys.reserve(lengths.size());
  std::size_t pos = 0;
  for (std::uint32_t length : lengths) {
    const std::size_t start = pos;
    for (std::uint32_t i = 0; i < length; ++i) {
      if (pos >= text.size()) return std::nullopt;
      pos += width_of(static_cast<unsigned char>(text[pos]));
    }
    if (pos > text.size()) return std::nullopt;
    keys.push_back(text.substr(start, pos - start));
  }
  if (pos != text.size()) return std::nullopt;
  return keys;
}

}  // namespace

std::optional<std::vector<std::string_view>> split_keys(
    std::string_view text, std::span<const std::uint32_t> char_lengths) {
  const std::uint64_t claimed =
      std::accumulate(char_lengths.begin(), char_lengths.end(), std::uint64_t{0});
  const std::size_t characters = count_characters(text);
  if (claimed != characters) return std::nullopt;
  if (characters == text.size()) return split_ascii(text, char_lengths);
  return split_utf8(text, char_lengths);
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> keys;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    keys.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  keys.push_back(text.substr(start));
  return keys;
}

std::vector<std::string_view> split_at(std::string_view text, std::span<const std::size_t> ends) {
  std::vector<std::string_view> keys;
  keys.reserve(ends.size());
  for (std::size_t i = 0, start = 0; i < ends.size(); start = ends[i++])
    keys.push_back(text.substr(start, ends[i] - start));
  return keys;
}

}  // namespace kelvaro
