// The outcome of decoding a saved trie: the trie, or the reason it failed.
#pragma once

#include <utility>
#include <variant>

#include "codec/decode_error.h"
#include "prefix/trie.h"

namespace kelvaro {

class DecodeResult {
 public:
  DecodeResult(Trie trie) : outcome_(std::move(trie)) {}
  DecodeResult(DecodeError error) : outcome_(std::move(error)) {}

  bool has_trie() const { return std::holds_alternative<Trie>(outcome_); }
  explicit operator bool() const { return has_trie(); }

  // Only when has_trie().
  Trie& trie() { return std::get<Trie>(outcome_); }
  // Only when !has_trie().
  const DecodeError& error() const { return std::get<DecodeError>(outcome_); }

  // The trie, or an internal error that carries the failure's text form:
  // "called `Result::unwrap()` on an `Err` value: UnexpectedEnd { additional: 1 }".
  Trie unwrap() &&;

 private:
  std::variant<Trie, DecodeError> outcome_;
};

}  // namespace kelvaro
