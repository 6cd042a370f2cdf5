// UTF-8 for texts that are known to be well formed: the interpreter's UTF-8
// form of a str, and the path texts that the matcher builds from characters.
// The binary format reads untrusted bytes and validates them itself.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvaro::utf8 {

constexpr std::size_t encoded_length(char32_t ch) {
  return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
}

// Writes the encoding of `ch` at `out` and returns the end of what it wrote.
inline char* encode(char32_t ch, char* out) {
  if (ch < 0x80) {
    *out++ = static_cast<char>(ch);
  } else if (ch < 0x800) {
    *out++ = static_cast<char>(0xC0 | (ch >> 6));
    *out++ = static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (ch >> 12));
    *out++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (ch >> 18));
    *out++ = static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (ch & 0x3F));
  }
  return out;
}

inline void append(std::string& out, char32_t ch) {
  char buffer[4];
  out.append(buffer, encode(ch, buffer));
}

inline std::string encode(std::u32string_view text) {
  std::size_t length = 0;
  for (char32_t ch : text) length += encoded_length(ch);
  std::string out;
  out.resize(length);
  char* cursor = out.data();
  for (char32_t ch : text) cursor = encode(ch, cursor);
  return out;
}

// Decodes the character that starts at `text[pos]` and advances `pos` past it.
inline char32_t decode_next(std::string_view text, std::size_t& pos) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  char32_t lead = byte(pos);
  if (lead < 0x80) {
    pos += 1;
    return lead;
  }
  if (lead < 0xE0) {
    char32_t ch = ((lead & 0x1F) << 6) | (byte(pos + 1) & 0x3F);
    pos += 2;
    return ch;
  }
  if (lead < 0xF0) {
    char32_t ch = ((lead & 0x0F) << 12) | ((byte(pos + 1) & 0x3F) << 6) | (byte(pos + 2) & 0x3F);
    pos += 3;
    return ch;
  }
  char32_t ch = ((lead & 0x07) << 18) | ((byte(pos + 1) & 0x3F) << 12) |
                ((byte(pos + 2) & 0x3F) << 6) | (byte(pos + 3) & 0x3F);
  pos += 4;
  return ch;
}

inline std::u32string decode(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) out.push_back(decode_next(text, pos));
  return out;
}

}  // namespace kelvaro::utf8
