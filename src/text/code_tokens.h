// Words in source code, and in the comments, strings and documents that go
// with it: what a spelling checker should read there.
//
// Code runs words together into identifiers and scatters text that is no
// word at all among them. tokenize_code reads a text as tokenize does, runs
// of letters and marks that may hold an apostrophe or a hyphen between two
// letters, inside runs of non-blank characters, URLs and e-mail addresses
// skipped whole. It also:
//
// - splits identifiers into their words: at underscores, dots and digits,
//   and where the case changes. "parseHTTPResponse2" is parse, HTTP,
//   Response; "XMLHttpRequest" is XML, Http, Request; "__init__" is init;
//   "getattr" stays one word. Capitals followed by a lone "s" are one word,
//   an acronym's plural ("IDs", "URLsFor" is URLs, For).
// - keeps a hyphen between two letters, as prose does ("well-known",
//   "kebab-case"): the check reads a hyphenated word that the index does
//   not hold part by part, so kebab-case is split without splitting what
//   the index holds whole, and prose reads as it does in prose.
// - does not join at the apostrophe of a string prefix (f'Hello, rb'\x00').
// - skips what is no word: numbers and the letters glued to them ("10ms",
//   "0x1F", "1e-9", "2nd"); hex runs, UUIDs and base64 runs; paths; escapes
//   (\n, \x41, \u00e9), printf placeholders (%s, %-10d; %(name)s reads
//   name), HTML entities (&amp;) and colours (#fff). Words of one letter
//   are not words here: loop variables, units, the s of "%s".
//
// Each rule is stated, with why, where it is applied (code_tokens.cpp).
//
// Every token starts with a letter, holds only letters, marks, and
// apostrophes or hyphens that stand between a letter (or its mark) and a
// letter, and holds at least two letters. Offsets count characters (code
// points), as tokenize's do.
#pragma once

#include <string_view>
#include <vector>

#include "text/tokenizer.h"

namespace kelvaro::text {

// The words of `text` as code has them, in order, none overlapping.
std::vector<Token> tokenize_code(std::u32string_view text);

}  // namespace kelvaro::text
