#include "search/completion.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

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
Trie four_words() {
  return make_trie({0, 3, 5, 5, 5, 6, 6}, U"-abcbxc",
                   {std::nullopt, std::nullopt, 7, 2, std::nullopt, 5, 1}, {1, 2, 3, 4, 5, 6});
}

std::vector<std::pair<std::string, std::uint64_t>> texts(const std::vector<Completion>& found) {
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (const Completion& completion : found) out.emplace_back(completion.text, completion.distance);
  return out;
}

using Texts = std::vector<std::pair<std::string, std::uint64_t>>;

TEST(Complete, DistanceIsTheLeastOverBeginnings) {
  const Trie trie = four_words();
  const std::vector<Payload> best = best_payloads_below(trie);
  EXPECT_EQ(best, (std::vector<Payload>{7, 5, 7, 2, 1, 5, 1}));
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
  const Trie trie = four_words();
  const std::vector<Payload> best = best_payloads_below(trie);
  EXPECT_EQ(texts(complete(trie, best, U"bac", 1, std::nullopt, true, false)), (Texts{}));
  EXPECT_EQ(texts(complete(trie, best, U"bac", 1, std::nullopt, true, true)), (Texts{{"abc", 1}}));
}

TEST(Complete, EmptyPrefixCompletesToEveryWordByPayload) {
  const Trie trie = four_words();
  const std::vector<Completion> found =
      complete(trie, best_payloads_below(trie), U"", 0, 3, true, false);
  EXPECT_EQ(found, (std::vector<Completion>{{"b", 7, 0}, {"ax", 5, 0}, {"c", 2, 0}}));
}

}  // namespace
}  // namespace kelvaro
