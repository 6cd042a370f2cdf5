// Checking that a decoded trie has the shape the builder gives every index
// trie (see trie_builder.h), before it is trusted to a search.
//
// The shape is what makes a search safe: with child_indices = 1, 2, ..., N - 1,
// runs that follow each other in node order, and every child's id above its
// parent's, each node but the root has exactly one parent and a smaller id
// than its children, so the nodes form a tree and every walk over it ends.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "prefix/trie.h"

namespace kelvaro {

struct IndexTrieCounts {
  std::size_t nodes;
  std::size_t words;  // nodes with a payload
};

// The trie's counts, or why it does not have the shape of an index trie.
std::variant<IndexTrieCounts, std::string> check_index_trie(const Trie& trie);

}  // namespace kelvaro
