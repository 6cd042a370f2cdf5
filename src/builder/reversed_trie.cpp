#include "builder/reversed_trie.h"

#include <string>
#include <string_view>
#include <vector>

#include "builder/key_spans.h"
#include "builder/trie_builder.h"
#include "prefix/interrupt.h"
#include "prefix/utf8.h"

namespace kelvaro {

void for_each_key(const CompactTrie& trie,
                  const std::function<void(std::u32string_view, Payload)>& each) {
  // A depth-first walk along one path buffer.
  std::u32string path;
  struct Pending {
    NodeId node;
    std::size_t depth;
  };
  std::vector<Pending> pending{{0, 0}};
  InterruptCheck interrupts;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    interrupts.tick();
    path.resize(next.depth);
    if (next.depth > 0) {
      path[next.depth - 1] = trie.node_char(next.node);
      if (const std::optional<Payload> payload = trie.payload(next.node)) each(path, *payload);
    }
    const Run run = trie.run_of(next.node);
    for (std::size_t position = run.start; position < run.end; ++position)
      pending.push_back({trie.child_at(position), next.depth + 1});
  }
}

CompactTrieArrays reversed_trie(const CompactTrie& forward) {
  // Every key of the forward trie, reversed character by character, back to
  // back in one buffer.
  std::string bytes;
  std::vector<std::size_t> ends;
  std::vector<Payload> values;
  for_each_key(forward, [&](std::u32string_view key, Payload payload) {
    for (std::size_t i = key.size(); i-- > 0;) utf8::append(bytes, key[i]);
    ends.push_back(bytes.size());
    values.push_back(payload);
  });
  const std::vector<std::string_view> keys = split_at(bytes, ends);
  return compact(build_trie(keys, values).trie);
}

}  // namespace kelvaro
