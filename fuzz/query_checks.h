// Lookups on any trie, well-formed or not, and what holds between them.
//
// On a malformed trie a lookup may stop with an internal error, but when one
// finishes its answer still obeys the rules of the search:
//   - every match is as far from the query as its path text is, within
//     max_dist, and carries a payload;
//   - a bounded lookup returns the first `limit` matches of the unbounded one
//     (it walks a prefix of the same walk, so it finishes whenever that does);
//   - the exact matches, in order, are the distance-0 matches of any wider
//     lookup (a smaller max_dist prunes whole subtrees of the same walk), and
//     exact_match returns the first of them.
// A trie with the shape of an index trie is also folded, and the fold must
// answer each lookup as the trie does, with and without swaps.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "checks.h"
#include "fold_checks.h"
#include "input_reader.h"
#include "prefix/queries.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"

namespace kelvaro::fuzz {

struct Lookup {
  std::u32string query;
  std::uint64_t max_dist;
  std::optional<std::uint64_t> limit;
};

// Query characters are mostly taken from the trie's own nodes, so that
// lookups follow its paths; the rest come from the reader's characters.
inline std::u32string read_query(InputReader& reader, const Trie& trie) {
  const std::vector<OptionalChar>& chars = trie.node_chars();
  std::u32string query;
  const std::size_t length = reader.byte() % 13;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t choice = reader.byte();
    OptionalChar ch = (choice & 1) && !chars.empty() ? chars[(choice >> 1) % chars.size()]
                                                     : reader.optional_char();
    query.push_back(ch.has_value() ? ch.value() : U'a');
  }
  return query;
}

// Distances stay small, where pruning matters, except for the rare escape
// to the largest one; limits are small, absent, or the largest one.
inline Lookup read_lookup(InputReader& reader, const Trie& trie) {
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  Lookup lookup{read_query(reader, trie), 0, std::nullopt};
  const std::uint8_t distance = reader.byte();
  lookup.max_dist = distance == 0xFF ? kLargest : distance % 5;
  const std::uint8_t limit = reader.byte();
  if (limit == 0xFF) lookup.limit = kLargest;
  if (limit != 0 && limit != 0xFF) lookup.limit = (limit - 1) % 9;
  return lookup;
}

inline std::vector<Match> exact_ones(const std::vector<Match>& matches) {
  std::vector<Match> exact;
  for (const Match& match : matches)
    if (match.distance == 0) exact.push_back(match);
  return exact;
}

inline void check_matches(const std::vector<Match>& matches, const Lookup& lookup) {
  // The distances of the first matches are recomputed the plain way; long
  // path texts only come from deep malformed walks, and cost quadratic time.
  constexpr std::size_t kRecomputed = 32;
  constexpr std::size_t kLongestText = 256;
  for (std::size_t i = 0; i < matches.size(); ++i) {
    const Match& match = matches[i];
    require(match.distance <= lookup.max_dist, "a match beyond max_dist");
    require(match.payload.has_value(), "a match without a payload");
    if (i < kRecomputed && match.text.size() <= kLongestText) {
      require(match.distance == levenshtein(utf8::decode(match.text), lookup.query),
              "a match whose distance is not its edit distance");
    }
  }
}

inline void check_lookup(const Trie& trie, const Lookup& lookup) {
  auto all =
      attempt([&] { return fuzzy_match(trie, lookup.query, lookup.max_dist, std::nullopt); });
  if (lookup.limit.has_value()) {
    auto bounded =
        attempt([&] { return fuzzy_match(trie, lookup.query, lookup.max_dist, lookup.limit); });
    if (all.has_value()) {
      require(bounded.has_value(), "a bounded lookup failed where the unbounded one finished");
      const std::size_t kept = std::min<std::uint64_t>(*lookup.limit, all->size());
      require(*bounded == std::vector<Match>(all->begin(), all->begin() + kept),
              "a bounded lookup is not a prefix of the unbounded one");
    }
  }
  if (!all.has_value()) return;
  check_matches(*all, lookup);

  std::optional<std::vector<Match>> exact = exact_ones(*all);
  if (lookup.max_dist != 0) {
    auto narrow = attempt([&] { return fuzzy_match(trie, lookup.query, 0, std::nullopt); });
    require(narrow == exact, "the exact matches differ from those of a wider lookup");
  }
  auto first = attempt([&] { return exact_match(trie, lookup.query); });
  require(first.has_value(), "exact_match failed where a wider lookup finished");
  require(*first == (exact->empty() ? std::nullopt : std::optional<Match>(exact->front())),
          "exact_match is not the first exact match");
}

// One to three lookups described by `reader`.
inline void check_lookups(const Trie& trie, InputReader& reader) {
  const std::optional<CompactTrieArrays> arrays = fold_if_index(trie);
  const int count = 1 + reader.byte() % 3;
  for (int i = 0; i < count; ++i) {
    const Lookup lookup = read_lookup(reader, trie);
    check_lookup(trie, lookup);
    if (!arrays.has_value()) continue;
    const CompactTrie folded(arrays->spans());
    for (const bool transpositions : {false, true})
      check_folded_lookup(trie, folded, lookup.query, lookup.max_dist, lookup.limit,
                          transpositions);
  }
}

}  // namespace kelvaro::fuzz
