// The checksums an index file ends in: CRC-32C in the current version,
// CRC-32 in the first.
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

// The CRC-32 of zlib and PNG (polynomial 0x04C11DB7), a byte at a time:
// what a file of the first version ends in, read only when such a file is.
std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace kelvaro
