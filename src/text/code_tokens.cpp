#include "text/code_tokens.h"

#include <array>
#include <cstddef>

#include "search/typo_cost.h"

namespace kelvaro::text {
namespace {

bool is_ascii_lower(char32_t ch) {
  return ch >= U'a' && ch <= U'z';
}
bool is_ascii_letter(char32_t ch) {
  return is_ascii_lower(ch) || (ch >= U'A' && ch <= U'Z');
}
bool is_ascii_alnum(char32_t ch) {
  return is_ascii_letter(ch) || (ch >= U'0' && ch <= U'9');
}
bool is_ascii_digit(char32_t ch) {
  return ch >= U'0' && ch <= U'9';
}
bool is_hex_digit(char32_t ch) {
  return is_ascii_digit(ch) || (ch >= U'a' && ch <= U'f') || (ch >= U'A' && ch <= U'F');
}
bool is_word_char(char32_t ch) {
  return char_class(ch) != CharClass::kOther;
}

// A capital is a letter with a lower-case form of its own; every other
// letter, uncased scripts included, counts as small, so that only a
// change between the two cases parts words.
bool is_capital(char32_t ch) {
  if (ch < 0x80) return ch >= U'A' && ch <= U'Z';
  return lower_case(ch) != ch;
}
bool is_small_letter(char32_t ch) {
  return char_class(ch) == CharClass::kLetter && !is_capital(ch);
}

// What a path is made of; a drive's colon is read apart.
bool is_path_char(char32_t ch) {
  return is_word_char(ch) || ch == U'_' || ch == U'-' || ch == U'.' || ch == U'/' || ch == U'\\' ||
         ch == U'~';
}

// The alphabets of base64 and of its URL-safe form, padding apart.
bool is_base64_char(char32_t ch) {
  return is_ascii_alnum(ch) || ch == U'+' || ch == U'/' || ch == U'_' || ch == U'-';
}

// The prefixes of Python's string literals, in any case: in f'{x}' or
// rb'\x00' the apostrophe opens a string rather than joining two letters.
bool is_string_prefix(std::u32string_view letters) {
  if (letters.empty() || letters.size() > 2) return false;
  std::array<char32_t, 2> small{};
  for (std::size_t i = 0; i < letters.size(); ++i) small[i] = lower_case(letters[i]);
  if (letters.size() == 1)
    return small[0] == U'r' || small[0] == U'u' || small[0] == U'b' || small[0] == U'f';
  const bool raw = small[0] == U'r' || small[1] == U'r';
  const char32_t other = small[0] == U'r' ? small[1] : small[0];
  return raw && (other == U'b' || other == U'f');
}

// printf's conversions, and the length modifiers that may come before one.
bool is_conversion(char32_t ch) {
  return std::u32string_view(U"diouxXeEfFgGcrsaAbpn").find(ch) != std::u32string_view::npos;
}
constexpr std::u32string_view kLengthModifiers[] = {U"hh", U"ll", U"h", U"l", U"L",
                                                    U"q",  U"j",  U"z", U"t"};

class CodeTokenizer {
 public:
  explicit CodeTokenizer(std::u32string_view text) : text_(text) {}

  std::vector<Token> run() && {
    const std::size_t n = text_.size();
    std::size_t at = 0;
    while (at < n) {
      if (is_blank(text_[at])) {
        ++at;
        continue;
      }
      std::size_t run_end = at;
      while (run_end < n && !is_blank(text_[run_end])) ++run_end;
      // A URL or an e-mail address is skipped whole, as in prose.
      if (!is_address(text_.substr(at, run_end - at))) scan(at, run_end);
      at = run_end;
    }
    return std::move(tokens_);
  }

