// The image of an index's tries: the arrays of the compact forward trie,
// and, once made, of the reversed trie and the best payload of each folded
// node, back to back in one block of bytes that is at once what an index
// holds in memory, what its file stores and what it is pickled as. A
// mapped file is searched in place.
//
//   u64 trie count (1: the forward trie; 2: the reversed trie too)
//   per trie: u64 node count, u64 height, u64 rank width,
//             then its nine arrays (CompactTrieSpans' order), each a u64
//             count of elements and the elements, padded to 8 bytes
//   u64 count of the best payloads (0, or the forward trie's folded count)
//             and the payloads, padded to 8 bytes
//   then, each at most once, in this order, sections that images written
//   before them lack:
//     for an index that finds sound-alike words, the sound table
//     (sound_table.h): u64 1, its key trie as above, then word_starts,
//             text_ends and texts, each a u64 count and the elements, padded;
//     with the reversed trie, in a weighted index most of whose words have
//     no weight, the tries of the words with one (WeightedWordsSpans):
//             u64 2, the two tries as above, their best payloads as above,
//             and the table of their deletions (delete_table.h):
//             bucket_starts, entries, tags, text_ends and texts, each a u64
//             count and the elements, padded;
//     for an index given counts of word pairs, the pair table
//             (pair_table.h): u64 3, then its keys (u64 each) and their
//             counts (u32 each), each a u64 count and the elements, padded;
//     with the reversed trie, in a weighted index whose words have a
//             weight, the table of every word's deletions (delete_table.h),
//             its word i the trie's word number i:
//             u64 4, then bucket_starts, entries, tags, text_ends and
//             texts, each a u64 count and the elements, padded
//
// A kelvaro older than a section refuses an image that holds it, as bytes
// past its end; every image it wrote reads here as it did there.
//
// Integers are little-endian. Reading checks every count against the bytes
// there are and every trie with view_problem, so that no walk of a hostile
// image reads outside it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "folded/compact_trie.h"
#include "search/delete_table.h"
#include "search/pair_table.h"
#include "search/sound_table.h"

namespace kelvaro {

// The tries of the words with a weight alone, forward and reversed, the
// best payload of each folded node of the forward one, and the table of
// their deletions.
struct WeightedWordsSpans {
  CompactTrieSpans forward, backward;
  std::span<const Payload> best;
  DeleteTableSpans near;

  std::size_t bytes() const {
    return forward.bytes() + backward.bytes() + best.size_bytes() + near.bytes();
  }
};

struct ImageParts {
  CompactTrieSpans forward;
  std::optional<CompactTrieSpans> backward;
  std::span<const Payload> best_forward;
  std::optional<SoundTableSpans> sounds;
  std::optional<WeightedWordsSpans> weighted_words;
  std::optional<PairTableSpans> pairs;
  std::optional<DeleteTableSpans> near;
};

// The image, in 8-byte words so that it is aligned as the arrays need.
std::vector<std::uint64_t> write_image(const CompactTrieSpans& forward,
                                       const CompactTrieSpans* backward,
                                       std::span<const Payload> best_forward,
                                       const SoundTableSpans* sounds,
                                       const WeightedWordsSpans* weighted_words = nullptr,
                                       const PairTableSpans* pairs = nullptr,
                                       const DeleteTableSpans* near = nullptr);

// The bytes of an image, 8-byte aligned as read_image needs: in place, or
// copied once into `copy`.
std::span<const std::uint8_t> aligned(std::span<const std::uint8_t> bytes,
                                      std::vector<std::uint64_t>& copy);

// The parts of an image that starts 8-byte aligned, or what is wrong with it.
std::variant<ImageParts, std::string> read_image(std::span<const std::uint8_t> image);

}  // namespace kelvaro
