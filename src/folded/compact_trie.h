// CompactTrie: an index trie in a few bytes a node, walked in place.
//
// An index trie (breadth first, siblings distinct and in increasing order)
// of a list of names is mostly chains: nodes with one child and no word.
// Here every chain is folded into the node at its end. A folded node owns a
// label, the characters on the way down to it, and the labels of all the
// folded nodes lie back to back in one pool, in breadth-first order of the
// folded trie. The characters are ranks in the trie's own sorted alphabet,
// one byte each when it has at most 256 characters.
//
// Walks still see one node per character. Node v > 0 is the node whose
// edge character is labels[v - 1]; the root is 0. A node is either the last
// of its label (an "end", which may branch or carry a word), or it has
// exactly one child, v + 1. Ends are marked in a bit vector whose rank says
// which folded node a node belongs to.
//
//   folded node k     label_end[k]    the last node of its label (0: root)
//                     first_child[k]  its children are folded nodes
//                                     first_child[k] .. first_child[k + 1]
//                     first_rank[k]   the first character of its label
//                     reach[k]        nearest word and deepest node below it
//                     has_word bit k  and its payload, found by rank
//
// The walks choose children by position in a run, as on Trie: a folded
// node's children are the positions first_child[k] .. first_child[k + 1];
// the one child of a node v inside a label is position folded_count + v.
// The ranks are laid out so that a position's character is ranks[position]
// either way: the folded nodes' first ranks, then every node's.
// Either way the children come in increasing character order, as in the
// trie the layout was made from, so every walk meets the nodes in the same
// order as there, and a breadth-first pass over the nodes gives back the
// original numbering (unpacked()).
//
// The arrays are spans: they may be owned vectors (CompactTrieArrays) or a
// mapped index file. A view over arrays from outside is checked once for
// shape (view_problem) so that no walk can read outside them or loop; the
// values themselves are not trusted beyond that, and a character rank past
// the alphabet reads as its last character.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bits/count_bits.h"
#include "prefix/trie.h"

namespace kelvaro {

// Bits with a rank directory: pairs of 64-bit words, the bits and the
// number of set bits in all words before them. One pair more than the bits
// need, so that rank(size) reads inside.
class RankedBits {
 public:
  RankedBits() = default;
  explicit RankedBits(std::span<const std::uint64_t> pairs) : pairs_(pairs) {}

  static std::size_t pairs_for(std::size_t bits) { return bits / 64 + 1; }

  bool test(std::size_t i) const { return (pairs_[2 * (i >> 6)] >> (i & 63)) & 1; }
  // The number of set bits before bit i.
  std::size_t rank(std::size_t i) const {
    const std::uint64_t word = pairs_[2 * (i >> 6)];
    const std::uint64_t below = (std::uint64_t{1} << (i & 63)) - 1;
    return static_cast<std::size_t>(pairs_[2 * (i >> 6) + 1]) +
           static_cast<std::size_t>(count_bits(word & below));
  }
  std::span<const std::uint64_t> pairs() const { return pairs_; }

 private:
  std::span<const std::uint64_t> pairs_;
};

// Fills the rank words of `pairs` from its bit words.
void fill_ranks(std::vector<std::uint64_t>& pairs);

// The arrays of a compact trie, as spans over whatever holds them.
struct CompactTrieSpans {
  std::span<const char32_t> alphabet;
  // 1, 2 or 4 bytes a rank.
  std::uint32_t rank_width = 1;
  // first_rank's folded_count ranks, then the ranks of nodes 1 to
  // node_count - 1, all of rank_width bytes: the rank of the child at run
  // position p is ranks[p] either way.
  std::span<const std::uint8_t> ranks;
  std::span<const std::uint64_t> ends;         // pairs over node_count bits
  std::span<const std::uint32_t> label_end;    // folded_count
  std::span<const std::uint32_t> first_child;  // folded_count + 1
  std::span<const std::uint8_t> reach;         // two bytes a folded node
  std::span<const std::uint64_t> has_word;     // pairs over folded_count bits
  std::span<const Payload> payloads;           // one per word
  std::uint64_t node_count = 0;
  std::uint64_t height = 0;

  std::size_t bytes() const {
    return alphabet.size_bytes() + ranks.size_bytes() + ends.size_bytes() + label_end.size_bytes() +
           first_child.size_bytes() + reach.size_bytes() + has_word.size_bytes() +
           payloads.size_bytes();
  }
};

// The same arrays, owned.
struct CompactTrieArrays {
  std::vector<char32_t> alphabet;
  std::uint32_t rank_width = 1;
  std::vector<std::uint8_t> ranks;
  std::vector<std::uint64_t> ends;
  std::vector<std::uint32_t> label_end;
  std::vector<std::uint32_t> first_child;
  std::vector<std::uint8_t> reach;
  std::vector<std::uint64_t> has_word;
  std::vector<Payload> payloads;
  std::uint64_t node_count = 0;
  std::uint64_t height = 0;

