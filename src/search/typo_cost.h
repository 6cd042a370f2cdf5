// How likely a typo is: a weighted edit cost between the word that was meant
// and the text that was typed.
//
// The cost is the optimal string alignment distance with a price per
// operation that depends on the letters involved, in tenths of an ordinary
// edit. Slips that people make often cost less:
//
//   substitution of a letter for another                    10
//     a vowel for a vowel (a e i o u)                         6
//     a neighbouring key on a QWERTY keyboard                 8
//     letters that can sound alike (c-s c-k s-z k-q g-j
//     f-v b-p d-t m-n)                                        4
//     the same letter in the other case                       5
//   a letter left out, or one typed too many                 10
//     a vowel                                                 5
//     a letter beside the same letter (a doubled letter)      4
//   two neighbouring letters swapped                          7
//
// Where several prices apply, the least does. Letters are compared in lower
// case for everything but the case rule; only ASCII letters have a case
// here, and only ASCII letters are vowels, keys or sounds.
#pragma once

#include <cstdint>
#include <string_view>

namespace kelvaro {

struct TypoCosts {
  static constexpr std::uint32_t kEdit = 10;
  static constexpr std::uint32_t kVowel = 6;
  static constexpr std::uint32_t kNeighbourKey = 8;
  static constexpr std::uint32_t kSoundAlike = 4;
  static constexpr std::uint32_t kCase = 5;
  static constexpr std::uint32_t kVowelInOrOut = 5;
  static constexpr std::uint32_t kDoubledLetter = 4;
  static constexpr std::uint32_t kSwap = 7;
  // The cheapest operation of all: a typo cost is at least this many times
  // the plain distance.
  static constexpr std::uint32_t kCheapest = 4;
};

// The cost of typing `typed` when `meant` was meant.
std::uint32_t typo_cost(std::u32string_view meant, std::u32string_view typed);

}  // namespace kelvaro
