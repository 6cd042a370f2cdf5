#include "search/sound_key.h"

#include <array>


namespace kelvaro {
namespace {

bool is_vowel(char ch) {
  return ch == 'a' || ch == 'e' || ch == 'i' || ch == 'o' || ch == 'u';
}
bool is_soft(char ch) {  // the letters that soften a c or g before them
  return ch == 'e' || ch == 'i' || ch == 'y';
}

// The beginnings whose first letter is silent, or that sound as another.
struct Beginning {
  std::string_view spelled, sounded;
};
constexpr std::array<Beginning, 8> kBeginnings{{{"kn", "n"},
                                                {"gn", "n"},
                                                {"pn", "n"},
                                                {"wr", "r"},
                                                {"ps", "s"},
                                                {"pt", "t"},
                                                {"x", "s"},
                                                {"wh", "w"}}};

// Appends the codes of `w` (lower-case ASCII letters) to `key`.
void add_codes(std::string_view w, std::string& key) {
  const std::size_t n = w.size();
  const auto at = [&](std::size_t k) { return k < n ? w[k] : '\0'; };
  const auto add = [&](std::string_view code) {
    for (char ch : code)
      if (key.empty() || key.back() != ch) key.push_back(ch);
  };
  for (std::size_t i = 0; i < n;) {
    const char c = w[i], next = at(i + 1), after = at(i + 2);
    // "cia", "sio", "tion" and the like sound as "sh".
    const bool sh_ending = next == 'i' && (after == 'a' || after == 'o');
    std::size_t step = 1;
    switch (c) {
      case 'a': case 'e': case 'i': case 'o': case 'u':
        if (i == 0) add("A");
        break;
      case 'y':
        if (is_vowel(next)) add("Y");
        else if (i == 0) add("A");
        break;
      case 'w':
        if (is_vowel(next)) add("W");
        break;
      case 'h':
        if (is_vowel(next) && (i == 0 || is_vowel(w[i - 1]))) add("H");
        break;
      case 'c':
        if (next == 'h' || sh_ending) add("X"), step = 2;
        else if (next == 'k') add("K"), step = 2;
        else add(is_soft(next) ? "S" : "K");
        break;
      case 's':
        if (next == 'h' || sh_ending) add("X"), step = 2;
        else if (next == 'c' && after == 'h') add("SK"), step = 3;
        else if (next == 'c' && is_soft(after)) add("S"), step = 2;
        else add("S");
        break;
      case 't':
        if (next == 'h') add("0"), step = 2;
        else if (sh_ending) add("X"), step = 2;
        else if (next == 'c' && after == 'h') add("X"), step = 3;
        else add("T");
        break;
      case 'd':
        if (next == 'g' && is_soft(after)) add("J"), step = 2;
        else add("T");
        break;
      case 'g':
        if (next == 'h') {
          if (i == 0) add("K");
          step = 2;
        } else if (next == 'n' && (i + 2 == n || (after == 'e' && i + 3 == n))) {
          // A silent g: "sign", "reign", "benign".
        } else {
          add(is_soft(next) ? "J" : "K");
        }
        break;
      case 'p':
        if (next == 'h') add("F"), step = 2;
        else add("P");
        break;
      case 'b':
        if (!(i > 0 && w[i - 1] == 'm' && i + 1 == n)) add("P");  // a silent final "mb"
        break;
      case 'q': case 'k': add("K"); break;
      case 'x': add("KS"); break;
      case 'z': add("S"); break;
      case 'v': case 'f': add("F"); break;
      case 'j': add("J"); break;
      case 'm': add("M"); break;
      case 'n': add("N"); break;
      case 'l': add("L"); break;
      case 'r': add("R"); break;
      default: break;
    }
    i += step;
  }
}

}  // namespace

std::optional<std::string> sound_key(std::u32string_view word) {
  std::string w;
  w.reserve(word.size());
  for (char32_t ch : word) {
    if (ch == U'\'') continue;
    if (ch >= U'A' && ch <= U'Z') ch += U'a' - U'A';
    if (ch < U'a' || ch > U'z') return std::nullopt;
    w.push_back(static_cast<char>(ch));
  }
  if (w.empty()) return std::nullopt;
  for (const Beginning& beginning : kBeginnings) {
    if (w.starts_with(beginning.spelled)) {
      w.replace(0, beginning.spelled.size(), beginning.sounded);
      break;
    }
  }
  std::string key;
  add_codes(w, key);
  // "h" or "wh" alone say nothing about how a word sounds.
  if (key.empty()) return std::nullopt;
  return key;
}

bool sounds_alike(std::u32string_view stored, const std::optional<std::string>& typed_key) {
  if (!typed_key.has_value()) return false;
  const std::optional<std::string> key = sound_key(stored);
  return key.has_value() && *key == *typed_key;
}

}  // namespace kelvaro
