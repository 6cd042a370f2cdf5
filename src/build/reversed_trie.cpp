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
  ends.reserve(forward.payloads().size());
  values.reserve(forward.payloads().size());
  for_each_key(forward, [&](std::u32string_view key, Payload payload) {
    for (std::size_t i = key.size(); i-- > 0;) utf8::append(bytes, key[i]);
    ends.push_back(bytes.size());
    values.push_back(payload);
  });
  Trie trie = [&] {
    const std::vector<std::string_view> keys = split_at(bytes, ends);
    return std::move(build_trie(keys, values).trie);
  }();
  // The keys and the builder's scratch go before the compact arrays are
  // made, so that these can take the memory that they held: freed later,
  // below arrays that live as long as the index, it would stay with the
  // process (the allocator returns only the top of its heap), as much
  // again as the tables themselves.
  std::string().swap(bytes);
  std::vector<std::size_t>().swap(ends);
  std::vector<Payload>().swap(values);
  return compact(trie);
}

}  // namespace kelvaro
