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
// an internal error. It only notes whether the runs form a tree, which lets
// searches skip work whose only purpose would be to fail on a malformed trie.
#pragma once

#include <cstdint>
#include <optional>
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

  // Whether the runs form a tree: every run lies inside child_indices,
  // every node that a run lists has a character, no node is listed twice
  // (in one run or in two) and the root is listed in none. Found once, at
  // construction. In such a trie get_children fails only for a node beyond
  // node_shifts, and a walk that enters only children it is shown, each at
  // most once, visits every node at most once.
  bool forms_a_tree() const { return forms_a_tree_; }

  // Whether get_children(node) is sure to succeed, in a trie that forms a
  // tree.
  bool lists_without_failure(NodeId node) const {
    return forms_a_tree_ && node < node_shifts_.size();
  }

  const std::vector<std::uint32_t>& node_shifts() const { return node_shifts_; }
  const std::vector<OptionalChar>& node_chars() const { return node_chars_; }
  const std::vector<std::optional<Payload>>& node_payloads() const { return node_payloads_; }
  const std::vector<NodeId>& child_indices() const { return child_indices_; }

 private:
  // Lists the run [start, end), which must lie inside child_indices.
  void list_run(std::size_t start, std::size_t end, Children& out) const;
  // The character of a node that some run lists.
  char32_t checked_char(NodeId child) const;
  bool find_whether_tree() const;

  std::vector<std::uint32_t> node_shifts_;
  std::vector<OptionalChar> node_chars_;
  std::vector<std::optional<Payload>> node_payloads_;
  std::vector<NodeId> child_indices_;
  // Derived from the four arrays once, at construction.
  bool forms_a_tree_ = true;
};

}  // namespace kelvaro
