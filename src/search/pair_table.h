// Counts of word pairs: how often one stored word follows another in
// running text, which the text functions weigh a word by in its context.
//
// A pair is keyed by the numbers of its two words, a word's number being
// the rank of its folded node among those with a word (the index of its
// payload): first << 32 | second. The keys are sorted and distinct, each
// with its count beside it, so a pair is found by binary search and the
// table is two arrays read in place from a mapped file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kelvaro {

struct PairTableSpans {
  std::span<const std::uint64_t> keys;
  std::span<const std::uint32_t> counts;

  std::size_t bytes() const { return keys.size_bytes() + counts.size_bytes(); }
};

inline std::uint64_t pair_key(std::uint32_t first, std::uint32_t second) {
  return std::uint64_t{first} << 32 | second;
}

// What is wrong with a table read from outside, or nothing: one count a
// key, the keys in increasing order, and both words of each below
// `word_count`.
std::optional<std::string> pair_table_problem(const PairTableSpans& spans, std::size_t word_count);

// The count of the pair (first, second), or none for a pair not counted.
// `spans` may be the whole table or any run of it that holds every pair
// beginning with `first`, such as pair_row(first).
std::optional<std::uint32_t> pair_count(const PairTableSpans& spans, std::uint32_t first,
                                        std::uint32_t second);

// The run of the table whose pairs begin with `first`: a caller that weighs
// many words after the same one searches it alone, a few keys rather than
// the whole table.
PairTableSpans pair_row(const PairTableSpans& spans, std::uint32_t first);

}  // namespace kelvaro
