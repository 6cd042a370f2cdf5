// Saving a trie as bytes and restoring it (the layout is in wire_format.h).
//
// The writer is canonical: every trie has exactly one encoding, and decoding
// it yields the same four arrays. The reader checks the syntax of the bytes
// and nothing else, so any byte string that decodes is a Trie, however
// malformed its arrays; the accessors catch that later, exactly as for a
// trie built from the caller's arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/decode_result.h"
#include "prefix/trie.h"

namespace kelvaro {

// The exact number of bytes that encode_trie writes.
std::size_t encoded_size(const Trie& trie);

// Writes the encoding into `out`, whose size must be encoded_size(trie).
// Lets a caller encode straight into storage it owns, such as a Python
// bytes object, without an intermediate buffer.
void encode_trie_into(const Trie& trie, std::span<std::uint8_t> out);

// Measures, allocates once at the exact size, then writes. Never fails.
std::vector<std::uint8_t> encode_trie(const Trie& trie);

// Reads a trie from the front of `input` in one forward pass; bytes after
// the fourth array are ignored. Returns the first DecodeError met, releasing
// whatever was decoded before it. A declared element count whose storage
// could not be sized at all throws InternalError "capacity overflow" before
// any of its elements is read.
DecodeResult decode_trie(std::span<const std::uint8_t> input);

}  // namespace kelvaro
