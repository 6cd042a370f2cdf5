// How likely a typo is: a weighted edit cost between the word that was meant
// and the text that was typed.
//
// The cost is the optimal string alignment distance with a price per
// operation that depends on the letters involved, in tenths of an ordinary
// edit. Slips that people make often cost less:
//
//   substitution of a letter for another                    10
//     a vowel for a vowel (a e i o u)                         6
//     a neighbouring key on a QWERTY keyboard                 7
//     letters that can sound alike (c-s c-k s-z k-q g-j
//     f-v b-p d-t m-n)                                        5
//     the same letter in the other case                       2
//   a letter of the word left out of the text                 5
//     a vowel                                                 3
//     a letter beside the same letter (a doubled letter)      3
//     an apostrophe                                           2
//   a letter typed too many                                   9
//     a vowel                                                 6
//     a letter beside the same letter (a doubled letter)      4
//     an apostrophe                                           2
//   two neighbouring letters swapped                          3
//
// Leaving a letter out and typing one too many are priced apart: people
// drop letters far more often than they add them. The prices are fitted to
// real misspellings by maximum likelihood (tools/fit_typo_weights.py), as
// are the sound bonuses below and the weight of a word's frequency
// (suggestions.h). Two are set by rule, as the misspellings fitted to are
// all lower case and without apostrophes: a difference of case alone is the
// cheapest change there is (typing a name in lower case is the commonest
// slip of all), and an apostrophe left out or put in ("dont", "its'") costs
// as little. Both are two tenths, no less, as a swap (two counted edits)
// costs three: no operation costs under one and a half tenths per counted
// edit, which the searches prune by. suggestions.h ranks a difference of
// case alone before every other candidate besides.
//
// Where several prices apply, the least does. Letters are compared in lower
// case for everything but the case rule; every letter that Unicode gives a
// lower-case form has a case here, and only ASCII letters are vowels, keys
// or sounds.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvaro {

// The operations that the typo cost prices.
enum class Typo : std::size_t {
  kOther,
  kVowel,
  kNeighbourKey,
  kSoundAlike,
  kCase,
  kLeftOut,
  kVowelLeftOut,
  kDoubledLeftOut,
  kTypedTooMany,
  kVowelTypedTooMany,
  kDoubledTypedTooMany,
  kSwap,
  kApostropheLeftOut,
  kApostropheTypedTooMany,
};

struct TypoPrice {
  Typo typo;
  std::uint32_t cost;
  // The most edits of the counted distance (the optimal string alignment
  // distance, which compares characters with their case) that one use of
  // the operation can stand for. A swap compares letters without case, so
  // "Ab" typed for "bA" is one swap here and two substitutions there.
  std::uint32_t edits;
};

// Every price the typo cost uses, in the order of Typo.
inline constexpr std::array<TypoPrice, 14> kTypoPrices{{
    {Typo::kOther, 10, 1},
    {Typo::kVowel, 6, 1},
    {Typo::kNeighbourKey, 7, 1},
    {Typo::kSoundAlike, 5, 1},
    {Typo::kCase, 2, 1},
    {Typo::kLeftOut, 5, 1},
    {Typo::kVowelLeftOut, 3, 1},
    {Typo::kDoubledLeftOut, 3, 1},
    {Typo::kTypedTooMany, 9, 1},
    {Typo::kVowelTypedTooMany, 6, 1},
    {Typo::kDoubledTypedTooMany, 4, 1},
    {Typo::kSwap, 3, 2},
    {Typo::kApostropheLeftOut, 2, 1},
    {Typo::kApostropheTypedTooMany, 2, 1},
}};

// The apostrophe that the cheap apostrophe prices apply to.
inline constexpr char32_t kApostrophe = U'\'';

// What a candidate's score subtracts when it sounds like the typed text
// (sound_key.h). Small: the sound-alike table's real work is to bring in
// candidates that no edit distance reaches, which then compete on their
// typo cost and frequency.
inline constexpr std::uint32_t kSoundAlikeBonus = 1;

