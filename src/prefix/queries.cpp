#include "prefix/queries.h"

#include <algorithm>
#include <utility>

#include "prefix/compact_trie.h"
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
  // A trie that is not sound can fail part way, and must fail exactly where
  // the general engine does: it runs the general engine.
  if (!trie.is_sound()) return general_fuzzy_match(trie, std::move(query), max_dist, limit);
  // A sound trie runs the typed walk.
  return walk_sound_trie(trie, query, max_dist, limit, false);
}

namespace {

template <typename TrieT>
std::vector<Match> walk_trie(const TrieT& trie, std::u32string_view query, std::uint64_t max_dist,
                             std::optional<std::uint64_t> limit, bool transpositions) {
  std::vector<Match> matches;
  if (limit == std::uint64_t{0}) return matches;
  // No distance exceeds the longer of the query and the deepest path, which
  // bounds the band.
  const EditBand band(query, max_dist, std::max<std::uint64_t>(query.size(), trie.height()));
  TreeWalk walk(trie, band, max_dist, transpositions);
  walk.run([&](typename TrieT::Place node, std::u32string_view path, Cell distance) {
    matches.push_back({utf8::encode(path), trie.payload(node), distance});
    return !limit.has_value() || matches.size() < *limit;
  });
  return matches;
}

}  // namespace

std::vector<Match> walk_sound_trie(const Trie& trie, std::u32string_view query,
                                   std::uint64_t max_dist, std::optional<std::uint64_t> limit,
                                   bool transpositions) {
  return walk_trie(trie, query, max_dist, limit, transpositions);
}

std::vector<Match> walk_sound_trie(const CompactTrie& trie, std::u32string_view query,
                                   std::uint64_t max_dist, std::optional<std::uint64_t> limit,
                                   bool transpositions) {
  return walk_trie(trie, query, max_dist, limit, transpositions);
}

std::optional<Match> exact_match(const Trie& trie, std::u32string query) {
  // A sound trie: a descent along the query, stopping at the first hit.
  if (trie.is_sound()) {
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
