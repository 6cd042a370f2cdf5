#include "folded/compact_trie.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "build/trie_builder.h"
#include "prefix/queries.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

// Random index tries: few letters, so that words share prefixes, branch and
// end inside each other's chains; some letters outside one byte's alphabet.
Trie random_index_trie(std::mt19937& random, std::u32string letters, std::size_t words) {
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < words; ++i) {
    std::u32string word;
    const std::size_t length = random() % 7;
    for (std::size_t j = 0; j < length; ++j) word += letters[random() % letters.size()];
    keys.push_back(utf8::encode(word));
  }
  std::vector<std::string_view> views(keys.begin(), keys.end());
  return build_trie(views, {}).trie;
}

std::vector<Match> walk(const auto& trie, std::u32string_view query, std::uint64_t max_dist,
                        bool transpositions) {
  const EditBand band(query, max_dist, std::max<std::uint64_t>(query.size(), trie.height()));
  std::vector<Match> found;
  TreeWalk(trie, band, max_dist, transpositions)
      .run([&](auto node, std::u32string_view path, Cell d) {
        found.push_back({utf8::encode(path), trie.payload(node), d});
        return true;
      });
  return found;
}

TEST(CompactTrie, AnswersAsTheTrieItWasFoldedFrom) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const std::u32string letters = round % 3 == 0 ? U"ab\u00e9\u4e00" : U"abc";
    const Trie trie = random_index_trie(random, letters, 1 + random() % 12);
    const CompactTrieArrays arrays = compact(trie);
    ASSERT_EQ(view_problem(arrays.spans()), std::nullopt);
    const CompactTrie folded(arrays.spans());
    // Unfolded, it is the same four arrays.
    const Trie back = folded.unpacked();
    ASSERT_EQ(back.node_shifts(), trie.node_shifts());
    ASSERT_EQ(back.node_chars(), trie.node_chars());
    ASSERT_EQ(back.node_payloads(), trie.node_payloads());
    for (int q = 0; q < 10; ++q) {
      std::u32string query;
      for (std::size_t j = random() % 6; j-- > 0;) query += letters[random() % letters.size()];
      const std::uint64_t max_dist = random() % 3;
      const bool swaps = random() % 2;
      // The two differ at the root alone: the fold reports the empty word
      // stored there, first, and a Trie's walk never reports its root.
      std::vector<Match> expected = walk(trie, query, max_dist, swaps);
      const std::optional<Payload> root = trie.payload(Trie::root());
      if (root && query.size() <= max_dist)
        expected.insert(expected.begin(), Match{"", root, query.size()});
      ASSERT_EQ(walk(folded, query, max_dist, swaps), expected);
      const auto exact = find_exact(folded, query);
      const auto in_trie = find_exact(trie, query);
      std::optional<Payload> stored = root;
      if (!query.empty()) stored = in_trie ? trie.payload(*in_trie) : std::nullopt;
      EXPECT_EQ(exact ? folded.payload(*exact) : std::nullopt, stored);
    }
  }
}

TEST(CompactTrie, RefusesArraysThatWouldLeadAWalkAstray) {
  std::mt19937 random(11);
  const CompactTrieArrays good = compact(random_index_trie(random, U"abc", 20));
  const auto spoiled = [&](auto change) {
    CompactTrieArrays copy = good;
    change(copy);
    return view_problem(copy.spans()).has_value();
  };
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.first_child[1] = 0; }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.label_end.back() += 1; }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.ends[1] += 1; }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.payloads.pop_back(); }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.ranks.pop_back(); }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.rank_width = 3; }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { a.height -= 1; }));
  EXPECT_TRUE(spoiled([](CompactTrieArrays& a) { std::swap(a.label_end[1], a.label_end[2]); }));
}

// Every rank of `bits` (over `size` bits) against a count of the bits before.
void expect_ranks_counted(const RankedBits& bits, std::size_t size, const char* which) {
  std::size_t counted = 0;
  for (std::size_t i = 0; i <= size; ++i) {
    ASSERT_EQ(bits.rank(i), counted) << which << " bit " << i << " of " << size;
    if (i < size && bits.test(i)) ++counted;
  }
}

void expect_ranks_counted(const std::vector<std::string>& words) {
  std::vector<std::string> sorted = words;
  std::sort(sorted.begin(), sorted.end());
  const std::vector<std::string_view> views(sorted.begin(), sorted.end());
  const CompactTrieArrays arrays = compact(build_trie(views, {}).trie);
  const CompactTrie trie(arrays.spans());
  expect_ranks_counted(RankedBits(arrays.ends), trie.node_count(), "ends");
  expect_ranks_counted(RankedBits(arrays.has_word), trie.folded_count(), "has_word");
}

TEST(CompactTrie, RanksAreCountsAtEveryBlockBoundary) {
  for (const std::size_t size : {1, 2, 63, 64, 65, 127, 128, 129, 191, 192, 193, 255, 256, 257}) {
    // A chain: `size` nodes, two folded ones.
    expect_ranks_counted({std::string(size - 1, 'a')});
    // A root with size - 1 words below it: `size` nodes and folded nodes.
    std::vector<std::string> leaves;
    for (std::size_t i = 1; i < size; ++i)
      leaves.push_back(utf8::encode(std::u32string(1, 0x4e00 + i)));
    expect_ranks_counted(leaves);
  }
  std::mt19937 random(29);
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> words;
    for (std::size_t i = random() % 300; i-- > 0;) {
      std::string word;
      for (std::size_t j = 1 + random() % 8; j-- > 0;)
        word += static_cast<char>('a' + random() % 4);
      words.push_back(word);
    }
    std::sort(words.begin(), words.end());
    words.erase(std::unique(words.begin(), words.end()), words.end());
    expect_ranks_counted(words);
  }
}

}  // namespace
}  // namespace kelvaro