constexpr std::uint32_t typo_price(Typo typo) {
  return kTypoPrices[static_cast<std::size_t>(typo)].cost;
}

// The least that any operation costs per counted edit it stands for: a text
// at counted distance d costs at least d times this, which is what lets a
// search skip what cannot come near enough.
constexpr double least_typo_cost_per_edit() {
  double least = kTypoPrices[0].cost;
  for (const TypoPrice& price : kTypoPrices)
    least = std::min(least, static_cast<double>(price.cost) / price.edits);
  return least;
}
inline constexpr double kLeastTypoCostPerEdit = least_typo_cost_per_edit();

constexpr bool typo_prices_in_order() {
  for (std::size_t i = 0; i < kTypoPrices.size(); ++i)
    if (static_cast<std::size_t>(kTypoPrices[i].typo) != i || kTypoPrices[i].edits == 0)
      return false;
  return true;
}
static_assert(typo_prices_in_order(), "the table lists every operation once, in the order of Typo");

// The table of the typo cost, row by row, for one typed text: row i holds
// the cost of typing each prefix of the text for the first i characters of
// the meant word, columns 0 to typed.size(). A row follows from the two
// before it, so a walk down a trie can carry them as the meant word grows.
class TypoRows {
 public:
  explicit TypoRows(std::u32string_view typed);

  std::size_t width() const { return typed_.size() + 1; }

  // Row 0: the typed prefixes, each typed for nothing.
  void first(std::uint32_t* row) const;

  // The row of meant character `ch` (as it is, in its case) after `before`
  // (the one before it; none at the first), when leaving `ch` out costs
  // `left_out`; returns its smallest cell. `grandparent` is unused at the
  // first character.
  std::uint32_t next(char32_t ch, std::optional<char32_t> before, std::uint32_t left_out,
                     const std::uint32_t* parent, const std::uint32_t* grandparent,
                     std::uint32_t* row) const;

  // The whole cost for `meant`, or, once it is sure to be above
  // `give_up_above`, some lower bound of it above that. Not thread-safe: it
  // reuses the object's rows.
  std::uint32_t cost(std::u32string_view meant,
                     std::uint32_t give_up_above = std::numeric_limits<std::uint32_t>::max()) const;

 private:
  // The prices of typing each character of the text for meant character
  // `ch`, an ASCII one, made on first need: a row is priced once per typed
  // text rather than once per candidate. Inline, as every row of every
  // candidate asks.
  const std::uint32_t* ascii_substitutions(char32_t ch) const {
    if (!ascii_made_[ch]) make_ascii_row(ch);
    return ascii_rows_.data() + ch * typed_.size();
  }
  void make_ascii_row(char32_t ch) const;

  std::u32string_view typed_;
  std::u32string lower_;
  std::vector<std::uint32_t> typed_in_;
  mutable std::vector<std::uint32_t> rows_;
  mutable std::u32string meant_lower_;
  mutable std::vector<std::uint32_t> ascii_rows_;  // 128 rows of typed_.size() prices
  mutable std::array<bool, 128> ascii_made_{};
};

// The price of leaving out meant[k] from `meant` (in lower case), which
// depends on the letters beside it.
std::uint32_t left_out_price(std::u32string_view meant, std::size_t k);

// The least that leaving out a letter or typing one too many costs.
std::uint32_t least_in_or_out_price();

// The cost of typing `typed` when `meant` was meant.
std::uint32_t typo_cost(std::u32string_view meant, std::u32string_view typed);

// The lower-case form of a character beyond ASCII: itself when it has none.
char32_t lower_case_beyond_ascii(char32_t ch);

// The lower-case form of a character: itself when it has none. Inline for
// ASCII, which most words are made of and the typo cost asks of every one.
inline char32_t lower_case(char32_t ch) {
  if (ch < 0x80) return ch >= U'A' && ch <= U'Z' ? ch + (U'a' - U'A') : ch;
  return lower_case_beyond_ascii(ch);
}

}  // namespace kelvaro
