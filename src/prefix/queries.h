// The lookups of PrefixSearch, in plain C++: one edit-distance search over
// the trie per call. The module glue converts the arguments and the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "prefix/trie.h"

namespace kelvaro {

// A match: the matching node's path text in UTF-8, its payload, and the edit
// distance between the path text and the query.
struct Match {
  std::string text;
  std::optional<Payload> payload;
  std::uint64_t distance;
  friend bool operator==(const Match&, const Match&) = default;
};

// Every stored text within max_dist edits of `query`, at most `limit` of
// them, in the order the search finds them.
std::vector<Match> fuzzy_match(const Trie& trie, std::u32string query, std::uint64_t max_dist,
                               std::optional<std::uint64_t> limit);

// The stored text equal to `query`, if any.
std::optional<Match> exact_match(const Trie& trie, std::u32string query);

// The same searches, always by the general engine (dfs driving a Matcher),
// which every faster way of searching is checked against.
std::vector<Match> general_fuzzy_match(const Trie& trie, std::u32string query,
                                       std::uint64_t max_dist, std::optional<std::uint64_t> limit);

}  // namespace kelvaro
