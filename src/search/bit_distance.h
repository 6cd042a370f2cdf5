// The distance between one short query and many texts, a swap of
// neighbouring characters counting as one edit (the optimal string
// alignment distance, as edit_distance(a, b, true) measures it), with the
// query's column of the table held as bits of a word: a text of n
// characters costs n rounds of a dozen operations on 64-bit words, where a
// band of cells costs a few dozen per character. This is Hyyrö's
// bit-parallel algorithm (2003), with his step for transpositions.
//
// Bit i of a mask stands for query character i. Per text character, VP and
// VN say where the last column of the table steps up or down by one from
// one row to the next; the distance is the bottom cell, kept as a count.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvaro {

class BitDistance {
 public:
  // The longest query it measures from.
  static constexpr std::size_t kLongest = 64;

  // `query` must be at most kLongest characters; it is borrowed.
  explicit BitDistance(std::u32string_view query) : query_(query) {
    for (std::size_t i = 0; i < query.size(); ++i) {
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (query[i] < kAscii) {
        ascii_[query[i]] |= bit;
        continue;
      }
      const auto known = std::find_if(other_.begin(), other_.end(),
                                      [&](const auto& each) { return each.first == query[i]; });
      if (known == other_.end())
        other_.emplace_back(query[i], bit);
      else
        known->second |= bit;
    }
  }

  std::uint64_t distance_to(std::u32string_view text) const {
    const std::size_t m = query_.size();
    if (m == 0) return text.size();
    const std::uint64_t last = std::uint64_t{1} << (m - 1);
    std::uint64_t vp = ~std::uint64_t{0}, vn = 0, d0 = 0, matches_before = 0;
    std::uint64_t distance = m;
    for (const char32_t ch : text) {
      const std::uint64_t matches = matches_of(ch);
      // A match here whose neighbour matched the character before, where
      // the diagonal did not already step: a swap.
      const std::uint64_t swapped = ((~d0 & matches) << 1) & matches_before;
      d0 = (((matches & vp) + vp) ^ vp) | matches | vn | swapped;
      std::uint64_t hp = vn | ~(d0 | vp);
      std::uint64_t hn = d0 & vp;
      if (hp & last) ++distance;
      if (hn & last) --distance;
      hp = (hp << 1) | 1;
      hn <<= 1;
      vp = hn | ~(d0 | hp);
      vn = hp & d0;
      matches_before = matches;
    }
    return distance;
  }

 private:
  static constexpr char32_t kAscii = 128;

  std::uint64_t matches_of(char32_t ch) const {
    if (ch < kAscii) return ascii_[ch];
    for (const auto& [other, bits] : other_)
      if (other == ch) return bits;
    return 0;
  }

  std::u32string_view query_;
  std::array<std::uint64_t, kAscii> ascii_{};
  std::vector<std::pair<char32_t, std::uint64_t>> other_;
};

}  // namespace kelvaro
