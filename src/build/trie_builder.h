// Building the trie of an index from its keys.
//
// The trie has the one shape every index trie has, which the loader checks
// (index_trie_check.h):
//
//   - node ids are breadth first: the root is 0, then every node of depth 1,
//     then of depth 2, and so on;
//   - the children of a node are one run of consecutive ids, so child_indices
//     is simply 1, 2, ..., N - 1 and node_shifts[n] is where n's run starts;
//   - siblings carry distinct characters, in increasing code point order;
//   - a key's node carries the key's value as its payload.
//
// The keys "ab" (value 7), "ac" (value 9) and "b" (value 4):
//
//          0              node_shifts   [0, 2, 4, 4, 4]
//       a / \ b           node_chars    [-, a, b, b, c]
//        1   2 (4)        node_payloads [-, -, 4, 7, 9]
//     b / \ c             child_indices [1, 2, 3, 4]
//   (7) 3   4 (9)
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "build/key_pool.h"
#include "prefix/trie.h"

namespace kelvaro {

struct BuiltTrie {
  Trie trie;
  // One entry per distinct key, in the order of the keys' code points (the
  // order in which a depth-first walk of the trie meets them): the position
  // of the input key that was stored. Of equal keys, the last one is.
  std::vector<std::uint32_t> sources;
  // The stored keys in the same order.
  KeyPool keys;
};

// Builds the trie of `keys`, each well-formed UTF-8. Key i gets the payload
// values[i], or its position i when `values` is empty. Requires fewer than
// 2^32 keys, fewer than 2^32 - 1 bytes of keys in all, and `values` empty or
// of the same size as `keys`.
BuiltTrie build_trie(std::span<const std::string_view> keys, std::span<const Payload> values);

}  // namespace kelvaro
