#include "codec/byte_reader.h"

namespace kelvaro {
namespace {

// How many bytes a character occupies, judged by its first byte; 0 for a
// byte that can never start a well-formed sequence (a continuation byte,
// the overlong leads C0 and C1, and leads beyond U+10FFFF).
std::size_t utf8_width(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

bool in_range(std::uint8_t byte, std::uint8_t low, std::uint8_t high) {
  return low <= byte && byte <= high;
}

// Every byte after the lead is a continuation byte; after four particular
// leads the second byte's range narrows, which shuts out the overlong
// three- and four-byte forms (E0, F0), the surrogates (ED) and everything
// beyond U+10FFFF (F4).
bool is_well_formed(const std::uint8_t* bytes, std::size_t width) {
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  switch (bytes[0]) {
    case 0xE0:
      low = 0xA0;
      break;
    case 0xED:
      high = 0x9F;
      break;
    case 0xF0:
      low = 0x90;
      break;
    case 0xF4:
      high = 0x8F;
      break;
  }
  if (!in_range(bytes[1], low, high)) return false;
  for (std::size_t i = 2; i < width; ++i) {
    if (!in_range(bytes[i], 0x80, 0xBF)) return false;
  }
  return true;
}

// The lead keeps 7 - width payload bits, each continuation byte six.
char32_t scalar_value(const std::uint8_t* bytes, std::size_t width) {
  char32_t value = bytes[0] & (0x7F >> width);
  for (std::size_t i = 1; i < width; ++i) value = (value << 6) | (bytes[i] & 0x3F);
  return value;
}

IntegerType announced_type(std::uint8_t marker) {
  switch (marker) {
    case wire::kMarkerU64:
      return IntegerType::U64;
    case wire::kMarkerU128:
      return IntegerType::U128;
    default:
      return IntegerType::Reserved;
  }
}

}  // namespace

bool ByteReader::read_multibyte_char(char32_t& out) {
  const std::size_t width = utf8_width(*pos_);
  if (width == 0) return fail(InvalidCharEncoding{{*pos_, 0, 0, 0}});
  if (bytes_left() < width) return fail(UnexpectedEnd{width - bytes_left()});
  if (!is_well_formed(pos_, width)) {
    InvalidCharEncoding error{{0, 0, 0, 0}};
    for (std::size_t i = 0; i < width; ++i) error.bytes[i] = pos_[i];
    return fail(error);
  }
  out = scalar_value(pos_, width);
  pos_ += width;
  return true;
}

bool ByteReader::fail_integer_type(IntegerType expected, std::uint8_t marker) {
  return fail(InvalidIntegerType{expected, announced_type(marker)});
}

bool ByteReader::fail(DecodeError error) {
  failure_ = error;
  return false;
}

bool is_well_formed_utf8(std::span<const std::uint8_t> bytes) {
  ByteReader reader(bytes);
  char32_t ch;
  while (reader.bytes_left() > 0) {
    if (!reader.read_char(ch)) return false;
  }
  return true;
}

}  // namespace kelvaro
