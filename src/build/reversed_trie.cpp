#include "build/reversed_trie.h"

#include <string>
#include <string_view>
#include <vector>

#include "build/key_spans.h"
#include "build/trie_builder.h"
#include "prefix/interrupt.h"
#include "prefix/utf8.h"

namespace kelvaro {

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