 private:
  // The words from `at` to `end`, inside one run of non-blank characters.
  void scan(std::size_t at, const std::size_t end) {
    while (at < end) {
      if (const std::size_t skipped = non_word_run(at, end); skipped > at) {
        at = skipped;
        continue;
      }
      const char32_t ch = text_[at];
      switch (char_class(ch)) {
        case CharClass::kLetter:
          at = word(at, end);
          continue;
        case CharClass::kDigit:
          at = after_digits(at, end);
          continue;
        case CharClass::kMark:  // with no letter before it, it starts nothing
          ++at;
          continue;
        case CharClass::kOther:
          break;
      }
      switch (ch) {
        case U'\\':
          at = after_escape(at, end);
          break;
        case U'%':
          at = after_placeholder(at, end);
          break;
        case U'&':
          at = after_entity(at, end);
          break;
        case U'#':
          at = after_colour(at, end);
          break;
        default:
          ++at;
      }
    }
  }

  // The end of the run that begins at `at` if it is no word (a path, a
  // UUID, a base64 run, a hash), else `at`. Each kind is tried only where a
  // run of it begins, after a character that cannot be part of it, so that
  // a text is read through once for each.
  std::size_t non_word_run(std::size_t at, std::size_t end) const {
    const char32_t ch = text_[at];
    const char32_t before = at > 0 ? text_[at - 1] : U' ';
    if (is_path_char(ch) && !is_path_char(before)) {
      bool separator = false;
      const std::size_t path_end = path_run_end(at, end, separator);
      if (separator && is_path(text_.substr(at, path_end - at))) return path_end;
    }
    if (is_word_char(before)) return at;
    if (is_base64_char(ch) && !is_base64_char(before)) {
      if (const std::size_t base64_end = base64_run_end(at, end); base64_end > at)
        return base64_end;
    }
    if (!is_ascii_alnum(ch)) return at;
    if (is_uuid_at(at, end)) return at + 36;
    return hash_end(at, end);
  }

  // The end of the run of path characters from `at`, and whether it holds
  // a slash or backslash, without which it is no path.
  std::size_t path_run_end(std::size_t at, std::size_t end, bool& separator) const {
    // A drive, "C:\" or "C:/", is the one place a colon belongs to a path.
    if (at + 2 < end && is_ascii_letter(text_[at]) && text_[at + 1] == U':' &&
        (text_[at + 2] == U'\\' || text_[at + 2] == U'/')) {
      at += 3;
      separator = true;
    }
    for (; at < end && is_path_char(text_[at]); ++at)
      separator = separator || text_[at] == U'/' || text_[at] == U'\\';
    return at;
  }

  // A path: rooted ("/usr/lib/x", "./a/b", "~/x", "C:\Users\x",
  // "\\server\share"), or relative with a slash and a file name with an
  // extension ("src/text/check.cpp"). "and/or", "/etc" and "//TODO" are
  // read as words: a slash between words is prose as often as a path, and
  // the words in a path are as often words the reader wrote.
  static bool is_path(std::u32string_view run) {
    if (run.find_first_of(U"/\\") == std::u32string_view::npos) return false;
    for (std::u32string_view root : {U"./", U"../", U"~/", U".\\", U"..\\"})
      if (run.starts_with(root)) return run.size() > root.size();
    if (run.size() > 3 && run[1] == U':') return true;  // path_run_end read a drive
    if (run.starts_with(U"\\\\")) return run.size() > 2 && is_word_char(run[2]);
    if (run[0] == U'/') {
      const std::size_t name = run.find_first_not_of(U'/');
      return name != std::u32string_view::npos && run.find(U'/', name) != std::u32string_view::npos;
    }
    // A full stop after the name ends the sentence, not the name.
    while (!run.empty() && run.back() == U'.') run.remove_suffix(1);
    const std::size_t slash = run.find_last_of(U"/\\");
    if (slash == std::u32string_view::npos) return false;
    const std::u32string_view name = run.substr(slash + 1);
    const std::size_t dot = name.rfind(U'.');
    if (dot == std::u32string_view::npos || dot == 0) return false;
    // Extensions are short ("h", "py", "json"); a longer one is more likely
    // a division by an attribute ("total/self.count").
    const std::u32string_view extension = name.substr(dot + 1);
    bool letter = false;
    for (char32_t ch : extension) {
      if (!is_ascii_alnum(ch)) return false;
      letter = letter || !is_ascii_digit(ch);
    }
    return letter && extension.size() <= 4;
  }

