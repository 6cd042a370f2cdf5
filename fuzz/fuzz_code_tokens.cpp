// The code tokenizer against what every token must be.
//
// Each input byte is one character of a small alphabet that holds every
// character a rule of the tokenizer reads (the starts of escapes,
// placeholders, entities, colours and paths, joiners, digits), letters of
// both cases in and beyond ASCII, a mark, an uncased letter and blanks, so
// that random bytes make identifiers, numbers and near misses of each rule.
// The tokens must come in order, none overlapping, inside the text; each
// starts with a letter, holds only letters, marks and joiners between a
// letter (or its mark) and a letter, and has two letters or more. The same
// bytes read as small letters and punctuation alone make prose, where the
// code tokenizer must read what the prose tokenizer reads, words of one
// letter apart.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "checks.h"
#include "entry_points.h"
#include "text/code_tokens.h"
#include "text/tokenizer.h"

namespace kelvaro::fuzz {
namespace {

constexpr std::u32string_view kCode =
    U"abcdefnrsuxzABCDEFNSUXZ0123456789 \n\t_-.'\u2019/\\%&#;:(){}!=\"@+~*,"
    U"\u00e9\u00c9\u0301\u4e2d\u01c5\u00df\U0001D518";
// No r, u, b or f: before an apostrophe they are string prefixes in code.
constexpr std::u32string_view kProse = U"acdeghilmnostyz\u00e9 \n,.;:!?()'\u2019-";

std::size_t letters_in(std::u32string_view word) {
  std::size_t letters = 0;
  for (char32_t ch : word) letters += text::char_class(ch) == text::CharClass::kLetter;
  return letters;
}

void check_tokens(std::u32string_view text) {
  using text::CharClass;
  std::size_t previous_end = 0;
  for (const text::Token& token : text::tokenize_code(text)) {
    require(token.start >= previous_end && token.start < token.end && token.end <= text.size(),
            "tokens out of order, overlapping or outside the text");
    previous_end = token.end;
    const std::u32string_view word = text.substr(token.start, token.end - token.start);
    require(text::char_class(word.front()) == CharClass::kLetter, "a token starts with no letter");
    require(letters_in(word) >= 2, "a token of fewer than two letters");
    for (std::size_t i = 0; i < word.size(); ++i) {
      const CharClass kind = text::char_class(word[i]);
      if (kind == CharClass::kLetter || kind == CharClass::kMark) continue;
      require(text::is_apostrophe(word[i]) || text::is_hyphen(word[i]),
              "a token holds a character that is no letter, mark or joiner");
      require(i > 0 && i + 1 < word.size() && text::char_class(word[i - 1]) != CharClass::kOther &&
                  text::char_class(word[i + 1]) == CharClass::kLetter,
              "a joiner that stands between no two letters");
    }
  }
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  std::u32string code, prose;
  for (std::uint8_t byte : input) {
    code += kCode[byte % kCode.size()];
    prose += kProse[byte % kProse.size()];
  }
  check_tokens(code);
  check_tokens(prose);
  std::vector<std::u32string> expected, read;
  for (const text::Token& token : text::tokenize(prose)) {
    const std::u32string_view word =
        std::u32string_view(prose).substr(token.start, token.end - token.start);
    if (letters_in(word) >= 2) expected.emplace_back(word);
  }
  for (const text::Token& token : text::tokenize_code(prose))
    read.emplace_back(std::u32string_view(prose).substr(token.start, token.end - token.start));
  require(read == expected, "prose read as code differs from prose read as prose");
}

}  // namespace kelvaro::fuzz
