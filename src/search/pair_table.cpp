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

}  // namespace kelvaro