  // A UUID: groups of 8, 4, 4, 4 and 12 hex digits parted by hyphens.
  bool is_uuid_at(std::size_t at, std::size_t end) const {
    constexpr std::size_t kLength = 36;
    if (end - at < kLength) return false;
    for (std::size_t i = 0; i < kLength; ++i) {
      const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
      if (hyphen ? text_[at + i] != U'-' : !is_hex_digit(text_[at + i])) return false;
    }
    return at + kLength == end ||
           (!is_word_char(text_[at + kLength]) && text_[at + kLength] != U'-');
  }

  // A run of six or more hex digits with both digits and letters in it,
  // standing alone: a hash (git's are seven and more), a colour, a key.
  // Words of the letters a to f alone ("facade", "deadbeef") are read.
  std::size_t hash_end(std::size_t at, std::size_t end) const {
    std::size_t e = at;
    bool digit = false, letter = false;
    while (e < end && is_ascii_alnum(text_[e])) {
      if (!is_hex_digit(text_[e])) return at;
      (is_ascii_digit(text_[e]) ? digit : letter) = true;
      ++e;
    }
    const bool alone = e == end || !is_word_char(text_[e]);
    return e - at >= 6 && digit && letter && alone ? e : at;
  }

  // A base64 run: 16 characters or more of its alphabet, with capitals and
  // small letters, that changes between capitals, small letters, digits
  // and symbols at two in five of its characters or more. Random text does
  // so at about two in three; an identifier, whose words are several
  // letters long, at one in four or less ("getHTTPResponse2Handler" five
  // times in 22).
  std::size_t base64_run_end(std::size_t at, std::size_t end) const {
    const auto kind = [](char32_t ch) {
      if (is_ascii_lower(ch)) return 0;
      if (ch >= U'A' && ch <= U'Z') return 1;
      return is_ascii_digit(ch) ? 2 : 3;
    };
    std::size_t e = at;
    while (e < end && is_base64_char(text_[e])) ++e;
    const std::size_t length = e - at;
    // Most runs are short words: they are measured no further.
    if (length < 16) return at;
    std::size_t changes = 0;
    std::array<bool, 4> seen{};
    for (std::size_t i = at; i < e; ++i) {
      seen[kind(text_[i])] = true;
      if (i > at && kind(text_[i]) != kind(text_[i - 1])) ++changes;
    }
    while (e < end && text_[e] == U'=') ++e;  // padding
    if (!seen[0] || !seen[1] || changes * 5 < (length - 1) * 2) return at;
    return e == end || !is_word_char(text_[e]) ? e : at;
  }

  // The letters from `at` (a letter) to the end of the word run, each word
  // in it a token. A run goes on through an apostrophe or a hyphen between
  // two letters; its words are parted where the case changes.
  std::size_t word(std::size_t at, const std::size_t end) {
    std::size_t start = at, letters = 0;
    std::size_t capitals = 0;  // capitals in a row, up to the last letter
    bool after_small = false;  // whether the last letter was a small one
    std::size_t last_letter = at;
    while (at < end) {
      const char32_t ch = text_[at];
      const CharClass kind = char_class(ch);
      if (kind == CharClass::kMark) {
        ++at;
        continue;
      }
      if (kind != CharClass::kLetter) {
        if (!joins(start, at, end)) break;
        // "well-Known", "NASA's": case parts no words across a joiner.
        capitals = 0;
        after_small = false;
        ++at;
        continue;
      }
      const bool capital = is_capital(ch);
      if (capital && after_small) {
        // "parseHTTP": a capital after a small letter starts a word.
        emit(start, at, letters);
        start = at;
        letters = 0;
      } else if (!capital && capitals >= 2) {
        if (ch == U's' && !(at + 1 < end && continues_small(text_[at + 1]))) {
          // "IDs", "URLsFor": an acronym's plural is one word, and ends the
          // run (a joiner after it joins nothing: "IDs'").
          emit(start, at + 1, letters + 1);
          return at + 1;
        }
        // "HTTPServer": the last of the capitals begins the next word.
        emit(start, last_letter, letters - 1);
        start = last_letter;
        letters = 1;
      }
      capitals = capital ? capitals + 1 : 0;
      after_small = !capital;
      last_letter = at;
      ++letters;
      ++at;
    }
    // The prefix of a string literal ("rb'", "fr\"") is no word.
    if (!(at < end && (text_[at] == U'\'' || text_[at] == U'"') && stands_alone(start) &&
          is_string_prefix(text_.substr(start, at - start))))
      emit(start, at, letters);
    return at;
  }

