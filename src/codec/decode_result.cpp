#include "codec/decode_result.h"

#include "prefix/internal_error.h"

namespace kelvaro {

Trie DecodeResult::unwrap() && {
  if (!has_trie()) fail("called `Result::unwrap()` on an `Err` value: " + error().to_string());
  return std::move(trie());
}

}  // namespace kelvaro
