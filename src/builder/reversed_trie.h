// The trie of an index's keys written backwards.
//
// A search that splits its query into a front and a back piece can start
// from either end of the stored words: from the front in the index's own
// trie, from the back in this one. Each key's node carries the same payload
// as in the forward trie.
#pragma once

#include <functional>
#include <string_view>

#include "prefix/compact_trie.h"

namespace kelvaro {

CompactTrieArrays reversed_trie(const CompactTrie& forward);

// Calls each(key, payload) for every stored key but the empty one, in no
// particular order; it can be interrupted (interrupt.h).
void for_each_key(const CompactTrie& trie,
                  const std::function<void(std::u32string_view, Payload)>& each);

}  // namespace kelvaro