  CompactTrieSpans spans() const;
  std::size_t bytes() const;
};

// Folds `trie`, an index trie (tree-shaped, breadth first, siblings distinct and
// sorted), into its compact form.
CompactTrieArrays compact(const Trie& trie);

// What is wrong with `spans` as a compact trie, or nothing: the checks that
// keep every walk inside the arrays and every walk finite.
std::optional<std::string> view_problem(const CompactTrieSpans& spans);

class CompactTrie {
 public:
  static constexpr std::uint8_t kFarthest = Trie::kFarthest;

  CompactTrie() = default;
  // `spans` must have passed view_problem (or come from compact()).
  explicit CompactTrie(const CompactTrieSpans& spans);

  // The arrays it reads.
  const CompactTrieSpans& spans() const { return spans_; }
  std::uint64_t node_count() const { return node_count_; }
  std::size_t folded_count() const { return label_end_.size(); }
  std::size_t height() const { return height_; }
  bool empty() const { return node_count_ == 0; }
  static constexpr bool runs_sorted() { return true; }
  static constexpr bool siblings_distinct() { return true; }

  // A node together with the folded node it belongs to: what the walks
  // carry from parent to child, so that they never need a rank to find
  // the folded node (a node ends its label exactly when it is the label's
  // last).
  struct Place {
    NodeId node;
    std::uint32_t folded;
  };
  static constexpr Place root() { return {0, 0}; }
  // An index stores the empty word at the root, and its walks report it
  // like any other word.
  static constexpr bool kRootIsWord = true;
  // What a walk compares children's characters by: their ranks in the
  // alphabet, read without looking the characters up.
  using Key = std::uint32_t;
  static constexpr Key kNoKey = 0xFFFFFFFF;
  std::optional<Key> key_of(char32_t ch) const { return rank_of(ch); }
  Key key_at(std::size_t position) const { return rank_at(position); }
  std::optional<std::size_t> last_child_with_key(Run run, Key rank) const {
    // Most runs are the one child of a node inside a label. (A folded
    // node's run is below inner_ unless it is empty, at its very end.)
    if (run.start >= inner_ && run.end > run.start) {
      if (rank_at(run.start) != rank) return std::nullopt;
      return run.start;
    }
    return folded_child_with(run, rank);
  }
  // children_carrying, for characters given as keys (kNoKey for none).
  void children_carrying_keys(Run run, std::span<const Key> wanted,
                              std::vector<std::size_t>& out) const;
  // Both are written to choose without a jump: whether a node ends its
  // label changes from node to node, and a mispredicted branch costs more
  // than the reads it would save.
  Place place_at(std::size_t position, Place parent) const {
    const bool inside = position >= inner_;
    const NodeId after_label = label_end_[inside ? 0 : position - 1] + 1;
    return {inside ? static_cast<NodeId>(position - inner_ + 1) : after_label,
            inside ? parent.folded : static_cast<std::uint32_t>(position)};
  }
  Run run_of(Place place) const {
    const bool end = place.node == label_end_[place.folded];
    const std::size_t first = first_child_[place.folded], last = first_child_[place.folded + 1];
    return {end ? first : inner_ + place.node, end ? last : inner_ + place.node + 1};
  }
  bool has_payload(Place place) const {
    return place.node == label_end_[place.folded] && has_word_.test(place.folded);
  }
  std::optional<Payload> payload(Place place) const {
    if (place.node != label_end_[place.folded]) return std::nullopt;
    return folded_payload(place.folded);
  }
  std::optional<std::uint32_t> word_number(Place place) const {
    if (!has_payload(place)) return std::nullopt;
    return static_cast<std::uint32_t>(has_word_.rank(place.folded));
  }
  std::uint8_t nearest_word(Place place) const { return reach_of(place, 0); }
  std::uint8_t deepest_below(Place place) const { return reach_of(place, 1); }

  bool is_end(NodeId node) const { return ends_.test(node); }
  // The folded node that `node` belongs to (held inside the folded nodes
  // whatever a forged file's end bits say).
  std::size_t folded_of(NodeId node) const {
    const std::size_t k = ends_.rank(node);
    return k < label_end_.size() ? k : label_end_.size() - 1;
  }

  Run run_of(NodeId node) const {
    if (!is_end(node)) return {inner_ + node, inner_ + node + 1};
    const std::size_t k = folded_of(node);
    return {first_child_[k], first_child_[k + 1]};
  }
  NodeId child_at(std::size_t position) const {
    if (position >= inner_) return static_cast<NodeId>(position - inner_ + 1);
    return label_end_[position - 1] + 1;
  }
  char32_t char_at(std::size_t position) const { return char_of_rank(rank_at(position)); }
  // The edge character of a node other than the root.
  char32_t node_char(NodeId node) const { return char_of_rank(rank_at(inner_ + node - 1)); }

  std::optional<Payload> payload(NodeId node) const {
    if (!is_end(node)) return std::nullopt;
    return folded_payload(folded_of(node));
  }
  bool has_payload(NodeId node) const { return is_end(node) && has_word_.test(folded_of(node)); }
  // A word's number: the index of its payload, its rank among the words
  // in the order of their folded nodes. None for a node without a word.
  std::optional<std::uint32_t> word_number(NodeId node) const {
    if (!has_payload(node)) return std::nullopt;
    return static_cast<std::uint32_t>(has_word_.rank(folded_of(node)));
  }

