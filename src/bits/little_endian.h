// Arrays of unsigned 32-bit integers as little-endian bytes: the form in
// which the builder trades positions, lengths and values with Python
// (array('I') on every host kelvaro runs on) and in which the word table
// stores its offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvaro::le {

inline std::uint32_t load_u32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

inline void store_u32(std::uint32_t value, std::uint8_t* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The integers of `bytes`, whose size must be a multiple of four.
inline std::vector<std::uint32_t> load_u32_array(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint32_t> values(bytes.size() / 4);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = load_u32(bytes.data() + 4 * i);
  return values;
}

}  // namespace kelvaro::le
