// The trie of an index's keys written backwards.
//
// A search that splits its query into a front and a back piece can start
// from either end of the stored words: from the front in the index's own
// trie, from the back in this one. Each key's node carries the same payload
// as in the forward trie.
#pragma once

#include "folded/compact_trie.h"

namespace kelvaro {

CompactTrieArrays reversed_trie(const CompactTrie& forward);

}  // namespace kelvaro
