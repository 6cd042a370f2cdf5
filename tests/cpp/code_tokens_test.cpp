// The code tokenizer's exact slices, which Python sees only through the
// check (which splits a hyphenated word it does not hold), and its
// agreement with the prose tokenizer on prose.
#include "text/code_tokens.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

std::vector<std::u32string> slices(std::u32string_view text, const std::vector<Token>& tokens) {
  std::vector<std::u32string> out;
  for (const Token& token : tokens)
    out.emplace_back(text.substr(token.start, token.end - token.start));
  return out;
}

std::vector<std::u32string> code_words(std::u32string_view text) {
  return slices(text, tokenize_code(text));
}

TEST(CodeTokens, KeepJoinedWordsWholeAndCountCharacters) {
  using Words = std::vector<std::u32string>;
  EXPECT_EQ(code_words(U"CD-ROMs well-Known NASA's x-y"),
            (Words{U"CD-ROMs", U"well-Known", U"NASA's", U"x-y"}));
  // Offsets count characters, beyond the first plane too.
  const std::u32string text = U"\U0001D518 fooBar";
  const std::vector<Token> tokens = tokenize_code(text);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].start, 2u);
  EXPECT_EQ(tokens[1].start, 5u);
  EXPECT_EQ(tokens[1].end, 8u);
  // A mark stays with its letter; a capital after it still starts a word.
  EXPECT_EQ(code_words(U"cafe\u0301Bar \u0301ab"), (Words{U"cafe\u0301", U"Bar", U"ab"}));
}

// On text of small letters, blanks, punctuation, apostrophes and hyphens,
// what the prose tokenizer reads, but for words of one letter. (r, u, b
// and f are left out: before an apostrophe they are string prefixes.)
TEST(CodeTokens, ReadProseAsTheProseTokenizerDoes) {
  const std::u32string alphabet = U"acdeghilmnostvwyz\u00e9    ,.;:!?()\"'\u2019-\n";
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::u32string text;
    for (std::size_t i = random() % 40; i > 0; --i) text += alphabet[random() % alphabet.size()];
    std::vector<std::u32string> prose;
    for (const std::u32string& word : slices(text, tokenize(text))) {
      std::size_t letters = 0;
      for (char32_t ch : word) letters += char_class(ch) == CharClass::kLetter;
      if (letters >= 2) prose.push_back(word);
    }
    ASSERT_EQ(code_words(text), prose) << round;
  }
}

}  // namespace
}  // namespace kelvaro::text
