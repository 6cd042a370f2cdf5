// Helpers shared by the core's unit tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "prefix/internal_error.h"
#include "prefix/trie.h"

namespace kelvaro::testing {

// Builds a trie from its four arrays; in `chars`, '-' stands for a node
// without a character.
inline Trie make_trie(std::vector<std::uint32_t> shifts, std::u32string_view chars,
                      std::vector<std::optional<Payload>> payloads, std::vector<NodeId> children) {
  std::vector<OptionalChar> node_chars;
  for (char32_t ch : chars) node_chars.push_back(ch == U'-' ? OptionalChar() : OptionalChar(ch));
  return Trie(std::move(shifts), std::move(node_chars), std::move(payloads), std::move(children));
}

// Runs `operation` and checks that it stops with an internal error carrying
// `message`. The failure report is switched off so that expected failures
// stay out of the test output.
inline void expect_internal_error(const std::function<void()>& operation,
                                  const std::string& message) {
  set_failure_reports(false);
  try {
    operation();
    ADD_FAILURE() << "expected an internal error: " << message;
  } catch (const InternalError& error) {
    EXPECT_EQ(error.message(), message);
  }
  set_failure_reports(true);
}

inline const std::string kNoneMessage = "called `Option::unwrap()` on a `None` value";
inline const std::string kNotATreeMessage = "child runs do not form a tree";

}  // namespace kelvaro::testing
