// Counting the set bits of a word, for the rank directories of the folded
// tries.
#pragma once

#include <bit>
#include <cstdint>

namespace kelvaro {

// The set bits of a word. Without the processor's instruction (the baseline
// x86-64 that the package builds for has none), std::popcount is a call into
// the compiler's runtime; a few shifts and masks inline cost less.
inline unsigned count_bits(std::uint64_t word) {
#if defined(__POPCNT__) || !defined(__x86_64__)
  return static_cast<unsigned>(std::popcount(word));
#else
  word -= (word >> 1) & 0x5555555555555555u;
  word = (word & 0x3333333333333333u) + ((word >> 2) & 0x3333333333333333u);
  word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<unsigned>((word * 0x0101010101010101u) >> 56);
#endif
}

}  // namespace kelvaro
