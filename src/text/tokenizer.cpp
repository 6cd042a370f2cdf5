#include "text/tokenizer.h"

#include <algorithm>
#include <iterator>

namespace kelvaro::text {
namespace {

struct ClassRange {
  char32_t first;
  char32_t last;
  CharClass kind;
};

constexpr ClassRange kRanges[] = {
#include "text/char_classes.inc"
};

bool is_word_char(CharClass kind) {
  return kind != CharClass::kOther;
}

}  // namespace

bool is_address(std::u32string_view run) {
  if (run.find(U"://") != std::u32string_view::npos) return true;
  if (run.size() > 4 && (run.starts_with(U"www.") || run.starts_with(U"WWW."))) return true;
  const std::size_t at = run.find(U'@');
  return at != std::u32string_view::npos && at > 0 && at + 1 < run.size() &&
         is_word_char(char_class(run[at - 1])) && is_word_char(char_class(run[at + 1]));
}

CharClass char_class_above_ascii(char32_t ch) {
  const auto after = std::upper_bound(std::begin(kRanges), std::end(kRanges), ch,
                                      [](char32_t c, const ClassRange& r) { return c < r.first; });
  if (after == std::begin(kRanges)) return CharClass::kOther;
  const ClassRange& range = *std::prev(after);
  return ch <= range.last ? range.kind : CharClass::kOther;
}

std::vector<Token> tokenize(std::u32string_view text, bool join_hyphens) {
  std::vector<Token> tokens;
  const std::size_t n = text.size();
  std::size_t at = 0;
  while (at < n) {
    // One run of non-blank characters at a time, so that an address is
    // skipped whole.
    if (is_blank(text[at])) {
      ++at;
      continue;
    }
    std::size_t run_end = at;
    while (run_end < n && !is_blank(text[run_end])) ++run_end;
    if (is_address(text.substr(at, run_end - at))) {
      at = run_end;
      continue;
    }
    while (at < run_end) {
      const CharClass first = char_class(text[at]);
      // A mark with no letter before it starts nothing.
      if (first != CharClass::kLetter && first != CharClass::kDigit) {
        ++at;
        continue;
      }
      std::size_t end = at;
      bool digits = false;
      while (end < run_end) {
        const CharClass kind = char_class(text[end]);
        if (is_word_char(kind)) {
          digits = digits || kind == CharClass::kDigit;
          ++end;
          continue;
        }
        // An apostrophe or hyphen joins only between two letters.
        const bool joins = is_apostrophe(text[end]) || (join_hyphens && is_hyphen(text[end]));
        if (joins && end + 1 < run_end && end > at &&
            char_class(text[end - 1]) != CharClass::kDigit &&
            char_class(text[end + 1]) == CharClass::kLetter) {
          end += 2;
          continue;
        }
        break;
      }
      if (!digits) tokens.push_back({at, end});
      at = end;
    }
  }
  return tokens;
}

}  // namespace kelvaro::text