  // As Trie's: how far below the node the nearest word and the deepest
  // node lie, held to kFarthest.
  std::uint8_t nearest_word(NodeId node) const { return reach_below(node, 0); }
  std::uint8_t deepest_below(NodeId node) const { return reach_below(node, 1); }

  std::optional<std::size_t> last_child_with(Run run, char32_t wanted) const;
  void children_carrying(Run run, std::u32string_view wanted, std::vector<std::size_t>& out) const;

  std::span<const Payload> payloads() const { return payloads_; }

  // The folded trie itself, for tables kept per folded node: its children
  // (always numbered after it) and its word's payload.
  Run folded_children(std::size_t k) const { return {first_child_[k], first_child_[k + 1]}; }
  // The nodes of its label, first to last (none for the root's), whose
  // characters are node_char of each.
  std::pair<NodeId, NodeId> label_nodes(std::size_t k) const {
    return {k == 0 ? 1 : label_end_[k - 1] + 1, label_end_[k]};
  }
  bool folded_has_word(std::size_t k) const { return has_word_.test(k); }
  std::optional<Payload> folded_payload(std::size_t k) const {
    if (!has_word_.test(k)) return std::nullopt;
    const std::size_t slot = has_word_.rank(k);
    return payloads_[slot < payloads_.size() ? slot : 0];
  }

  // The four arrays of the trie this one was folded from, numbered as there.
  Trie unpacked() const;

 private:
  std::uint32_t rank_at(std::size_t i) const {
    switch (rank_width_) {
      case 1:
        return ranks_[i];
      case 2:
        return static_cast<std::uint32_t>(ranks_[2 * i]) |
               static_cast<std::uint32_t>(ranks_[2 * i + 1]) << 8;
      default: {
        const std::uint8_t* p = ranks_ + 4 * i;
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
      }
    }
  }
  char32_t char_of_rank(std::uint32_t rank) const {
    return alphabet_[rank < alphabet_.size() ? rank : alphabet_.size() - 1];
  }
  // last_child_with_key for the children of a folded node.
  std::optional<std::size_t> folded_child_with(Run run, Key rank) const;
  // The rank of `wanted` in the alphabet, if it has it.
  std::optional<std::uint32_t> rank_of(char32_t wanted) const;
  std::uint8_t reach_below(NodeId node, int which) const {
    return reach_of({node, static_cast<std::uint32_t>(folded_of(node))}, which);
  }
  std::uint8_t reach_of(Place place, int which) const {
    // Inside a label, what lies below is the rest of the label and then
    // what lies below its end.
    const std::uint32_t rest = label_end_[place.folded] - place.node;
    const std::uint32_t value = reach_[2 * std::size_t{place.folded} + which] + rest;
    return static_cast<std::uint8_t>(value < kFarthest ? value : kFarthest);
  }

  CompactTrieSpans spans_;
  std::span<const char32_t> alphabet_;
  std::uint32_t rank_width_ = 1;
  const std::uint8_t* ranks_ = nullptr;
  RankedBits ends_;
  std::span<const std::uint32_t> label_end_;
  std::span<const std::uint32_t> first_child_;
  const std::uint8_t* reach_ = nullptr;
  RankedBits has_word_;
  std::span<const Payload> payloads_;
  std::uint64_t node_count_ = 0;
  std::size_t height_ = 0;
  // Positions from here on are the one child of a node inside a label.
  std::size_t inner_ = 0;
  // Ranks of the first 128 code points, or kNoRank.
  static constexpr std::uint32_t kNoRank = 0xFFFFFFFF;
  std::uint32_t ascii_ranks_[128] = {};
};

// Calls each(key, payload) for every stored key but the empty one, in no
// particular order; it can be interrupted (interrupt.h).
void for_each_key(const CompactTrie& trie,
                  const std::function<void(std::u32string_view, Payload)>& each);

// As for_each_key, with the key's node rather than its payload, for what
// needs the word's number. The number comes from the node the walk is at,
// not from a lookup of the key: in a damaged file's trie, whose siblings
// need not be sorted, a lookup may miss a key that the walk meets.
void for_each_word(const CompactTrie& trie,
                   const std::function<void(std::u32string_view, NodeId)>& each);

// Calls each(key) for the stored keys in increasing code point order, the
// empty one too, from the first after `after` (a stored key; from the first
// key without it) until each returns false; it can be interrupted. What an
// index that keeps no table of its words lists them by: a walk that starts
// again after the last key it gave costs a descent, so that the words can
// be handed out a batch at a time. A prefix comes before the keys it
// starts, and siblings come in the order of their characters, so a
// depth-first walk that takes the children in order meets the keys sorted.
void keys_in_order(const CompactTrie& trie, std::optional<std::u32string_view> after,
                   const std::function<bool(std::u32string_view)>& each);

}  // namespace kelvaro
