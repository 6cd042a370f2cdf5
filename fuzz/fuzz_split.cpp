// The split search of an index, and its one-edit search, against the plain
// walk they stand in for.
//
// The input is a word list over a small alphabet, built into an index trie
// as the package builds one and folded, as the index keeps it, then
// lookups: a query, max_dist, limit and whether swaps count. The reversed
// trie, made from the fold, must hold every word reversed with its payload.
// Every lookup must give exactly the plain walk's matches on the unfolded
// trie, in its order, whether or not the split is expected to pay, with the
// root's empty word first where the fold's walk meets it; so must the
// one-edit search, at max_dist 1, whatever its length.
//
// An input whose first byte has bit 6 set has every one of 64 ideographs
// as a word too, and spells its other words and its queries over six of
// them spread among the rest, so that the root has far more children than the
// nodes below it, as on a large alphabet, and the nodes share characters.
//
// Input layout: the word count; per word its length and characters; then
// per lookup the query's length and characters, max_dist, limit and the
// transpositions flag, one byte each.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build/reversed_trie.h"
#include "build/trie_builder.h"
#include "checks.h"
#include "entry_points.h"
#include "fold_checks.h"
#include "input_reader.h"
#include "prefix/queries.h"
#include "prefix/utf8.h"
#include "search/one_edit_search.h"
#include "search/split_search.h"
#include "small_words.h"

namespace kelvaro::fuzz {

namespace {

constexpr char32_t kWideAlphabet = 64;
constexpr char32_t kWideSpelling = 6;

std::u32string read_text(InputReader& reader, std::size_t longest, bool wide) {
  if (!wide) return read_small_text(reader, longest);
  std::u32string text;
  for (std::size_t i = reader.byte() % (longest + 1); i > 0; --i)
    text.push_back(U'\u4e00' + reader.byte() % kWideSpelling * 11);
  return text;
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  std::vector<std::string> words;
  const std::uint8_t first = reader.byte();
  const bool wide = (first >> 6) & 1;
  for (std::size_t i = 1 + first % 64; i > 0; --i)
    words.push_back(utf8::encode(read_text(reader, 10, wide)));
  for (char32_t i = 0; wide && i < kWideAlphabet; ++i)
    words.push_back(utf8::encode(std::u32string(1, U'\u4e00' + i)));
  const std::vector<std::string_view> keys(words.begin(), words.end());
  const Trie trie = build_trie(keys, {}).trie;
  const CompactTrieArrays forward_arrays = fold(trie);
  const CompactTrie forward(forward_arrays.spans());
  const CompactTrieArrays backward_arrays = reversed_trie(forward);
  require(!view_problem(backward_arrays.spans()).has_value(),
          "a reversed trie fails the shape check");
  const CompactTrie backward(backward_arrays.spans());
  require(can_split(forward, backward), "an index trie cannot be split");
  // The empty word, at the root, is left out: the forward walks meet the
  // root first, and report it where a query is short enough to reach it.
  require(backward.payloads().size() + forward.has_payload(0) == forward.payloads().size(),
          "the reversed trie holds another number of words");
  for (const std::string& word : words) {
    const std::u32string text = utf8::decode(word);
    if (text.empty()) continue;
    const auto node = find_exact(forward, text);
    const auto back = find_exact(backward, std::u32string(text.rbegin(), text.rend()));
    require(back.has_value() == node.has_value() &&
                (!node || backward.payload(*back) == forward.payload(*node)),
            "the reversed trie does not hold a word reversed with its payload");
  }

  for (int lookups = 1 + reader.byte() % 3; lookups > 0; --lookups) {
    const std::u32string query = read_text(reader, 14, wide);
    const std::uint64_t max_dist = reader.byte() % 5;
    const std::uint8_t limit_byte = reader.byte();
    const std::optional<std::uint64_t> limit =
        limit_byte == 0 ? std::nullopt : std::optional<std::uint64_t>((limit_byte - 1) % 10);
    const bool transpositions = reader.byte() & 1;
    const std::vector<Match> expected =
        expected_folded_walk(trie, query, max_dist, limit, transpositions);
    require(split_search(forward, backward, query, max_dist, limit, transpositions) == expected,
            "the split search differs from the plain walk");
    if (max_dist == 1)
      require(one_edit_search(forward, backward, query, limit, transpositions) == expected,
              "the one-edit search differs from the plain walk");
  }
}

}  // namespace kelvaro::fuzz
