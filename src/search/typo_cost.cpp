#include "search/typo_cost.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

namespace kelvaro {
namespace {

// Runs of letters whose lower-case forms lie the same distance away.
struct CaseRun {
  char32_t first;
  char32_t last;
  std::uint32_t step;
  std::int32_t delta;
};

constexpr CaseRun kCaseRuns[] = {
#include "search/letter_case_table.inc"
};

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

// The price of typing `typed` for `meant`, given both in lower case too.
std::uint32_t substitution(char32_t meant, char32_t typed, char32_t a, char32_t b) {
  if (meant == typed) return 0;
  if (a == b) return typo_price(Typo::kCase);
  std::uint32_t cost = typo_price(Typo::kOther);
  if (is_vowel(a) && is_vowel(b)) cost = std::min(cost, typo_price(Typo::kVowel));
  if (kKeyboard.holds(a, b)) cost = std::min(cost, typo_price(Typo::kNeighbourKey));
  if (kSoundAlike.holds(a, b)) cost = std::min(cost, typo_price(Typo::kSoundAlike));
  return cost;
}

// The prices of one way of getting a letter wrong by itself: leaving it
// out of the text, or typing it too many.
struct InOrOut {
  Typo letter, vowel, doubled;
};
constexpr InOrOut kLeftOut{Typo::kLeftOut, Typo::kVowelLeftOut, Typo::kDoubledLeftOut};
constexpr InOrOut kTypedTooMany{Typo::kTypedTooMany, Typo::kVowelTypedTooMany,
                                Typo::kDoubledTypedTooMany};

// The price of each letter of `text` (lower case) got wrong the given way.
void in_or_out(std::u32string_view text, InOrOut way, std::vector<std::uint32_t>& out) {
  out.resize(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    std::uint32_t cost = typo_price(way.letter);
    if (is_vowel(text[k])) cost = std::min(cost, typo_price(way.vowel));
    if ((k > 0 && text[k - 1] == text[k]) || (k + 1 < text.size() && text[k + 1] == text[k]))
      cost = std::min(cost, typo_price(way.doubled));
    out[k] = cost;
  }
}

}  // namespace

char32_t lower_case(char32_t ch) {
  if (ch < 0x80) return ch >= U'A' && ch <= U'Z' ? ch + (U'a' - U'A') : ch;
  // The last run that starts at or before the character.
  const CaseRun* run = std::upper_bound(std::begin(kCaseRuns), std::end(kCaseRuns), ch,
                                        [](char32_t c, const CaseRun& r) { return c < r.first; });
  if (run == std::begin(kCaseRuns)) return ch;
  --run;
  if (ch > run->last || (ch - run->first) % run->step != 0) return ch;
  return static_cast<char32_t>(static_cast<std::int64_t>(ch) + run->delta);
}

std::uint32_t typo_cost(std::u32string_view meant, std::u32string_view typed) {
  std::u32string a(meant), b(typed);
  std::transform(a.begin(), a.end(), a.begin(), lower_case);
  std::transform(b.begin(), b.end(), b.begin(), lower_case);
  std::vector<std::uint32_t> left_out, typed_in;
  in_or_out(a, kLeftOut, left_out);
  in_or_out(b, kTypedTooMany, typed_in);
  // Rows over the meant word, columns over the typed text; the two rows
  // before the current one are kept for swaps.
  const std::size_t columns = b.size() + 1;
  std::vector<std::uint32_t> before(columns), previous(columns), current(columns);
  for (std::size_t j = 1; j < columns; ++j) previous[j] = previous[j - 1] + typed_in[j - 1];
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = previous[0] + left_out[i - 1];
    for (std::size_t j = 1; j < columns; ++j) {
      std::uint32_t best =
          previous[j - 1] + substitution(meant[i - 1], typed[j - 1], a[i - 1], b[j - 1]);
      best = std::min(best, previous[j] + left_out[i - 1]);
      best = std::min(best, current[j - 1] + typed_in[j - 1]);
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && a[i - 1] != b[j - 1])
        best = std::min(best, before[j - 2] + typo_price(Typo::kSwap));
      current[j] = best;
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

}  // namespace kelvaro
