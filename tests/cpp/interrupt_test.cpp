// Every long path of a lookup counts its work, so that Ctrl-C reaches it.
//
// Each test runs one path alone, many times over, with a hook that counts
// its calls: a path that counts nothing never reaches the hook, however
// long the loop. The count is the thread's, so short calls add up as one
// long call does.
#include "prefix/interrupt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build/trie_builder.h"
#include "folded/compact_trie.h"
#include "index/parallel.h"
#include "search/delete_table.h"
#include "search/sound_key.h"
#include "search/sound_table.h"

namespace kelvaro {
namespace {

// How many times the hook ran, and after how many it stops the work.
int hook_calls = 0;
int stop_after = 0;

void counting_hook() {
  ++hook_calls;
  if (stop_after > 0 && hook_calls >= stop_after) throw Interrupted();
}

class InterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hook_calls = 0;
    stop_after = 0;
    InterruptCheck::install(counting_hook);
  }
  void TearDown() override { InterruptCheck::install(nullptr); }

  // At least this many calls for `units` of work, wherever the thread's
  // count stood when it began.
  static int least_calls(std::size_t units) { return static_cast<int>(units / (1u << 14)); }
};

TEST_F(InterruptTest, TheTableOfDeletionsCountsWhatItLooksAt) {
  // Every word of one or two letters is filed under the empty deletion, so
  // a lookup of "ab" within two edits meets them all.
  std::vector<std::string> words;
  for (char a = 'a'; a <= 'z'; ++a) {
    words.push_back(std::string(1, a));
    for (char b = 'a'; b <= 'z'; ++b) words.push_back(std::string{a, b});
  }
  const std::vector<std::string_view> views(words.begin(), words.end());
  const DeleteTableArrays arrays = make_delete_table(views);
  const DeleteTable table(arrays.spans());
  hook_calls = 0;
  std::size_t met = 0;
  constexpr int kLookups = 200;
  for (int i = 0; i < kLookups; ++i)
    table.for_each_near(U"ab", 2, [&](std::uint32_t, std::u32string_view) { ++met; });
  ASSERT_EQ(met, kLookups * words.size());
  EXPECT_GE(hook_calls, least_calls(met));
  EXPECT_GT(hook_calls, 0);
}

TEST_F(InterruptTest, TheSoundTableCountsTheWordsOfAKey) {
  // "t", vowels, "n": most sound alike.
  std::vector<std::string> words;
  std::vector<std::string> middles{""};
  for (int length = 1; length <= 5; ++length) {
    std::vector<std::string> longer;
    for (const std::string& middle : middles)
      for (const char vowel : std::string("aeiou")) longer.push_back(middle + vowel);
    for (const std::string& middle : longer) words.push_back("t" + middle + "n");
    middles = std::move(longer);
  }
  std::sort(words.begin(), words.end());
  const std::vector<std::string_view> views(words.begin(), words.end());
  const CompactTrieArrays forward = compact(build_trie(views, {}).trie);
  const SoundTableArrays arrays = make_sound_table(CompactTrie(forward.spans()));
  const SoundTable table(arrays.spans());
  const std::string key = *sound_key(U"tan");
  hook_calls = 0;
  std::size_t met = 0;
  constexpr int kLookups = 50;
  for (int i = 0; i < kLookups; ++i)
    table.for_each_sounding(key, [&](std::u32string_view) { ++met; });
  ASSERT_GT(met, kLookups * words.size() / 2);
  EXPECT_GE(hook_calls, least_calls(met));
  EXPECT_GT(hook_calls, 0);
}

TEST_F(InterruptTest, TheBatchRunnerCountsEveryItem) {
  // Items that count nothing themselves, as exact lookups do.
  constexpr std::size_t kItems = 1'000'000;
  std::size_t worked = 0;
  run_in_parallel(
      kItems, 1, [&](std::size_t) { ++worked; }, [](std::size_t, std::size_t) {}, [] {});
  ASSERT_EQ(worked, kItems);
  EXPECT_GE(hook_calls, least_calls(kItems));
  EXPECT_GT(hook_calls, 0);
}

TEST_F(InterruptTest, AnInterruptedBatchStopsThere) {
  stop_after = 2;
  constexpr std::size_t kItems = 100'000'000;
  std::size_t worked = 0;
  EXPECT_THROW(
      run_in_parallel(
          kItems, 1, [&](std::size_t) { ++worked; }, [](std::size_t, std::size_t) {}, [] {}),
      Interrupted);
  // The hook's second call comes within two intervals of counting.
  EXPECT_LE(worked, std::size_t{2} << 14);
}

}  // namespace
}  // namespace kelvaro
