#include "search/pair_table.h"

#include <algorithm>

namespace kelvaro {

std::optional<std::string> pair_table_problem(const PairTableSpans& spans, std::size_t word_count) {
  if (spans.keys.size() != spans.counts.size()) return "its pairs and counts differ in number";
  for (std::size_t i = 0; i < spans.keys.size(); ++i) {
    const std::uint64_t key = spans.keys[i];
    if (i > 0 && key <= spans.keys[i - 1]) return "its pairs are not in increasing order";
    if ((key >> 32) >= word_count || (key & 0xFFFFFFFF) >= word_count)
      return "a pair names a word the index does not hold";
  }
  return std::nullopt;
}

std::optional<std::uint32_t> pair_count(const PairTableSpans& spans, std::uint32_t first,
                                        std::uint32_t second) {
  const std::uint64_t key = pair_key(first, second);
  const auto place = std::lower_bound(spans.keys.begin(), spans.keys.end(), key);
  if (place == spans.keys.end() || *place != key) return std::nullopt;
  return spans.counts[static_cast<std::size_t>(place - spans.keys.begin())];
}

PairTableSpans pair_row(const PairTableSpans& spans, std::uint32_t first) {
  const std::span<const std::uint64_t> keys = spans.keys;
  const auto begin = static_cast<std::size_t>(
      std::lower_bound(keys.begin(), keys.end(), pair_key(first, 0)) - keys.begin());
  // Most rows are short: their end is found in steps that double from
  // their start, rather than by a search of the rest of the table.
  const std::uint64_t last = pair_key(first, 0xFFFFFFFF);
  std::size_t low = begin;
  std::size_t step = 1;
  while (step < keys.size() - low && keys[low + step] <= last) {
    low += step;
    step *= 2;
  }
  const std::size_t high = std::min(keys.size(), low + step);
  const auto end = static_cast<std::size_t>(
      std::upper_bound(keys.begin() + static_cast<std::ptrdiff_t>(low),
                       keys.begin() + static_cast<std::ptrdiff_t>(high), last) -
      keys.begin());
  return {keys.subspan(begin, end - begin), spans.counts.subspan(begin, end - begin)};
}

}  // namespace kelvaro
