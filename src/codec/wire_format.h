// The byte-level vocabulary of the saved trie, shared by writer and reader.
//
// A saved trie is its four arrays in declared order, each as an element
// count followed by the elements, with nothing before, between or after:
//
//   count | node_shifts      each a variable-length integer
//   count | node_chars       each an option tag, then the UTF-8 character
//   count | node_payloads    each an option tag, then a variable-length integer
//   count | child_indices    each a variable-length integer
//
// A variable-length integer is a marker byte, then 0, 2, 4 or 8 bytes of
// little-endian value:
//
//   marker 0..250   the value is the marker itself
//   marker 251      a 16-bit value follows
//   marker 252      a 32-bit value follows
//   marker 253      a 64-bit value follows (only counts may need one)
//   marker 254      a 128-bit value; never written, always refused
//   marker 255      reserved; never written, always refused
//
// The writer always picks the shortest form; the reader accepts longer ones.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvaro::wire {

inline constexpr std::uint8_t kMaxSingleByteValue = 250;
inline constexpr std::uint8_t kMarkerU16 = 251;
inline constexpr std::uint8_t kMarkerU32 = 252;
inline constexpr std::uint8_t kMarkerU64 = 253;
inline constexpr std::uint8_t kMarkerU128 = 254;

inline constexpr std::uint8_t kTagAbsent = 0;
inline constexpr std::uint8_t kTagPresent = 1;

// The names under which a bad option tag is reported, one per optional
// array.
inline constexpr std::string_view kOptionalCharTypeName = "core::option::Option<char>";
inline constexpr std::string_view kOptionalPayloadTypeName = "core::option::Option<u32>";

}  // namespace kelvaro::wire
