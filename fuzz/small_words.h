// Words and queries over a small alphabet, read from a fuzz input: few
// letters, so that words share pieces, and one of each UTF-8 width.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

#include "input_reader.h"

namespace kelvaro::fuzz {

inline constexpr char32_t kSmallAlphabet[] = {U'a',      U'b',      U'c',
                                              U'\u00e9', U'\u4e00', U'\U0001f600'};

// A text of up to `longest` characters of the small alphabet.
inline std::u32string read_small_text(InputReader& reader, std::size_t longest) {
  std::u32string text;
  for (std::size_t i = reader.byte() % (longest + 1); i > 0; --i)
    text.push_back(kSmallAlphabet[reader.byte() % std::size(kSmallAlphabet)]);
  return text;
}

}  // namespace kelvaro::fuzz
