// An index trie folded into the compact layout must answer exactly as the
// trie it was folded from: the index only ever searches the fold, and the
// plain Trie walk is what every faster search was first checked against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "checks.h"
#include "folded/compact_trie.h"
#include "format/index_trie_check.h"
#include "prefix/queries.h"
#include "prefix/tree_walk.h"

namespace kelvaro::fuzz {

// The fold of `trie`, a tree-shaped trie whose siblings are distinct. A fold
// passes the shape check that a loaded one must pass, and a trie numbered
// as the builder numbers index tries unfolds to its very arrays.
inline CompactTrieArrays fold(const Trie& trie) {
  require(trie.is_tree() && trie.siblings_distinct(), "folding a trie that is no index trie");
  CompactTrieArrays arrays = compact(trie);
  require(!view_problem(arrays.spans()).has_value(), "a fold fails the shape check");
  if (std::holds_alternative<IndexTrieCounts>(check_index_trie(trie)))
    require(same_arrays(CompactTrie(arrays.spans()).unpacked(), trie),
            "a fold unfolds to other arrays");
  return arrays;
}

// The fold of `trie` when it has the shape of an index trie, else nothing.
inline std::optional<CompactTrieArrays> fold_if_index(const Trie& trie) {
  if (!std::holds_alternative<IndexTrieCounts>(check_index_trie(trie))) return std::nullopt;
  return fold(trie);
}

// A fold and the trie it was folded from differ at the root alone: the
// fold's walks report the word that the root spells (an index's empty word,
// CompactTrie::kRootIsWord), a Trie's never do. So what a walk of the fold
// must report is the root's word, when the trie's root has a payload and
// the query is within max_dist of the empty text, and then the trie's own
// walk, cut at the limit.
inline std::vector<Match> expected_folded_walk(const Trie& trie, std::u32string_view query,
                                               std::uint64_t max_dist,
                                               std::optional<std::uint64_t> limit,
                                               bool transpositions) {
  std::vector<Match> matches;
  const std::optional<Payload> root = trie.payload(Trie::root());
  if (root && query.size() <= max_dist) matches.push_back({std::string(), root, query.size()});
  for (Match& match : walk_tree(trie, query, max_dist, limit, transpositions))
    matches.push_back(std::move(match));
  if (limit.has_value() && matches.size() > *limit) matches.resize(*limit);
  return matches;
}

// The plain walk and the exact descent, on the fold and on the trie, which
// differ at the root as expected_folded_walk says.
inline void check_folded_lookup(const Trie& trie, const CompactTrie& folded,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions) {
  require(walk_tree(folded, query, max_dist, limit, transpositions) ==
              expected_folded_walk(trie, query, max_dist, limit, transpositions),
          "the fold's walk differs from the trie's");
  const auto found = find_exact(folded, query);
  std::optional<Payload> expected = trie.payload(Trie::root());
  if (!query.empty()) {
    const std::optional<NodeId> node = find_exact(trie, query);
    expected = node ? trie.payload(*node) : std::nullopt;
  }
  require((found ? folded.payload(*found) : std::nullopt) == expected,
          "the fold's exact descent differs from the trie's");
}

}  // namespace kelvaro::fuzz
