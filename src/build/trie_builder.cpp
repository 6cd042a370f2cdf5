#include "build/trie_builder.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string>

#include "build/key_pool.h"
#include "prefix/internal_error.h"
#include "prefix/interrupt.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

// ---------------------------------------------------------------------------
// Ordering the keys.

// Eight bytes of a key from `start` on as one big-endian integer,
// zero-padded, so that comparing two of them compares those bytes in order.
std::uint64_t bytes_at(std::string_view key, std::size_t start) {
  std::uint64_t value = 0;
  for (std::size_t i = start; i < start + 8; ++i)
    value = value << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0);
  return value;
}

// A key's first sixteen bytes, and its position.
struct SortEntry {
  std::uint64_t head;
  std::uint64_t tail;
  std::uint32_t position;
};

// The positions of the keys in code point order, equal keys in input order.
// UTF-8 bytes compared as unsigned values order texts by code point, which
// is what string_view's comparison does. Word lists usually arrive sorted,
// and then nothing is sorted at all. Otherwise each entry carries the key's
// leading bytes, which settle nearly every comparison without a visit to
// the keys themselves, scattered as they are in shuffled input.
std::vector<std::uint32_t> sorted_positions(std::span<const std::string_view> keys) {
  std::vector<std::uint32_t> positions(keys.size());
  std::iota(positions.begin(), positions.end(), std::uint32_t{0});
  if (std::is_sorted(keys.begin(), keys.end())) return positions;

  std::vector<SortEntry> entries(keys.size());
  for (std::uint32_t i = 0; i < keys.size(); ++i)
    entries[i] = {bytes_at(keys[i], 0), bytes_at(keys[i], 8), i};
  std::sort(entries.begin(), entries.end(), [&](const SortEntry& a, const SortEntry& b) {
    if (a.head != b.head) return a.head < b.head;
    if (a.tail != b.tail) return a.tail < b.tail;
    // Zero padding makes "ab" and "ab\0" alike here; the keys tell them apart.
    const int order = keys[a.position].compare(keys[b.position]);
    return order != 0 ? order < 0 : a.position < b.position;
  });
  for (std::size_t i = 0; i < entries.size(); ++i) positions[i] = entries[i].position;
  return positions;
}

// Of each run of equal keys, the position of the last one: a later key
// replaces an earlier equal one.
std::vector<std::uint32_t> last_of_equal_keys(std::span<const std::string_view> keys,
                                              const std::vector<std::uint32_t>& positions) {
  std::vector<std::uint32_t> kept;
  kept.reserve(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const bool replaced_by_next =
        i + 1 < positions.size() && keys[positions[i]] == keys[positions[i + 1]];
    if (!replaced_by_next) kept.push_back(positions[i]);
  }
  return kept;
}

// ---------------------------------------------------------------------------
// Laying out the nodes.

// A node waiting for its children: the keys that pass through it (a run of
// the sorted distinct keys, all sharing the node's path text) and the byte
// length of that path text.
struct PendingNode {
  std::uint32_t first_key;
  std::uint32_t end_key;
  std::uint32_t depth;
};

// Whether `key` has the bytes that `model` has from `depth` up to `end`.
// Keys that share a node's path text differ only from `depth` on, and a
// character is at most four bytes, so this is a loop of one to four steps
// rather than a call to memcmp.
bool continues_with(std::string_view key, std::size_t depth, std::string_view model,
                    std::size_t end) {
  if (key.size() < end) return false;
  for (std::size_t i = depth; i < end; ++i) {
    if (key[i] != model[i]) return false;
  }
  return true;
}

bool is_continuation_byte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The number of nodes of the trie of the sorted distinct keys: the root,
// plus for each key one node per character after the characters it shares
// with the key before it. Counting first lets every array be allocated
// once, at its final size.
std::size_t count_nodes(const KeyPool& keys) {
  std::size_t nodes = 1;
  std::string_view previous;
  for (std::uint32_t i = 0; i < keys.size(); ++i) {
    const std::string_view key = keys.key(i);
    std::size_t shared = 0;
    while (shared < previous.size() && shared < key.size() && previous[shared] == key[shared])
      ++shared;
    // Back to the start of a character: keys that share only the first bytes
    // of a character do not share the character.
    while (shared > 0 && shared < key.size() && is_continuation_byte(key[shared])) --shared;
    for (std::size_t pos = shared; pos < key.size(); ++pos)
      nodes += !is_continuation_byte(key[pos]);
    previous = key;
  }
  return nodes;
}

class LevelOrderBuilder {
 public:
  explicit LevelOrderBuilder(const KeyPool& keys) : keys_(keys) {
    const std::size_t nodes = count_nodes(keys);
    pending_.reserve(nodes);
    node_shifts_.reserve(nodes);
    node_chars_.reserve(nodes);
    node_payloads_.reserve(nodes);
    pending_.push_back({0, static_cast<std::uint32_t>(keys.size()), 0});
    node_chars_.push_back(OptionalChar());
  }

  // Visits the nodes in id order; each visit appends the node's children,
  // which is what makes ids breadth first and every child run contiguous.
  template <typename PayloadOf>
  Trie build(PayloadOf payload_of) {
    InterruptCheck interrupts;
    for (std::size_t node = 0; node < pending_.size(); ++node) {
      interrupts.tick();
      // A copy: appending children may move the pending list.
      const PendingNode current = pending_[node];
      node_shifts_.push_back(static_cast<std::uint32_t>(pending_.size() - 1));
      expand(current, payload_of);
    }
    std::vector<NodeId> child_indices(pending_.size() - 1);
    std::iota(child_indices.begin(), child_indices.end(), NodeId{1});
    return Trie(std::move(node_shifts_), std::move(node_chars_), std::move(node_payloads_),
                std::move(child_indices));
  }

 private:
  template <typename PayloadOf>
  void expand(PendingNode node, PayloadOf& payload_of) {
    std::uint32_t first = node.first_key;
    // Sorted order puts the key that ends here, if any, first.
    std::optional<Payload> payload;
    if (first < node.end_key && keys_.key(first).size() == node.depth)
      payload = payload_of(first++);
    node_payloads_.push_back(payload);

    while (first < node.end_key) {
      const std::string_view key = keys_.key(first);
      std::size_t pos = node.depth;
      const char32_t ch = utf8::decode_next(key, pos);
      std::uint32_t end = first + 1;
      while (end < node.end_key && continues_with(keys_.key(end), node.depth, key, pos)) ++end;
      pending_.push_back({first, end, static_cast<std::uint32_t>(pos)});
      node_chars_.push_back(OptionalChar(ch));
      first = end;
    }
  }

  const KeyPool& keys_;
  std::vector<PendingNode> pending_;
  std::vector<std::uint32_t> node_shifts_;
  std::vector<OptionalChar> node_chars_;
  std::vector<std::optional<Payload>> node_payloads_;
};

}  // namespace

BuiltTrie build_trie(std::span<const std::string_view> keys, std::span<const Payload> values) {
  if (!values.empty() && values.size() != keys.size()) fail("one value per key is required");
  std::vector<std::uint32_t> sources = last_of_equal_keys(keys, sorted_positions(keys));
  KeyPool pool(keys, sources);
  LevelOrderBuilder builder(pool);
  Trie trie = builder.build([&](std::uint32_t entry) -> Payload {
    const std::uint32_t source = sources[entry];
    return values.empty() ? source : values[source];
  });
  return {std::move(trie), std::move(sources), std::move(pool)};
}

}  // namespace kelvaro
