#include "lib/queries.h"

#include <utility>

#include "prefix/dfs.h"
#include "prefix/exact_search.h"
#include "prefix/internal_error.h"
#include "prefix/matcher.h"

namespace kelvaro {

std::vector<Match> fuzzy_match(const Trie& trie, std::u32string query, std::uint64_t max_dist,
                               std::optional<std::uint64_t> limit) {
  Matcher matcher(std::move(query), max_dist, limit);
  dfs(trie, matcher);
  std::vector<MatchRecord> records = matcher.take_results();

  std::vector<Match> matches;
  matches.reserve(records.size());
  for (MatchRecord& record : records) {
    std::optional<Payload> payload = checked_at(trie.node_payloads(), record.node);
    matches.push_back({std::move(record.text), payload, record.distance});
  }
  return matches;
}

std::optional<Match> exact_match(const Trie& trie, std::u32string query) {
  // The same search, walked without rows where the trie is a tree.
  if (trie.forms_a_tree()) {
    std::optional<MatchRecord> record = ExactSearch(trie, query).run();
    if (!record.has_value()) return std::nullopt;
    std::optional<Payload> payload = checked_at(trie.node_payloads(), record->node);
    return Match{std::move(record->text), payload, record->distance};
  }
  // Siblings may share a character, so more than one node can spell the
  // query; the first one found is the one that the search prefers.
  std::vector<Match> matches = fuzzy_match(trie, std::move(query), 0, std::nullopt);
  if (matches.empty()) return std::nullopt;
  return std::move(matches.front());
}

}  // namespace kelvaro
