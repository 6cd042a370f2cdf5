// Words in running text: where they start and end, and what is not a word.
//
// A word is a run of letters and combining marks, in any script, that may
// hold an apostrophe (' or U+2019) or a hyphen (- or U+2010) between two
// letters: "don't", "well-known". Digits glued to letters make a token that
// is not a word ("3rd", "mp3", "x86"), and so is everything inside a URL
// (anything holding "://", or starting with "www.") or an e-mail address
// (a run of non-blank characters with an @ between two letters or digits):
// such text is checked by no dictionary. Offsets count characters (code
// points), as Python's str does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelvaro::text {

enum class CharClass : std::uint8_t { kOther, kLetter, kMark, kDigit };

// The class of a character above ASCII, by the Unicode tables.
CharClass char_class_above_ascii(char32_t ch);

// ASCII, which most text is, without a table.
inline CharClass char_class(char32_t ch) {
  if (ch >= 0x80) return char_class_above_ascii(ch);
  if ((ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z')) return CharClass::kLetter;
  if (ch >= U'0' && ch <= U'9') return CharClass::kDigit;
  return CharClass::kOther;
}

inline bool is_apostrophe(char32_t ch) {
  return ch == U'\'' || ch == U'\u2019';
}
inline bool is_hyphen(char32_t ch) {
  return ch == U'-' || ch == U'\u2010';
}

// Blanks part runs of text: spaces, tabs, line ends and the Unicode spaces.
inline bool is_blank(char32_t ch) {
  if (ch > U' ') {
    return ch >= 0x80 && (ch == U'\u00a0' || ch == U'\u2028' || ch == U'\u2029' ||
                          ch == U'\u3000' || (ch >= U'\u2000' && ch <= U'\u200a'));
  }
  return ch == U' ' || ch == U'\t' || ch == U'\n' || ch == U'\r' || ch == U'\f' || ch == U'\v';
}

// Whether a run of non-blank characters is a URL or an e-mail address,
// which no dictionary checks.
bool is_address(std::u32string_view run);

struct Token {
  std::size_t start;
  std::size_t end;
};

// Whether only spaces and tabs part two words of `text`, the one ending at
// `left_end` and the one starting at `right_start`: then each is the
// other's context. A line break or punctuation between them is not.
inline bool only_blanks_between(std::u32string_view text, std::size_t left_end,
                                std::size_t right_start) {
  for (std::size_t at = left_end; at < right_start; ++at)
    if (text[at] != U' ' && text[at] != U'\t') return false;
  return true;
}

// The words of `text`, in order. With `join_hyphens` false a hyphen ends a
// word, so that "well-known" is two.
std::vector<Token> tokenize(std::u32string_view text, bool join_hyphens = true);

}  // namespace kelvaro::text
