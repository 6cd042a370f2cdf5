#include "bits/crc32c.h"

#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace kelvaro {

namespace {

// A software CRC of a bit-reflected polynomial, a byte at a time through a
// table.
template <std::uint32_t Polynomial>
struct CrcTable {
  std::uint32_t entries[256];
  constexpr CrcTable() : entries() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i;
      for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ Polynomial : crc >> 1;
      entries[i] = crc;
    }
  }
  std::uint32_t run(const std::uint8_t* p, std::size_t n, std::uint32_t crc) const {
    for (std::size_t i = 0; i < n; ++i) crc = entries[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc;
  }
};
constexpr CrcTable<0x82F63B78u> kCrc32cTable;
constexpr CrcTable<0xEDB88320u> kCrc32Table;

std::uint32_t crc32c_bytes(const std::uint8_t* p, std::size_t n, std::uint32_t crc) {
  return kCrc32cTable.run(p, n, crc);
}

// The CRC of `crc` followed by n zero bytes, as a multiplication by
// x^(8n) modulo the polynomial, bit-reflected like the CRC itself.
std::uint32_t multiply_mod_p(std::uint32_t a, std::uint32_t b) {
  std::uint32_t product = 0;
  for (std::uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
    if (a & bit) product ^= b;
    b = b & 1 ? (b >> 1) ^ 0x82F63B78u : b >> 1;
  }
  return product;
}

#if defined(__x86_64__)
// Three streams of kStream bytes side by side keep the instruction's
// pipeline full (one result every cycle, where one stream waits three);
// each block's three CRCs are joined by shifting the first two past the
// bytes after them.
constexpr std::size_t kStream = 4096;

__attribute__((target("sse4.2"))) std::uint64_t crc32c_u64(std::uint64_t crc,
                                                           const std::uint8_t* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return _mm_crc32_u64(crc, word);
}

__attribute__((target("sse4.2"))) std::uint32_t crc32c_sse42(const std::uint8_t* p, std::size_t n,
                                                             std::uint32_t crc) {
  // x^(8 kStream) and x^(16 kStream): the CRC of the polynomial 1 (the top
  // bit, reflected) followed by that many zero bytes.
  static const std::uint32_t shift_one = [] {
    const std::vector<std::uint8_t> zeros(kStream, 0);
    return crc32c_bytes(zeros.data(), zeros.size(), 0x80000000u);
  }();
  static const std::uint32_t shift_two = multiply_mod_p(shift_one, shift_one);
  std::uint64_t c = crc;
  while (n >= 3 * kStream) {
    std::uint64_t c1 = 0, c2 = 0;
    for (std::size_t i = 0; i < kStream; i += 8) {
      c = crc32c_u64(c, p + i);
      c1 = crc32c_u64(c1, p + kStream + i);
      c2 = crc32c_u64(c2, p + 2 * kStream + i);
    }
    c = multiply_mod_p(shift_two, static_cast<std::uint32_t>(c)) ^
        multiply_mod_p(shift_one, static_cast<std::uint32_t>(c1)) ^ c2;
    p += 3 * kStream;
    n -= 3 * kStream;
  }
  for (; n >= 8; n -= 8, p += 8) c = crc32c_u64(c, p);
  std::uint32_t rest = static_cast<std::uint32_t>(c);
  for (; n > 0; --n, ++p) rest = _mm_crc32_u8(rest, *p);
  return rest;
}
#endif

}  // namespace

std::uint32_t crc32c_portable(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return ~crc32c_bytes(data.data(), data.size(), ~crc);
}

std::uint32_t crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  return ~kCrc32Table.run(data.data(), data.size(), ~crc);
}

std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t crc) {
  // The processor's instruction, where it has one; the table otherwise.
#if defined(__x86_64__)
  if (__builtin_cpu_supports("sse4.2")) return ~crc32c_sse42(data.data(), data.size(), ~crc);
#endif
  return crc32c_portable(data, crc);
}

}  // namespace kelvaro
