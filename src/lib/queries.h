// The lookups of PrefixSearch, in plain C++: one edit-distance search over
// the trie per call, with each match's node turned into its payload. The
// module glue converts the arguments and the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prefix/trie.h"

namespace kelvaro {

struct Match {
  std::string text;  // the matching node's path text, UTF-8
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

}  // namespace kelvaro
