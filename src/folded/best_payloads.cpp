#include "folded/best_payloads.h"

#include <algorithm>

namespace kelvaro {

std::vector<Payload> best_payloads_below(const CompactTrie& trie) {
  const std::size_t count = trie.folded_count();
  std::vector<Payload> best(count, 0);
  // Children are numbered after their parent: backwards, every child comes
  // before its parent.
  for (std::size_t k = count; k-- > 0;) {
    Payload largest = trie.folded_payload(k).value_or(0);
    const Run children = trie.folded_children(k);
    for (std::size_t j = children.start; j < children.end; ++j)
      largest = std::max(largest, best[j]);
    best[k] = largest;
  }
  return best;
}

}  // namespace kelvaro
