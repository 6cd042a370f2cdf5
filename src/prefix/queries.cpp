#include "prefix/queries.h"

#include <algorithm>
#include <utility>

#include "prefix/dfs.h"
#include "prefix/matcher.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"

namespace kelvaro {

std::vector<Match> general_fuzzy_match(const Trie& trie, std::u32string query,
                                       std::uint64_t max_dist, std::optional<std::uint64_t> limit) {
  Matcher matcher(std::move(query), max_dist, limit);
  dfs(trie, matcher);
  return matcher.take_results();
}

// The one place that chooses how a lookup runs.
std::vector<Match> fuzzy_match(const Trie& trie, std::u32string query, std::uint64_t max_dist,
                               std::optional<std::uint64_t> limit) {
  // A trie that is not tree-shaped can fail part way, and must fail exactly where
  // the general engine does: it runs the general engine.
  if (!trie.is_tree()) return general_fuzzy_match(trie, std::move(query), max_dist, limit);
  // A tree-shaped trie runs the typed walk.
  return walk_tree(trie, query, max_dist, limit, false);
}

std::optional<Match> exact_match(const Trie& trie, std::u32string query) {
  // A tree-shaped trie: a descent along the query, stopping at the first hit.
  if (trie.is_tree()) {
    const std::optional<NodeId> node = find_exact(trie, query);
    if (!node.has_value()) return std::nullopt;
    return Match{utf8::encode(query), trie.node_payloads()[*node], 0};
  }
  // Otherwise the search at distance 0, which may fail as it goes. Siblings
  // may share a character, so more than one node can spell the query; the
  // first one found is the one that the search prefers.
  std::vector<Match> matches = general_fuzzy_match(trie, std::move(query), 0, std::nullopt);
  if (matches.empty()) return std::nullopt;
  return std::move(matches.front());
}

}  // namespace kelvaro
