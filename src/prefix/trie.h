// The trie as four flat arrays.
//
//   node_shifts    per node: where its run of children starts in child_indices
//   node_chars     per node: the character on the edge from its parent (none for the root)
//   node_payloads  per node: the caller's value for a word ending there, or none
//   child_indices  the children of all nodes, one contiguous run per node
//
// The words "ab" (payload 0) and "ac" (payload 1):
//
//        0            node_shifts   [0, 1, 3, 3]
//        | a          node_chars    [-, a, b, c]
//        1            node_payloads [-, -, 0, 1]
//       / \           child_indices [1, 2, 3]
//    b 2   3 c
//
// Node n's run is child_indices[node_shifts[n] .. node_shifts[n + 1]), and the
// last node's run ends at the end of child_indices. A run whose start is past
// its end is empty. Construction refuses nothing: a malformed trie shows only
// when an accessor or a traversal reaches the broken part, and then fails with
// an internal error.
//
// Construction does look once at the shape, though. A trie that is tree-shaped (see
// is_tree) can be walked without a single check, and for such a trie it also
// lays out one side array: the characters of every run side by side, parallel
// to child_indices, so that choosing among a node's children reads one small
// array instead of every child's entry in node_chars.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kelvaro {

using NodeId = std::uint32_t;
using Payload = std::uint32_t;

// One Unicode scalar value, or none, in 32 bits: scalar values stop at
// U+10FFFF, which leaves all-bits-set free to mean "none".
class OptionalChar {
 public:
  constexpr OptionalChar() = default;
  constexpr explicit OptionalChar(char32_t ch) : raw_(ch) {}

  constexpr bool has_value() const { return raw_ != kNone; }
  constexpr char32_t value() const { return raw_; }
  friend constexpr bool operator==(OptionalChar, OptionalChar) = default;

 private:
  static constexpr char32_t kNone = 0xFFFFFFFF;
  char32_t raw_ = kNone;
};

struct Child {
  char32_t ch;
  NodeId node;
  friend bool operator==(const Child&, const Child&) = default;
};

using Children = std::vector<Child>;

// A node's run of children: positions [start, end) of child_indices.
struct Run {
  std::size_t start;
  std::size_t end;
  std::size_t size() const { return end > start ? end - start : 0; }
};

class Trie {
 public:
  Trie() = default;
  Trie(std::vector<std::uint32_t> node_shifts, std::vector<OptionalChar> node_chars,
       std::vector<std::optional<Payload>> node_payloads, std::vector<NodeId> child_indices);

  // Four arrays can be large; a copy is never what the caller meant.
  Trie(const Trie&) = delete;
  Trie& operator=(const Trie&) = delete;
  Trie(Trie&&) noexcept = default;
  Trie& operator=(Trie&&) noexcept = default;

  // Replaces the contents of `out` with the node's children, in run order.
  void get_children(NodeId node, Children& out) const;
  Children get_children(NodeId node) const;

  std::optional<Payload> get_payload(NodeId node) const;

  // The run of a node below node_shifts.size(). The last node's run ends at
  // the end of child_indices; a run may reach past it in a malformed trie.
  Run run_of(NodeId node) const {
    const std::size_t start = node_shifts_[node];
    const std::size_t end = std::size_t{node} + 1 < node_shifts_.size()
                                ? node_shifts_[std::size_t{node} + 1]
                                : child_indices_.size();
    return {start, end > start ? end : start};
  }

  // Whether every node that a walk from the root can reach is reached once
  // (the runs from the root form a tree), has a run inside child_indices and
  // a payload entry, and, the root aside, a character: no lookup on it can
  // fail, so a lookup can take any route it likes to its answer. Nodes that
  // no walk reaches do not matter. Only a tree-shaped trie has run_chars.
  bool is_tree() const { return tree_; }

  // Whether every run's characters are in increasing code point order
  // (equal neighbours allowed), as the builder lays them out. Tree-shaped tries
  // only.
  bool runs_sorted() const { return runs_sorted_; }
  // Whether, moreover, no two siblings share a character.
  bool siblings_distinct() const { return siblings_distinct_; }

