// Writing the canonical forms of integers, option tags and characters.
//
// The encoder measures first and writes second, so the sizes here and the
// writes below must agree byte for byte; each size sits next to its write.
// The writer trusts its buffer to be large enough and never checks: the
// size pass already proved it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/wire_format.h"
#include "prefix/utf8.h"

namespace kelvaro {

// 1, 3 or 5 bytes. Branch-free, because the size pass runs it over every
// node and the three forms mix unpredictably in real tries.
constexpr std::size_t encoded_size_u32(std::uint32_t value) {
  return 1 + 2 * std::size_t{value > wire::kMaxSingleByteValue} + 2 * std::size_t{value > 0xFFFF};
}

// 1, 3, 5 or 9 bytes; only element counts use it.
constexpr std::size_t encoded_size_u64(std::uint64_t value) {
  return value > 0xFFFFFFFF ? 9 : encoded_size_u32(static_cast<std::uint32_t>(value));
}

constexpr std::size_t encoded_size_char(char32_t ch) {
  return utf8::encoded_length(ch);
}

class ByteWriter {
 public:
  explicit ByteWriter(std::uint8_t* out) : pos_(out) {}

  std::uint8_t* position() const { return pos_; }

  void write_u32(std::uint32_t value) {
    if (value <= wire::kMaxSingleByteValue) {
      *pos_++ = static_cast<std::uint8_t>(value);
    } else if (value <= 0xFFFF) {
      *pos_++ = wire::kMarkerU16;
      write_little_endian<2>(value);
    } else {
      *pos_++ = wire::kMarkerU32;
      write_little_endian<4>(value);
    }
  }

  void write_u64(std::uint64_t value) {
    if (value <= 0xFFFFFFFF) {
      write_u32(static_cast<std::uint32_t>(value));
    } else {
      *pos_++ = wire::kMarkerU64;
      write_little_endian<8>(value);
    }
  }

  void write_option_tag(bool present) { *pos_++ = present ? wire::kTagPresent : wire::kTagAbsent; }

  void write_char(char32_t ch) {
    // Bytes and chars share storage and alias freely, so the UTF-8 writer
    // for texts serves here too.
    pos_ = reinterpret_cast<std::uint8_t*>(utf8::encode(ch, reinterpret_cast<char*>(pos_)));
  }

 private:
  // Byte by byte, so the output is little-endian on any host; compilers
  // merge the stores into one.
  template <std::size_t Width>
  void write_little_endian(std::uint64_t value) {
    for (std::size_t i = 0; i < Width; ++i) pos_[i] = static_cast<std::uint8_t>(value >> (8 * i));
    pos_ += Width;
  }

  std::uint8_t* pos_;
};

}  // namespace kelvaro
