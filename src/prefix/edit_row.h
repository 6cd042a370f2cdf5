// One row of the edit-distance table, and its smallest entry.
//
// Entry i of a node's row is the edit distance between the node's path text
// and the first i characters of the query. The row of a child follows from
// its parent's row and the child's character alone, which is what lets a
// search carry one row per node instead of the whole table.
//
// Entries are bounded by the longer of the path and the query, both far
// below 2^64, so adding 1 cannot wrap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelvaro {

// Writes the row of a node with character `ch` whose parent's row is
// `parent` (query.size() + 1 entries) to `row` (as many).
inline void fill_child_row(const std::uint64_t* parent, std::u32string_view query, char32_t ch,
                           std::uint64_t* row) {
  // `left` is the entry just written and `diagonal` the parent's entry
  // before the current one, both kept in registers across the loop.
  std::uint64_t left = parent[0] + 1;
  std::uint64_t diagonal = parent[0];
  row[0] = left;
  for (std::size_t i = 1; i <= query.size(); ++i) {
    const std::uint64_t up = parent[i];
    const std::uint64_t inserted_or_deleted = std::min(up, left) + 1;
    const std::uint64_t kept_or_substituted = diagonal + (query[i - 1] == ch ? 0 : 1);
    left = std::min(inserted_or_deleted, kept_or_substituted);
    row[i] = left;
    diagonal = up;
  }
}

// The smallest of `count` entries, count > 0. It never decreases from a node
// to its children, which is what lets a search prune.
inline std::uint64_t smallest_entry(const std::uint64_t* row, std::size_t count) {
  std::uint64_t smallest = row[0];
  for (std::size_t i = 1; i < count; ++i) smallest = std::min(smallest, row[i]);
  return smallest;
}

}  // namespace kelvaro