  // What a walk reads of a position of a run and of a node, in a tree-shaped trie
  // (CompactTrie answers the same questions). A walk carries a Place from
  // parent to child; here it is the node itself.
  using Place = NodeId;
  // What a walk compares children's characters by: the characters.
  using Key = char32_t;
  static constexpr Key kNoKey = 0xFFFFFFFF;
  std::optional<Key> key_of(char32_t ch) const { return ch; }
  Key key_at(std::size_t position) const { return run_chars_[position]; }
  std::optional<std::size_t> last_child_with_key(Run run, Key key) const {
    return last_child_with(run, key);
  }
  void children_carrying_keys(Run run, std::span<const Key> wanted,
                              std::vector<std::size_t>& out) const {
    children_carrying(run, std::u32string_view(wanted.data(), wanted.size()), out);
  }
  static constexpr Place root() { return 0; }
  // A prefix search reports the nodes below the root only, whatever payload
  // the root holds: the empty text is never one of its matches.
  static constexpr bool kRootIsWord = false;
  Place place_at(std::size_t position, Place) const { return child_indices_[position]; }
  NodeId child_at(std::size_t position) const { return child_indices_[position]; }
  char32_t char_at(std::size_t position) const { return run_chars_[position]; }
  bool has_payload(NodeId node) const { return node_payloads_[node].has_value(); }
  std::optional<Payload> payload(NodeId node) const { return node_payloads_[node]; }

  // node_chars of child_indices[p] at position p; empty unless tree-shaped.
  std::span<const char32_t> run_chars() const { return run_chars_; }
  std::span<const char32_t> run_chars(Run run) const {
    return std::span<const char32_t>(run_chars_).subspan(run.start, run.size());
  }

  // The length of the longest path from the root, in a tree-shaped trie.
  std::size_t height() const { return height_; }

  // How far below a node, in a tree-shaped trie, the nearest node with a payload
  // lies (0: the node itself) and the deepest node of all, each held to
  // kFarthest, which stands for "kFarthest or more". A search bounds the
  // lengths of the words it can still reach with them.
  static constexpr std::uint8_t kFarthest = 255;
  std::uint8_t nearest_word(NodeId node) const { return reach_[node].nearest_word; }
  std::uint8_t deepest_below(NodeId node) const { return reach_[node].deepest; }

  // The last position of `run` whose child carries `wanted`, in a tree-shaped
  // trie: which child a search that wants that character enters first.
  std::optional<std::size_t> last_child_with(Run run, char32_t wanted) const;

  // The positions of `run` whose children carry any of the characters
  // `wanted`, in run order, into `out`, in a tree-shaped trie: a few binary
  // searches on a wide sorted run, a look at each child otherwise.
  void children_carrying(Run run, std::u32string_view wanted, std::vector<std::size_t>& out) const;

  const std::vector<std::uint32_t>& node_shifts() const { return node_shifts_; }
  const std::vector<OptionalChar>& node_chars() const { return node_chars_; }
  const std::vector<std::optional<Payload>>& node_payloads() const { return node_payloads_; }
  const std::vector<NodeId>& child_indices() const { return child_indices_; }

 private:
  // The character of a node that some run lists.
  char32_t checked_char(NodeId child) const;
  void find_whether_tree();

  std::vector<std::uint32_t> node_shifts_;
  std::vector<OptionalChar> node_chars_;
  std::vector<std::optional<Payload>> node_payloads_;
  std::vector<NodeId> child_indices_;
  // Derived from the four arrays once, at construction.
  std::vector<char32_t> run_chars_;
  struct Reach {
    std::uint8_t nearest_word;
    std::uint8_t deepest;
  };
  std::vector<Reach> reach_;
  std::size_t height_ = 0;
  bool tree_ = false;
  bool runs_sorted_ = false;
  bool siblings_distinct_ = false;
};

// Which child of a run goes first for a search that wants the character
// `wanted`: the last child that carries it, so that among siblings sharing a
// character the last one leads and the others keep their places. `char_at(i)`
// is the character of the run's i-th child.
template <typename CharAt>
std::optional<std::size_t> preferred_child(std::size_t count, CharAt char_at, char32_t wanted) {
  for (std::size_t i = count; i-- > 0;) {
    if (char_at(i) == wanted) return i;
  }
  return std::nullopt;
}

}  // namespace kelvaro
