#include "search/completion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "folded/best_payloads.h"
#include "test_support.h"

namespace kelvaro {
namespace {

using testing::make_trie;

// The words "abc" 1, "ax" 5, "b" 7 and "c" 2, laid out as the builder would:
//
//          0
//       a / | b \ c
//        1  2    3
//     b /  \ x
//      4    5
//    c |
//      6
// Folded, "bc" is one label: six folded nodes.
struct FourWords {
  CompactTrieArrays arrays = compact(
      make_trie({0, 3, 5, 5, 5, 6, 6}, U"-abcbxc",
                {std::nullopt, std::nullopt, 7, 2, std::nullopt, 5, 1}, {1, 2, 3, 4, 5, 6}));
  CompactTrie trie{arrays.spans()};
  std::vector<Payload> best_values = best_payloads_below(trie);
  PerFolded best{trie, best_values};
};

std::vector<std::pair<std::string, std::uint64_t>> texts(const std::vector<Completion>& found) {
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (const Completion& completion : found) out.emplace_back(completion.text, completion.distance);
  return out;
}

using Texts = std::vector<std::pair<std::string, std::uint64_t>>;

TEST(Complete, DistanceIsTheLeastOverBeginnings) {
  const FourWords four;
  const auto& [arrays, trie, best_values, best] = four;
  EXPECT_EQ(best_values, (std::vector<Payload>{7, 5, 7, 2, 1, 5}));
  // "abc" completes "ab" exactly, though "a" is one edit away; "c" and the
  // empty beginning of every word are two.
  EXPECT_EQ(texts(complete(trie, best, U"ab", 1, std::nullopt, true, false)),
            (Texts{{"abc", 0}, {"b", 1}, {"ax", 1}}));
  EXPECT_EQ(texts(complete(trie, best, U"ab", 1, std::nullopt, false, false)),
            (Texts{{"abc", 0}, {"ax", 1}, {"b", 1}}));
  EXPECT_EQ(texts(complete(trie, best, U"ab", 1, 2, false, false)), (Texts{{"abc", 0}, {"ax", 1}}));
  EXPECT_TRUE(complete(trie, best, U"ab", 1, 0, true, false).empty());
}

TEST(Complete, SwapOfNeighboursIsOneEdit) {
  const FourWords four;
  const auto& [arrays, trie, best_values, best] = four;
  EXPECT_EQ(texts(complete(trie, best, U"bac", 1, std::nullopt, true, false)), (Texts{}));
  EXPECT_EQ(texts(complete(trie, best, U"bac", 1, std::nullopt, true, true)), (Texts{{"abc", 1}}));
}

TEST(Complete, EmptyPrefixCompletesToEveryWordByPayload) {
  const FourWords four;
  const std::vector<Completion> found = complete(four.trie, four.best, U"", 0, 3, true, false);
  EXPECT_EQ(found, (std::vector<Completion>{{"b", 7, 0}, {"ax", 5, 0}, {"c", 2, 0}}));
}

TEST(Complete, TheEmptyWordAtTheRootTakesItsPlaceLikeAnyOther) {
  // The words "" 3, "a" 5 and "b" 1: against "x" each is one edit away.
  const CompactTrieArrays arrays = compact(make_trie({0, 2, 2}, U"-ab", {3, 5, 1}, {1, 2}));
  const CompactTrie trie(arrays.spans());
  const std::vector<Payload> best_values = best_payloads_below(trie);
  const PerFolded best(trie, best_values);
  EXPECT_EQ(complete(trie, best, U"x", 1, std::nullopt, true, false),
            (std::vector<Completion>{{"a", 5, 1}, {"", 3, 1}, {"b", 1, 1}}));
  EXPECT_EQ(texts(complete(trie, best, U"x", 1, std::nullopt, false, false)),
            (Texts{{"", 1}, {"a", 1}, {"b", 1}}));
  EXPECT_EQ(texts(complete(trie, best, U"x", 1, 1, false, false)), (Texts{{"", 1}}));
  // Out of reach of a prefix longer than max_dist.
  EXPECT_EQ(texts(complete(trie, best, U"ab", 1, std::nullopt, true, false)),
            (Texts{{"a", 1}, {"b", 1}}));
}

}  // namespace
}  // namespace kelvaro
