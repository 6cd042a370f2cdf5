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

// The sound spelled at w[i] (w in lower-case ASCII letters): its code,
// empty for a silent letter, and how many letters spell it.
struct Sound {
  std::string_view code;
  std::size_t letters = 1;
};

Sound sound_at(std::string_view w, std::size_t i) {
  const std::size_t n = w.size();
  const auto at = [&](std::size_t k) { return k < n ? w[k] : '\0'; };
  const char c = w[i], next = at(i + 1), after = at(i + 2);
  // "cia", "sio", "tion" and the like sound as "sh".
  const bool sh_ending = next == 'i' && (after == 'a' || after == 'o');
  switch (c) {
    case 'a':
    case 'e':
    case 'i':
    case 'o':
    case 'u':
      return {i == 0 ? "A" : ""};
    case 'y':
      if (is_vowel(next)) return {"Y"};
      return {i == 0 ? "A" : ""};
    case 'w':
      return {is_vowel(next) ? "W" : ""};
    case 'h':
      return {is_vowel(next) && (i == 0 || is_vowel(w[i - 1])) ? "H" : ""};
    case 'c':
      if (next == 'h' || sh_ending) return {"X", 2};
      if (next == 'k') return {"K", 2};
      return {is_soft(next) ? "S" : "K"};
    case 's':
      if (next == 'h' || sh_ending) return {"X", 2};
      if (next == 'c' && after == 'h') return {"SK", 3};
      if (next == 'c' && is_soft(after)) return {"S", 2};
      return {"S"};
    case 't':
      if (next == 'h') return {"0", 2};
      if (sh_ending) return {"X", 2};
      if (next == 'c' && after == 'h') return {"X", 3};
      return {"T"};
    case 'd':
      if (next == 'g' && is_soft(after)) return {"J", 2};
      return {"T"};
    case 'g':
      if (next == 'h') return {i == 0 ? "K" : "", 2};
      // A silent g: "sign", "reign", "benign".
      if (next == 'n' && (i + 2 == n || (after == 'e' && i + 3 == n))) return {""};
      return {is_soft(next) ? "J" : "K"};
    case 'p':
      if (next == 'h') return {"F", 2};
      return {"P"};
    case 'b':
      // A silent final "mb".
      return {i > 0 && w[i - 1] == 'm' && i + 1 == n ? "" : "P"};
    case 'q':
    case 'k':
      return {"K"};
    case 'x':
      return {"KS"};
    case 'z':
      return {"S"};
    case 'v':
    case 'f':
      return {"F"};
    case 'j':
      return {"J"};
    case 'm':
      return {"M"};
    case 'n':
      return {"N"};
    case 'l':
      return {"L"};
    case 'r':
      return {"R"};
    default:
      return {""};
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
  for (std::size_t i = 0; i < w.size();) {
    const Sound sound = sound_at(w, i);
    for (const char code : sound.code)
      if (key.empty() || key.back() != code) key.push_back(code);
    i += sound.letters;
  }
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
