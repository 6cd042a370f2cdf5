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
  Typo letter, vowel, doubled, apostrophe;
};
constexpr InOrOut kLeftOut{Typo::kLeftOut, Typo::kVowelLeftOut, Typo::kDoubledLeftOut,
                           Typo::kApostropheLeftOut};
constexpr InOrOut kTypedTooMany{Typo::kTypedTooMany, Typo::kVowelTypedTooMany,
                                Typo::kDoubledTypedTooMany, Typo::kApostropheTypedTooMany};

// The price of getting text[k] (lower case) wrong the given way.
std::uint32_t in_or_out(std::u32string_view text, std::size_t k, InOrOut way) {
  std::uint32_t cost = typo_price(way.letter);
  if (is_vowel(text[k])) cost = std::min(cost, typo_price(way.vowel));
  if (text[k] == kApostrophe) cost = std::min(cost, typo_price(way.apostrophe));
  if ((k > 0 && text[k - 1] == text[k]) || (k + 1 < text.size() && text[k + 1] == text[k]))
    cost = std::min(cost, typo_price(way.doubled));
  return cost;
}

}  // namespace

char32_t lower_case_beyond_ascii(char32_t ch) {
  // The last run that starts at or before the character.
  const CaseRun* run = std::upper_bound(std::begin(kCaseRuns), std::end(kCaseRuns), ch,
                                        [](char32_t c, const CaseRun& r) { return c < r.first; });
  if (run == std::begin(kCaseRuns)) return ch;
  --run;
  if (ch > run->last || (ch - run->first) % run->step != 0) return ch;
  return static_cast<char32_t>(static_cast<std::int64_t>(ch) + run->delta);
}

std::uint32_t left_out_price(std::u32string_view meant, std::size_t k) {
  return in_or_out(meant, k, kLeftOut);
}

std::uint32_t least_in_or_out_price() {
  return std::min({typo_price(Typo::kLeftOut), typo_price(Typo::kVowelLeftOut),
                   typo_price(Typo::kDoubledLeftOut), typo_price(Typo::kApostropheLeftOut),
                   typo_price(Typo::kTypedTooMany), typo_price(Typo::kVowelTypedTooMany),
                   typo_price(Typo::kDoubledTypedTooMany),
                   typo_price(Typo::kApostropheTypedTooMany)});
}

TypoRows::TypoRows(std::u32string_view typed) : typed_(typed), lower_(typed) {
  std::transform(lower_.begin(), lower_.end(), lower_.begin(), lower_case);
  typed_in_.resize(typed.size());
  for (std::size_t k = 0; k < typed.size(); ++k) typed_in_[k] = in_or_out(lower_, k, kTypedTooMany);
}

void TypoRows::first(std::uint32_t* row) const {
  row[0] = 0;
  for (std::size_t j = 1; j < width(); ++j) row[j] = row[j - 1] + typed_in_[j - 1];
}

void TypoRows::make_ascii_row(char32_t ch) const {
  const std::size_t n = typed_.size();
  if (ascii_rows_.empty()) ascii_rows_.resize(128 * n);
  std::uint32_t* row = ascii_rows_.data() + ch * n;
  const char32_t a = lower_case(ch);
  for (std::size_t j = 0; j < n; ++j) row[j] = substitution(ch, typed_[j], a, lower_[j]);
  ascii_made_[ch] = true;
}

std::uint32_t TypoRows::next(char32_t ch, std::optional<char32_t> before, std::uint32_t left_out,
                             const std::uint32_t* parent, const std::uint32_t* grandparent,
                             std::uint32_t* row) const {
  const char32_t a = lower_case(ch);
  const char32_t a_before = before ? lower_case(*before) : 0;
  const char32_t* b = lower_.data();
  const std::uint32_t* ascii = ch < 128 ? ascii_substitutions(ch) : nullptr;
  row[0] = parent[0] + left_out;
  std::uint32_t smallest = row[0];
  for (std::size_t j = 1; j < width(); ++j) {
    std::uint32_t best =
        parent[j - 1] +
        (ascii != nullptr ? ascii[j - 1] : substitution(ch, typed_[j - 1], a, b[j - 1]));
    best = std::min(best, parent[j] + left_out);
    best = std::min(best, row[j - 1] + typed_in_[j - 1]);
    if (before && j > 1 && a == b[j - 2] && a_before == b[j - 1] && a != b[j - 1])
      best = std::min(best, grandparent[j - 2] + typo_price(Typo::kSwap));
    row[j] = best;
    smallest = std::min(smallest, best);
  }
  return smallest;
}

std::uint32_t TypoRows::cost(std::u32string_view meant, std::uint32_t give_up_above) const {
  meant_lower_.assign(meant);
  std::transform(meant_lower_.begin(), meant_lower_.end(), meant_lower_.begin(), lower_case);
  // The two rows before the current one are kept for swaps.
  const std::size_t columns = width();
  rows_.resize(3 * columns);
  std::uint32_t* before = rows_.data();
  std::uint32_t* previous = before + columns;
  std::uint32_t* current = previous + columns;
  first(previous);
  // Prices are never negative, and a path through the table steps down one
  // row, or two with a swap: whatever lies beyond two rows costs at least
  // the least of them.
  std::uint32_t least_before = 0;
  for (std::size_t i = 0; i < meant.size(); ++i) {
    const std::uint32_t least = next(meant[i], i > 0 ? std::optional(meant[i - 1]) : std::nullopt,
                                     left_out_price(meant_lower_, i), previous, before, current);
    if (std::min(least, least_before) > give_up_above) return std::min(least, least_before);
    least_before = least;
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[typed_.size()];
}

std::uint32_t typo_cost(std::u32string_view meant, std::u32string_view typed) {
  return TypoRows(typed).cost(meant);
}

}  // namespace kelvaro
