// What the fuzz targets hold every run of the core to.
//
// An operation may end in a value or in one of the system's own internal
// errors; anything else (another exception, a sanitizer report, a broken
// expectation below) is a finding. A finding aborts, and libFuzzer keeps the
// input that caused it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "codec/trie_codec.h"
#include "prefix/internal_error.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"

namespace kelvaro::fuzz {

[[noreturn]] inline void finding(std::string_view what,
                                 std::source_location where = std::source_location::current()) {
  std::fprintf(stderr, "fuzz finding at %s:%u: %.*s\n", where.file_name(),
               static_cast<unsigned>(where.line()), static_cast<int>(what.size()), what.data());
  std::abort();
}

inline void require(bool holds, std::string_view what,
                    std::source_location where = std::source_location::current()) {
  if (!holds) [[unlikely]]
    finding(what, where);
}

// The messages that the core's internal errors carry.
inline bool is_known_internal_error(std::string_view message) {
  return message.starts_with("index out of bounds: the len is ") ||
         message == "called `Option::unwrap()` on a `None` value" ||
         message == "child runs do not form a tree" || message == "capacity overflow" ||
         message.starts_with("called `Result::unwrap()` on an `Err` value: ");
}

// The value of `operation`, or nothing when it stopped with an internal
// error. Any other exception escapes and ends the run.
template <typename Operation>
auto attempt(Operation&& operation) -> std::optional<decltype(operation())> {
  try {
    return operation();
  } catch (const InternalError& error) {
    require(is_known_internal_error(error.message()), error.message());
    return std::nullopt;
  }
}

// ---------------------------------------------------------------------------
// Plain reference versions of what the core does faster.

inline std::uint64_t levenshtein(std::u32string_view a, std::u32string_view b) {
  std::vector<std::uint64_t> previous(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::vector<std::uint64_t> current(b.size() + 1);
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      current[j] = std::min(
          {previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    }
    previous = std::move(current);
  }
  return previous[b.size()];
}

// The saved form written the plain way: each array as its count and its
// elements, integers in their shortest form.
class ReferenceWriter {
 public:
  std::vector<std::uint8_t> encode(const Trie& trie) {
    bytes_.clear();
    count(trie.node_shifts().size());
    for (std::uint32_t shift : trie.node_shifts()) integer(shift);
    count(trie.node_chars().size());
    for (OptionalChar ch : trie.node_chars()) {
      bytes_.push_back(ch.has_value() ? 1 : 0);
      if (ch.has_value()) {
        std::string text = utf8::encode(std::u32string(1, ch.value()));
        bytes_.insert(bytes_.end(), text.begin(), text.end());
      }
    }
    count(trie.node_payloads().size());
    for (std::optional<Payload> payload : trie.node_payloads()) {
      bytes_.push_back(payload.has_value() ? 1 : 0);
      if (payload.has_value()) integer(*payload);
    }
    count(trie.child_indices().size());
    for (NodeId child : trie.child_indices()) integer(child);
    return std::move(bytes_);
  }

 private:
  void little_endian(std::uint8_t marker, std::uint64_t value, int width) {
    bytes_.push_back(marker);
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void count(std::uint64_t value) {
    if (value > 0xFFFFFFFF) return little_endian(253, value, 8);
    integer(static_cast<std::uint32_t>(value));
  }
  void integer(std::uint32_t value) {
    if (value <= 250) return bytes_.push_back(static_cast<std::uint8_t>(value));
    if (value <= 0xFFFF) return little_endian(251, value, 2);
    little_endian(252, value, 4);
  }

  std::vector<std::uint8_t> bytes_;
};

inline bool same_arrays(const Trie& a, const Trie& b) {
  return a.node_shifts() == b.node_shifts() && a.node_chars() == b.node_chars() &&
         a.node_payloads() == b.node_payloads() && a.child_indices() == b.child_indices();
}

// Any trie, well-formed or not, saves to the one canonical form, which
// restores the same four arrays.
inline void check_canonical_form(const Trie& trie) {
  std::vector<std::uint8_t> bytes = encode_trie(trie);
  require(bytes.size() == encoded_size(trie), "encoded_size disagrees with encode_trie");
  require(bytes == ReferenceWriter().encode(trie), "encode_trie disagrees with the reference");
  DecodeResult again = decode_trie(bytes);
  require(again.has_trie(), "a canonical encoding does not decode");
  require(same_arrays(again.trie(), trie), "a canonical encoding decodes to other arrays");
}

}  // namespace kelvaro::fuzz
