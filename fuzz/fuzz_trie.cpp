// Four arrays built from the input, straight through the trie's constructor:
// the node accessors on every node id and some arbitrary ones, the canonical
// form, and lookups.
//
// Input layout (make_seeds.py writes it): four lengths, one byte each, for
// node_shifts, node_chars, node_payloads and child_indices; then the arrays'
// elements in that order; then the node ids to probe and the lookups.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "checks.h"
#include "entry_points.h"
#include "input_reader.h"
#include "prefix/internal_error.h"
#include "prefix/trie.h"
#include "query_checks.h"

namespace kelvaro::fuzz {
namespace {

Trie read_trie(InputReader& reader) {
  const std::size_t shift_count = reader.byte();
  const std::size_t char_count = reader.byte();
  const std::size_t payload_count = reader.byte();
  const std::size_t child_count = reader.byte();
  const auto node_bound =
      static_cast<std::uint32_t>(std::max({shift_count, char_count, payload_count}));

  std::vector<std::uint32_t> node_shifts(shift_count);
  for (std::uint32_t& shift : node_shifts)
    shift = reader.u32_near(static_cast<std::uint32_t>(child_count));
  std::vector<OptionalChar> node_chars(char_count);
  for (OptionalChar& ch : node_chars) ch = reader.optional_char();
  std::vector<std::optional<Payload>> node_payloads(payload_count);
  for (std::optional<Payload>& payload : node_payloads) payload = reader.optional_payload();
  std::vector<NodeId> child_indices(child_count);
  for (NodeId& child : child_indices) child = reader.u32_near(node_bound);
  return Trie(std::move(node_shifts), std::move(node_chars), std::move(node_payloads),
              std::move(child_indices));
}

// A node's children read the plain way from the four arrays, or nothing
// where a read falls outside them or meets a child without a character.
std::optional<Children> plain_children(const Trie& trie, NodeId node) {
  const auto& shifts = trie.node_shifts();
  const auto& children = trie.child_indices();
  if (node >= shifts.size()) return std::nullopt;
  const std::size_t start = shifts[node];
  const std::size_t end =
      std::size_t{node} + 1 < shifts.size() ? shifts[node + 1] : children.size();
  Children out;
  for (std::size_t position = start; position < end; ++position) {
    if (position >= children.size()) return std::nullopt;
    const NodeId child = children[position];
    if (child >= trie.node_chars().size() || !trie.node_chars()[child].has_value())
      return std::nullopt;
    out.push_back({trie.node_chars()[child].value(), child});
  }
  return out;
}

void check_accessors(const Trie& trie, NodeId node) {
  auto children = attempt([&] { return trie.get_children(node); });
  require(children == plain_children(trie, node), "get_children disagrees with the arrays");
  // The overload that fills a buffer replaces what the buffer held.
  auto refilled = attempt([&] {
    Children buffer{{U'x', 99}, {U'y', 98}};
    trie.get_children(node, buffer);
    return buffer;
  });
  require(refilled == children, "get_children into a buffer differs");

  const auto& payloads = trie.node_payloads();
  auto payload = attempt([&] { return trie.get_payload(node); });
  require(payload.has_value() == (node < payloads.size()), "get_payload fails out of step");
  if (payload.has_value()) require(*payload == payloads[node], "get_payload reads another entry");
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  const Trie trie = read_trie(reader);

  const std::size_t node_bound =
      std::max({trie.node_shifts().size(), trie.node_chars().size(), trie.node_payloads().size()});
  for (std::size_t node = 0; node <= node_bound; ++node)
    check_accessors(trie, static_cast<NodeId>(node));
  for (int i = 0; i < 4; ++i) check_accessors(trie, reader.u32());

  check_canonical_form(trie);
  check_lookups(trie, reader);
}

}  // namespace kelvaro::fuzz
