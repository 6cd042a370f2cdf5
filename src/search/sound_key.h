// The sound-alike key of an English word: what it sounds like, roughly, so
// that a poor speller's "nessisary" finds "necessary" although it is four
// edits away.
//
// The letters are read left to right and each group of letters that spells
// one sound becomes one code: consonants by what they sound like in that
// place ("c" before e, i or y is S, else K; "ph" is F; "tio" and "sio" are
// X, as "sh" is; "th" is 0; "gh" and a final "gn" are silent), vowels
// vanish but for a first one, which is A, and "y", "w" and "h" count only
// before a vowel. Some beginnings lose a silent letter first ("kn", "wr",
// "ps", ...). A code that repeats the one before it is dropped, so doubled
// letters and "ck" make one sound.
//
// Only words of ASCII letters and apostrophes (which are left out) have a
// key: other alphabets get none, and the index finds no sound-alikes for
// them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvaro {

std::optional<std::string> sound_key(std::u32string_view word);

// Whether a stored word sounds like a typed text whose key is `typed_key`:
// both have a key, and it is the same. (Keys one change apart were tried:
// as evidence their fitted weight was nil, and a typed word has hundreds
// of such words.)
bool sounds_alike(std::u32string_view stored, const std::optional<std::string>& typed_key);

}  // namespace kelvaro
