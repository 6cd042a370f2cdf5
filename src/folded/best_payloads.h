// The heaviest payload at or below each node of a folded trie: what
// completion orders the subtrees it has yet to enter by, and what
// suggestions and running text prune by.
#pragma once

#include <span>
#include <vector>

#include "folded/compact_trie.h"

namespace kelvaro {

// A table of one value per folded node, read per node: what lies at or
// below a node inside a label is what lies below its label's end.
class PerFolded {
 public:
  PerFolded() = default;
  PerFolded(const CompactTrie& trie, std::span<const Payload> values)
      : trie_(&trie), values_(values) {}
  Payload operator[](NodeId node) const { return values_[trie_->folded_of(node)]; }
  Payload operator[](CompactTrie::Place place) const { return values_[place.folded]; }
  bool empty() const { return values_.empty(); }
  std::span<const Payload> values() const { return values_; }

 private:
  const CompactTrie* trie_ = nullptr;
  std::span<const Payload> values_;
};

// Per folded node of a compact trie: the largest payload at or below it, 0
// when there is none, 4 bytes a folded node (read per node through
// PerFolded). It is what a weighted search orders the subtrees it has yet to
// enter by.
std::vector<Payload> best_payloads_below(const CompactTrie& trie);

}  // namespace kelvaro
