// A forward-only cursor over untrusted bytes.
//
// Every read either stores its value and returns true, or records why it
// failed and returns false. The decoder stops at the first false, so a
// reader never continues past a failure and the recorded failure is always
// the first one. Reads check the bytes left exactly once per value, and the
// common case of each read (a single-byte integer, an ASCII character) is
// decided by its first byte alone; the rarer forms live out of line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "codec/decode_error.h"
#include "codec/wire_format.h"

namespace kelvaro {

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> input)
      : pos_(input.data()), end_(input.data() + input.size()) {}

  // A reader holds a position into someone else's bytes; a copy would let
  // two positions drift apart unnoticed.
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  std::size_t bytes_left() const { return static_cast<std::size_t>(end_ - pos_); }

  // A variable-length integer in the 32-bit reading (markers up to 252).
  [[nodiscard]] bool read_u32(std::uint32_t& out) { return read_varint(out); }

  // A variable-length integer in the 64-bit reading (markers up to 253).
  [[nodiscard]] bool read_u64(std::uint64_t& out) { return read_varint(out); }

  // An option tag; `type_name` names the optional type in the failure.
  [[nodiscard]] bool read_option_tag(std::string_view type_name, bool& present) {
    if (pos_ == end_) [[unlikely]]
      return fail(UnexpectedEnd{1});
    const std::uint8_t tag = *pos_;
    if (tag > wire::kTagPresent) [[unlikely]]
      return fail(UnexpectedVariant{type_name, Range{0, 1}, tag});
    ++pos_;
    present = tag == wire::kTagPresent;
    return true;
  }

  // One strictly well-formed UTF-8 character.
  [[nodiscard]] bool read_char(char32_t& out) {
    if (pos_ == end_) [[unlikely]]
      return fail(UnexpectedEnd{1});
    if (*pos_ < 0x80) [[likely]] {
      out = *pos_++;
      return true;
    }
    return read_multibyte_char(out);
  }

  // Why the last read returned false.
  const DecodeError& failure() const { return *failure_; }

 private:
  // UInt selects the reading: std::uint32_t refuses the 64-bit marker,
  // std::uint64_t accepts it.
  template <typename UInt>
  bool read_varint(UInt& out) {
    if (pos_ == end_) [[unlikely]]
      return fail(UnexpectedEnd{1});
    const std::uint8_t marker = *pos_++;
    if (marker <= wire::kMaxSingleByteValue) [[likely]] {
      out = marker;
      return true;
    }
    if (marker == wire::kMarkerU16) return read_little_endian<2>(out);
    if (marker == wire::kMarkerU32) return read_little_endian<4>(out);
    if constexpr (sizeof(UInt) == 8) {
      if (marker == wire::kMarkerU64) return read_little_endian<8>(out);
    }
    return fail_integer_type(sizeof(UInt) == 8 ? IntegerType::U64 : IntegerType::U32, marker);
  }

  // Byte by byte, so the input is read as little-endian on any host;
  // compilers merge the loads into one.
  template <std::size_t Width, typename UInt>
  bool read_little_endian(UInt& out) {
    static_assert(Width <= sizeof(UInt));
    if (bytes_left() < Width) [[unlikely]]
      return fail(UnexpectedEnd{Width - bytes_left()});
    UInt value = 0;
    for (std::size_t i = 0; i < Width; ++i) value |= UInt{pos_[i]} << (8 * i);
    pos_ += Width;
    out = value;
    return true;
  }

  bool read_multibyte_char(char32_t& out);
  [[gnu::cold]] bool fail_integer_type(IntegerType expected, std::uint8_t marker);
  [[gnu::cold]] bool fail(DecodeError error);

  const std::uint8_t* pos_;
  const std::uint8_t* end_;
  std::optional<DecodeError> failure_;
};

// Whether `bytes` are well-formed UTF-8, read as the reader reads characters.
bool is_well_formed_utf8(std::span<const std::uint8_t> bytes);

}  // namespace kelvaro
