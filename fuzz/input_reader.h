// InputReader: the fuzzer's bytes read as a stream of small decisions.
//
// Each decision takes one byte, or five for the rare escaped forms, and an
// exhausted input reads as zeros, so every byte string is a valid input and
// a short one still describes something. Values are drawn mostly from narrow
// ranges (node ids near the trie's size, a handful of characters) so that
// random bytes make runs that meet, collide and nest; the escape byte 0xFF
// reaches the extremes. make_seeds.py writes the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>

#include "prefix/trie.h"

namespace kelvaro::fuzz {

class InputReader {
 public:
  explicit InputReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::uint8_t byte() { return position_ < bytes_.size() ? bytes_[position_++] : 0; }

  // 0xFF and then four bytes, little-endian, for any value; otherwise the
  // byte itself, so that small values cost one byte.
  std::uint32_t u32() {
    const std::uint8_t first = byte();
    return first == kEscape ? little_endian(4) : first;
  }

  // Mostly at most `bound` + 1, so that ids and run limits land inside
  // their arrays or just past them: the byte taken modulo `bound` + 2. The
  // escape reaches any value.
  std::uint32_t u32_near(std::uint32_t bound) {
    const std::uint8_t first = byte();
    return first == kEscape ? little_endian(4)
                            : static_cast<std::uint32_t>(first % (std::uint64_t{bound} + 2));
  }

  // 0 for none, 1..0x7F for that ASCII character, 0x80..0xFE for one of a
  // few characters of every UTF-8 width, 0xFF and three bytes for any
  // Unicode scalar value.
  OptionalChar optional_char() {
    const std::uint8_t first = byte();
    if (first == 0) return OptionalChar();
    if (first < 0x80) return OptionalChar(first);
    if (first != kEscape) return OptionalChar(kWideChars[first % std::size(kWideChars)]);
    return OptionalChar(scalar_value(little_endian(3)));
  }

  // 0 for none, 0xFF and four bytes for any payload, otherwise the byte less one.
  std::optional<Payload> optional_payload() {
    const std::uint8_t first = byte();
    if (first == 0) return std::nullopt;
    return first == kEscape ? little_endian(4) : first - 1u;
  }

 private:
  static constexpr std::uint8_t kEscape = 0xFF;

  std::uint32_t little_endian(int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= std::uint32_t{byte()} << (8 * i);
    return value;
  }

  static constexpr char32_t kWideChars[] = {U'\u00e9', U'\u07ff',     U'\u0800',     U'\u20ac',
                                            U'\uffff', U'\U00010000', U'\U0001f600', U'\U0010ffff'};

  // Folds any 24-bit value onto the scalar values: beyond U+10FFFF wraps
  // around, and a surrogate moves past the surrogate block.
  static char32_t scalar_value(std::uint32_t value) {
    value %= 0x110000;
    if (value >= 0xD800 && value <= 0xDFFF) value += 0x800;
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

}  // namespace kelvaro::fuzz
