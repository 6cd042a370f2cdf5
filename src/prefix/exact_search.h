// ExactSearch: the edit-distance search at distance 0 without a bound,
// walked directly, for tries whose runs form a tree.
//
// At distance 0 the Matcher's rows decide little: a node survives pruning
// exactly when its path text is the start of the query, so the walk goes
// down the query's path, and every other node it visits is a child of a
// node on that path whose row is computed only to be pruned. Here a node's
// fate is read from its character instead, and no row, path text or State
// is made at all.
//
// It visits the same nodes in the same order as dfs driving a Matcher, and
// fails at the same node with the same error: in a trie that forms a tree
// (Trie::forms_a_tree) the only failures left are a visited node beyond
// node_payloads and a visited node beyond node_shifts, whose children cannot
// be listed. So it walks to the end even after a match, as the search would.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "prefix/matcher.h"
#include "prefix/trie.h"

namespace kelvaro {

class ExactSearch {
 public:
  // `trie` must form a tree.
  ExactSearch(const Trie& trie, std::u32string_view query);

  // The first node whose path text is the query and which has a payload, as
  // the Matcher would record it first.
  std::optional<MatchRecord> run();

 private:
  // A node on the query's path whose children are being visited: its run,
  // the child that goes first, and how many have been visited.
  struct OnPath {
    std::size_t start;
    std::size_t end;
    std::optional<std::size_t> preferred;
    std::size_t depth;
    std::size_t visited = 0;
  };

  OnPath enter(NodeId node, std::size_t depth) const;
  std::size_t position_of(const OnPath& parent, std::size_t index) const;
  void visit(NodeId node, bool on_path, std::size_t depth);

  const Trie& trie_;
  std::u32string_view query_;
  std::optional<NodeId> found_;
};

}  // namespace kelvaro