  // Whether the word run begun at `start` begins there, rather than after a
  // change of case.
  bool stands_alone(std::size_t start) const {
    return start == 0 || !is_word_char(text_[start - 1]);
  }

  static bool continues_small(char32_t ch) {
    return is_small_letter(ch) || char_class(ch) == CharClass::kMark;
  }

  // Whether the character at `at`, after a letter or mark of the word
  // begun at `start`, joins it to the letter after: an apostrophe or hyphen
  // does, as in prose, but not the apostrophe after a string prefix that
  // stands alone ("f'Hello").
  bool joins(std::size_t start, std::size_t at, std::size_t end) const {
    const char32_t ch = text_[at];
    if (!is_apostrophe(ch) && !is_hyphen(ch)) return false;
    if (at + 1 >= end || char_class(text_[at + 1]) != CharClass::kLetter) return false;
    if (ch != U'\'' || !stands_alone(start)) return true;
    return !is_string_prefix(text_.substr(start, at - start));
  }

  void emit(std::size_t start, std::size_t end, std::size_t letters) {
    if (letters >= 2) tokens_.push_back({start, end});
  }

  // Digits in an identifier ("Response2", "utf8mb4") part its words, and
  // take one or two small letters glued after them, a unit or an ordinal
  // ("8mb", "get2ndItem"). Anywhere else digits begin a number, which goes
  // on through letters ("10ms", "0x1F", "3px", "2nd"), a point or an
  // underscore before a digit ("3.14", "1_000"), and an exponent's sign
  // ("1e-9"): prose skips a word with a digit too.
  std::size_t after_digits(std::size_t at, std::size_t end) const {
    if (at > 0 && is_word_char(text_[at - 1])) {
      while (at < end && char_class(text_[at]) == CharClass::kDigit) ++at;
      std::size_t unit = at;
      while (unit < end && unit - at <= 2 && is_ascii_lower(text_[unit])) ++unit;
      return unit - at <= 2 ? unit : at;
    }
    while (at < end) {
      const char32_t ch = text_[at];
      if (is_word_char(ch)) {
        ++at;
        continue;
      }
      const bool digit_next = at + 1 < end && char_class(text_[at + 1]) == CharClass::kDigit;
      const bool sign =
          (ch == U'+' || ch == U'-') && (text_[at - 1] == U'e' || text_[at - 1] == U'E');
      if (!digit_next || !(ch == U'.' || ch == U'_' || sign)) break;
      ++at;
    }
    return at;
  }

  // After a backslash: "\x41", "\u00e9", "\U0001F600" and
  // "\N{DEGREE SIGN}" are characters by their codes; "\n", "\t", "\d" are
  // one letter, and the letters after them are read ("\nUsage" reads
  // Usage). Before a small letter ("\nusage", "\section") the letters could
  // be an escape and a word, or a TeX command: which, only a reader knows,
  // so none of them is read. Backslashes doubled in a literal ("\\n",
  // "\\section") escape what follows them as one does.
  std::size_t after_escape(std::size_t at, std::size_t end) const {
    std::size_t next = at + 1;
    while (next < end && text_[next] == U'\\') ++next;
    if (next >= end) return next;
    const char32_t ch = text_[next];
    const std::size_t code = ch == U'x' ? 2 : ch == U'u' ? 4 : ch == U'U' ? 8 : 0;
    if (code > 0 && next + 1 < end && is_hex_digit(text_[next + 1])) {
      std::size_t e = next + 1;
      while (e < end && e - next <= code && is_hex_digit(text_[e])) ++e;
      return e;
    }
    if (ch == U'N' && next + 1 < end && text_[next + 1] == U'{') {
      const std::size_t close = text_.find(U'}', next + 2);
      if (close < end) return close + 1;
    }
    if (!is_ascii_letter(ch)) return next;
    if (next + 1 < end && is_small_letter(text_[next + 1])) return after_letters(next + 1, end);
    return next + 1;
  }

