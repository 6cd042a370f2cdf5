#include "codec/trie_codec.h"

#include <algorithm>
#include <cassert>
#include <optional>

#include "codec/byte_reader.h"
#include "codec/byte_writer.h"
#include "prefix/internal_error.h"
#include "prefix/interrupt.h"

namespace kelvaro {
namespace {

// ---------------------------------------------------------------------------
// Elements: one size, write and read per element type. The element type
// alone decides the encoding, so node_shifts and child_indices share one.

std::size_t element_size(std::uint32_t value) {
  return encoded_size_u32(value);
}

std::size_t element_size(OptionalChar ch) {
  return 1 + (ch.has_value() ? encoded_size_char(ch.value()) : 0);
}

std::size_t element_size(std::optional<Payload> payload) {
  return 1 + (payload ? encoded_size_u32(*payload) : 0);
}

void write_element(ByteWriter& writer, std::uint32_t value) {
  writer.write_u32(value);
}

void write_element(ByteWriter& writer, OptionalChar ch) {
  writer.write_option_tag(ch.has_value());
  if (ch.has_value()) writer.write_char(ch.value());
}

void write_element(ByteWriter& writer, std::optional<Payload> payload) {
  writer.write_option_tag(payload.has_value());
  if (payload) writer.write_u32(*payload);
}

bool read_element(ByteReader& reader, std::uint32_t& out) {
  return reader.read_u32(out);
}

// `out` arrives absent, so an absent element needs no store.
bool read_element(ByteReader& reader, OptionalChar& out) {
  bool present = false;
  if (!reader.read_option_tag(wire::kOptionalCharTypeName, present)) return false;
  if (!present) return true;
  char32_t ch = 0;
  if (!reader.read_char(ch)) return false;
  out = OptionalChar(ch);
  return true;
}

bool read_element(ByteReader& reader, std::optional<Payload>& out) {
  bool present = false;
  if (!reader.read_option_tag(wire::kOptionalPayloadTypeName, present)) return false;
  if (!present) return true;
  Payload payload = 0;
  if (!reader.read_u32(payload)) return false;
  out = payload;
  return true;
}

// ---------------------------------------------------------------------------
// Arrays: an element count, then the elements.

template <typename Element>
std::size_t array_size(const std::vector<Element>& array) {
  std::size_t size = encoded_size_u64(array.size());
  for (const Element& element : array) size += element_size(element);
  return size;
}

template <typename Element>
void write_array(ByteWriter& writer, const std::vector<Element>& array) {
  writer.write_u64(array.size());
  for (const Element& element : array) write_element(writer, element);
}

// No array may hold more than this many bytes of storage.
constexpr std::uint64_t kMaxStorageBytes = 0x7FFF'FFFF'FFFF'FFFF;

// The storage bound counts 4 bytes per shift, character and child and 8 per
// payload; it is checked with these sizes, so they must not drift.
static_assert(sizeof(OptionalChar) == 4);
static_assert(sizeof(std::optional<Payload>) == 8);

template <typename Element>
bool read_array(ByteReader& reader, std::vector<Element>& array, InterruptCheck& interrupts) {
  std::uint64_t count = 0;
  if (!reader.read_u64(count)) return false;
  if (count > kMaxStorageBytes / sizeof(Element)) fail("capacity overflow");
  // Every element takes at least one byte, so no more elements than bytes
  // left can be read. Sizing the storage by that bound keeps a short input
  // that declares a huge count from allocating more than a few times its
  // own length, and the storage never grows while the elements are read.
  const std::size_t readable = std::min<std::uint64_t>(count, reader.bytes_left());
  array.resize(readable);
  Element* out = array.data();
  // In blocks, so that a long decode answers Ctrl-C at no cost per element.
  constexpr std::size_t kBlock = 1 << 14;
  for (std::size_t block = 0; block < readable; block += kBlock) {
    interrupts.tick(kBlock / 8);
    const std::size_t end = std::min(readable, block + kBlock);
    for (std::size_t i = block; i < end; ++i) {
      if (!read_element(reader, out[i])) return false;
    }
  }
  if (readable == count) return true;
  // The count promised more elements than bytes were left, and every one
  // read so far took exactly one byte: the input is exhausted, and the next
  // read reports it.
  Element unreadable{};
  [[maybe_unused]] const bool read = read_element(reader, unreadable);
  assert(!read);
  return false;
}

}  // namespace

std::size_t encoded_size(const Trie& trie) {
  return array_size(trie.node_shifts()) + array_size(trie.node_chars()) +
         array_size(trie.node_payloads()) + array_size(trie.child_indices());
}

void encode_trie_into(const Trie& trie, std::span<std::uint8_t> out) {
  ByteWriter writer(out.data());
  write_array(writer, trie.node_shifts());
  write_array(writer, trie.node_chars());
  write_array(writer, trie.node_payloads());
  write_array(writer, trie.child_indices());
  assert(writer.position() == out.data() + out.size());
}

std::vector<std::uint8_t> encode_trie(const Trie& trie) {
  std::vector<std::uint8_t> bytes(encoded_size(trie));
  encode_trie_into(trie, bytes);
  return bytes;
}

DecodeResult decode_trie(std::span<const std::uint8_t> input) {
  ByteReader reader(input);
  std::vector<std::uint32_t> node_shifts;
  std::vector<OptionalChar> node_chars;
  std::vector<std::optional<Payload>> node_payloads;
  std::vector<NodeId> child_indices;
  InterruptCheck interrupts;
  if (!read_array(reader, node_shifts, interrupts) || !read_array(reader, node_chars, interrupts) ||
      !read_array(reader, node_payloads, interrupts) ||
      !read_array(reader, child_indices, interrupts)) {
    return reader.failure();
  }
  return Trie(std::move(node_shifts), std::move(node_chars), std::move(node_payloads),
              std::move(child_indices));
}

}  // namespace kelvaro
