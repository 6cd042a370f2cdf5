// Bytes into the decoder; on every trie that decodes, its canonical form
// and lookups whose query, distance and limit come from the same bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "checks.h"
#include "codec/trie_codec.h"
#include "entry_points.h"
#include "input_reader.h"
#include "prefix/internal_error.h"
#include "query_checks.h"

namespace kelvaro::fuzz {
namespace {

// A failed decode reports its first error in text form, and unwrapping it
// is the internal error that from_bytes raises.
void check_failure(DecodeResult result) {
  const std::string text = result.error().to_string();
  require(!text.empty(), "a decode error without a text form");
  try {
    std::move(result).unwrap();
  } catch (const InternalError& error) {
    require(error.message() == "called `Result::unwrap()` on an `Err` value: " + text,
            "unwrap does not carry the decode error");
    return;
  }
  finding("unwrapping a failed decode did not fail");
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  std::optional<DecodeResult> decoded = attempt([&] { return decode_trie(input); });
  if (!decoded.has_value()) return;  // a count whose storage cannot be sized
  if (!decoded->has_trie()) return check_failure(std::move(*decoded));

  const Trie& trie = decoded->trie();
  check_canonical_form(trie);
  // The decoder ignores what follows the fourth array, so the lookups are
  // read from the end of the input backwards: appending bytes changes them
  // and leaves the trie alone.
  const std::vector<std::uint8_t> backwards(input.rbegin(), input.rend());
  InputReader reader(backwards);
  check_lookups(trie, reader);
}

}  // namespace kelvaro::fuzz