  // After a percent sign: "%%", and printf's placeholders: flags, width,
  // precision, a length modifier and a conversion ("%s", "%-10d", "%5.2f",
  // "%lu"), or with a name ("%(name)s"), whose name is read. A conversion
  // glued to small letters ("%sfoo", "%days") is skipped with them, for the
  // reason an escape is. Anything else ("%PATH%", "50%") is punctuation.
  std::size_t after_placeholder(std::size_t at, std::size_t end) {
    const std::size_t next = at + 1;
    if (next < end && text_[next] == U'%') return next + 1;
    if (next < end && text_[next] == U'(') {
      const std::size_t close = text_.find(U')', next + 1);
      if (close >= end) return next;
      const std::size_t placeholder_end = conversion_end(close + 1, end);
      if (placeholder_end == 0) return next;
      scan(next + 1, close);
      return placeholder_end;
    }
    const std::size_t placeholder_end = conversion_end(next, end);
    return placeholder_end == 0 ? next : placeholder_end;
  }

  // The end of a placeholder's flags to conversion from `at`, or 0.
  std::size_t conversion_end(std::size_t at, std::size_t end) const {
    while (at < end && std::u32string_view(U"-+ #0").find(text_[at]) != std::u32string_view::npos)
      ++at;
    const auto count = [&] {
      while (at < end && (is_ascii_digit(text_[at]) || text_[at] == U'*')) ++at;
    };
    count();
    if (at < end && text_[at] == U'.') {
      ++at;
      count();
    }
    for (std::u32string_view length : kLengthModifiers) {
      if (text_.substr(at, end - at).starts_with(length) && at + length.size() < end &&
          is_conversion(text_[at + length.size()])) {
        at += length.size();
        break;
      }
    }
    if (at >= end || !is_conversion(text_[at])) return 0;
    ++at;
    if (at < end && is_small_letter(text_[at])) return after_letters(at, end);
    return at;
  }

  std::size_t after_letters(std::size_t at, std::size_t end) const {
    while (at < end && (char_class(text_[at]) == CharClass::kLetter ||
                        char_class(text_[at]) == CharClass::kMark))
      ++at;
    return at;
  }

  // After an ampersand: an HTML entity ("&amp;", "&#39;", "&#x27;") is
  // skipped whole; without its semicolon it is no entity ("&value").
  std::size_t after_entity(std::size_t at, std::size_t end) const {
    std::size_t e = at + 1;
    bool numeric = e < end && text_[e] == U'#';
    if (numeric) ++e;
    const bool hex = numeric && e < end && (text_[e] == U'x' || text_[e] == U'X');
    if (hex) ++e;
    const std::size_t name = e;
    while (e < end && (hex       ? is_hex_digit(text_[e])
                       : numeric ? is_ascii_digit(text_[e])
                                 : is_ascii_alnum(text_[e])))
      ++e;
    const bool entity = e > name && e < end && text_[e] == U';' && e - at <= 32;
    return entity ? e + 1 : at + 1;
  }

  // After a hash sign: a colour of 3, 4, 6 or 8 hex digits ("#fff",
  // "#1e90ff") is skipped; "#define" is no colour.
  std::size_t after_colour(std::size_t at, std::size_t end) const {
    std::size_t e = at + 1;
    while (e < end && is_ascii_alnum(text_[e])) {
      if (!is_hex_digit(text_[e])) return at + 1;
      ++e;
    }
    const std::size_t digits = e - at - 1;
    const bool colour = digits == 3 || digits == 4 || digits == 6 || digits == 8;
    return colour && (e == end || !is_word_char(text_[e])) ? e : at + 1;
  }

  std::u32string_view text_;
  std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> tokenize_code(std::u32string_view text) {
  return CodeTokenizer(text).run();
}

}  // namespace kelvaro::text
