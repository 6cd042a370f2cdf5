#include "search/typo_cost.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace kelvaro {
namespace {

char32_t lower(char32_t ch) {
  return ch >= U'A' && ch <= U'Z' ? ch + (U'a' - U'A') : ch;
}

bool is_vowel(char32_t ch) {
  return ch == U'a' || ch == U'e' || ch == U'i' || ch == U'o' || ch == U'u';
}

// Pairs of lower-case ASCII letters, as bits of a 26 x 26 table.
class LetterPairs {
 public:
  void add(char a, char b) {
    bits_[index(a, b)] = true;
    bits_[index(b, a)] = true;
  }
  bool holds(char32_t a, char32_t b) const {
    return a >= U'a' && a <= U'z' && b >= U'a' && b <= U'z' &&
           bits_[index(static_cast<char>(a), static_cast<char>(b))];
  }

 private:
  static std::size_t index(char a, char b) {
    return static_cast<std::size_t>(a - 'a') * 26 + static_cast<std::size_t>(b - 'a');
  }
  std::array<bool, 26 * 26> bits_{};
};

// Keys that touch: the next key on the same row, and the two below.
LetterPairs keyboard_neighbours() {
  constexpr std::string_view kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  LetterPairs pairs;
  for (std::size_t r = 0; r < std::size(kRows); ++r) {
    const std::string_view row = kRows[r];
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i + 1 < row.size()) pairs.add(row[i], row[i + 1]);
      if (r + 1 == std::size(kRows)) continue;
      const std::string_view below = kRows[r + 1];
      if (i >= 1 && i - 1 < below.size()) pairs.add(row[i], below[i - 1]);
      if (i < below.size()) pairs.add(row[i], below[i]);
    }
  }
  return pairs;
}

LetterPairs sound_alike() {
  LetterPairs pairs;
  for (std::string_view pair : {"cs", "ck", "sz", "kq", "gj", "fv", "bp", "dt", "mn"})
    pairs.add(pair[0], pair[1]);
  return pairs;
}

const LetterPairs kKeyboard = keyboard_neighbours();
const LetterPairs kSoundAlike = sound_alike();

std::uint32_t substitution(char32_t meant, char32_t typed) {
  if (meant == typed) return 0;
  const char32_t a = lower(meant);
  const char32_t b = lower(typed);
  if (a == b) return TypoCosts::kCase;
  std::uint32_t cost = TypoCosts::kEdit;
  if (is_vowel(a) && is_vowel(b)) cost = std::min(cost, TypoCosts::kVowel);
  if (kKeyboard.holds(a, b)) cost = std::min(cost, TypoCosts::kNeighbourKey);
  if (kSoundAlike.holds(a, b)) cost = std::min(cost, TypoCosts::kSoundAlike);
  return cost;
}

// The price of leaving out, or typing too many, each letter of `text`
// (lower case).
void in_or_out(std::u32string_view text, std::vector<std::uint32_t>& out) {
  out.resize(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    std::uint32_t cost = TypoCosts::kEdit;
    if (is_vowel(text[k])) cost = std::min(cost, TypoCosts::kVowelInOrOut);
    if ((k > 0 && text[k - 1] == text[k]) || (k + 1 < text.size() && text[k + 1] == text[k]))
      cost = std::min(cost, TypoCosts::kDoubledLetter);
    out[k] = cost;
  }
}

}  // namespace

std::uint32_t typo_cost(std::u32string_view meant, std::u32string_view typed) {
  std::u32string a(meant), b(typed);
  std::transform(a.begin(), a.end(), a.begin(), lower);
  std::transform(b.begin(), b.end(), b.begin(), lower);
  std::vector<std::uint32_t> left_out, typed_in;
  in_or_out(a, left_out);
  in_or_out(b, typed_in);
  // Rows over the meant word, columns over the typed text; the two rows
  // before the current one are kept for swaps.
  const std::size_t columns = b.size() + 1;
  std::vector<std::uint32_t> before(columns), previous(columns), current(columns);
  for (std::size_t j = 1; j < columns; ++j) previous[j] = previous[j - 1] + typed_in[j - 1];
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = previous[0] + left_out[i - 1];
    for (std::size_t j = 1; j < columns; ++j) {
      std::uint32_t best = previous[j - 1] + substitution(meant[i - 1], typed[j - 1]);
      best = std::min(best, previous[j] + left_out[i - 1]);
      best = std::min(best, current[j - 1] + typed_in[j - 1]);
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && a[i - 1] != b[j - 1])
        best = std::min(best, before[j - 2] + TypoCosts::kSwap);
      current[j] = best;
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

}  // namespace kelvaro
