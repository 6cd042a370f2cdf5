// CRC-32C, the checksum an index file ends in.
#pragma once

#include <cstdint>
#include <span>

namespace kelvaro {

// The CRC-32C (Castagnoli) of `data`, continuing from `crc`: what an index
// file of the current version ends in. The processor's instruction where it
// has one.
std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t crc = 0);
// The same, a byte at a time through a table: what crc32c is checked
// against.
std::uint32_t crc32c_portable(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace kelvaro
