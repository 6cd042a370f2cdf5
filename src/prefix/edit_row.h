// The rows of the edit-distance table that a search walks down the trie.
//
// Entry j of a node's row is the edit distance between the node's path text
// (depth d characters) and the first j characters of the query. A child's row
// follows from its parent's row and its own character alone, which is what
// lets a search carry one row per depth instead of the whole table.
//
// Only a band of each row matters. Entry j is at least |j - d|, so at depth
// d only the columns j in [d - K, d + K] can hold a distance within K, the
// search's bound. Each row is therefore kept as `width()` cells, cell t
// standing for column start(d) + t, and every other distance is held as
// cap() = K + 1, "too far". The table's recurrence is built of minima and
// additions of 0 or 1, so capping every cell at K + 1 gives exactly
// min(true distance, K + 1) in every cell: distances within K come out
// exact, and the rest compare as beyond K, as they are. A node costs
// O(width) = O(min(n, 2K) + 1) whatever the length n of the query.
//
// With transpositions on, swapping two neighbouring characters is one edit
// (the optimal string alignment distance), which needs the grandparent's row
// and the parent's character too.
//
// The smallest entry of a row never decreases from a node to its children,
// with or without transpositions, which is what lets a search prune: a node
// whose row holds nothing within K has no descendant within K.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvaro {

using Cell = std::uint64_t;

class EditBand {
 public:
  // A band for distances up to `max_dist`. No distance at depth d exceeds
  // max(n, d), so a larger bound than `reach` (at least the query's length
  // and the depth of every node searched) widens the band to no avail.
  EditBand(std::u32string_view query, std::uint64_t max_dist, std::uint64_t reach)
      : query_(query), bound_(std::min({max_dist, reach, kLargestBound})) {
    const std::uint64_t n = query.size();
    width_ = bound_ >= n ? n + 1 : std::min<std::uint64_t>(n + 1, 2 * bound_ + 1);
  }

  std::u32string_view query() const { return query_; }
  std::uint64_t bound() const { return bound_; }
  Cell cap() const { return bound_ + 1; }
  std::size_t width() const { return width_; }
  // The cells a row takes: its width and one more, always cap(), so that
  // reading one cell past the band needs no test.
  std::size_t stride() const { return width_ + 1; }

  // What computing one row costs, in the units of InterruptCheck (about a
  // node's visit each): a wide band is many nodes' worth of work.
  std::uint32_t row_work() const {
    return static_cast<std::uint32_t>(std::min<std::size_t>(1 + width_ / 16, 1u << 20));
  }

  // The column of cell 0 at `depth`.
  std::size_t start(std::size_t depth) const { return depth > bound_ ? depth - bound_ : 0; }

  void root_row(Cell* row) const {
    for (std::size_t t = 0; t < stride(); ++t) row[t] = std::min<Cell>(t, cap());
    row[width_] = cap();
  }

  // The row of a node at `depth` (1 or more) with character `ch`, from its
  // parent's row; returns its smallest cell.
  Cell child_row(std::size_t depth, char32_t ch, const Cell* parent, Cell* row) const {
    return fill<false>(depth, ch, 0, parent, nullptr, row);
  }

  // The same with transpositions: `parent_ch` is the parent's character and
  // `grandparent` its parent's row (unused at depth 1).
  Cell child_row_swapping(std::size_t depth, char32_t ch, char32_t parent_ch, const Cell* parent,
                          const Cell* grandparent, Cell* row) const {
    return fill<true>(depth, ch, parent_ch, parent, grandparent, row);
  }

  // The distance to the first `column` characters of the query, or cap()
  // when it is beyond the bound.
  Cell cell(std::size_t depth, const Cell* row, std::size_t column) const {
    const std::size_t first = start(depth);
    return column >= first && column - first < width_ ? row[column - first] : cap();
  }

  // The distance to the whole query, or cap() when it is beyond the bound.
  Cell last(std::size_t depth, const Cell* row) const { return cell(depth, row, query_.size()); }

  // The smallest of the cells of columns 0 .. `column`.
  Cell smallest_through(std::size_t depth, const Cell* row, std::size_t column) const {
    const std::size_t first = start(depth);
    if (column < first) return cap();
    return *std::min_element(row, row + std::min(width_, column - first + 1));
  }

  Cell smallest(const Cell* row) const { return *std::min_element(row, row + width_); }

  // The distance between `text` and the query, with transpositions, or
  // cap() when it is beyond the bound: the band's rows down the text, as a
  // walk would make them along a path that spells it, stopping as soon as
  // a row holds nothing within the bound.
  Cell distance_to(std::u32string_view text) const {
    if (text.size() > query_.size() + bound_ || query_.size() > text.size() + bound_) return cap();
    thread_local std::vector<Cell> rows;
    rows.resize(3 * stride());
    Cell* grandparent = rows.data();
    Cell* parent = grandparent + stride();
    Cell* row = parent + stride();
    root_row(parent);
    for (std::size_t depth = 1; depth <= text.size(); ++depth) {
      const char32_t before = depth > 1 ? text[depth - 2] : 0;
      if (child_row_swapping(depth, text[depth - 1], before, parent, grandparent, row) > bound_)
        return cap();
      std::swap(grandparent, parent);
      std::swap(parent, row);
    }
    return last(text.size(), parent);
  }

  // The least distance from the query of any text that extends the path of
  // the node at `depth` by `nearest` to `deepest` characters: from column j
  // the n - j query characters left take one edit for every character of
  // difference in length. `deepest` at Trie::kFarthest means no bound.
  Cell least_extended(std::size_t depth, const Cell* row, std::size_t nearest, std::size_t deepest,
                      std::size_t farthest) const {
    const std::size_t first = start(depth);
    const std::size_t n = query_.size();
    Cell least = cap();
    for (std::size_t t = 0; t < width_ && first + t <= n; ++t) {
      const std::size_t left = n - (first + t);
      std::size_t gap = 0;
      if (left < nearest) gap = nearest - left;
      if (left > deepest && deepest < farthest) gap = left - deepest;
      least = std::min<Cell>(least, row[t] + gap);
    }
    return least;
  }

  // The query characters that the row of a child at `depth` compares the
  // child's character with, as positions [from, to) of the query: any other
  // character gives the same row. With transpositions the position before
  // the band counts too.
  std::pair<std::size_t, std::size_t> compared(std::size_t depth, bool swapping) const {
    const std::size_t first = start(depth);
    std::size_t from = first > 0 ? first - 1 : 0;
    if (swapping && from > 0) --from;
    const std::size_t to = std::min(query_.size(), first + width_ - 1);
    return {std::min(from, to), to};
  }

 private:
  // Beyond this no path or query can be long, and cap() cannot overflow.
  static constexpr std::uint64_t kLargestBound = std::uint64_t{1} << 62;

  template <bool kSwapping>
  Cell fill(std::size_t depth, char32_t ch, char32_t parent_ch, const Cell* parent,
            const Cell* grandparent, Cell* row) const {
    // Rows are arrays of the same type as the members, so every write to one
    // could change a member as far as the compiler knows: the loop works on
    // copies.
    const Cell too_far = cap();
    const std::size_t width = width_;
    const char32_t* query = query_.data();
    const std::size_t first = start(depth);
    // The cells of columns first .. last are computed, the rest are too far.
    const std::size_t last = std::min(query_.size(), first + width - 1);
    // Column `first` sits one cell on in the parent's row once the band has
    // left column 0, and at the same cell before.
    const std::size_t up_shift = first - start(depth - 1);
    std::size_t t = 0;
    Cell left = too_far;
    Cell smallest = too_far;
    if (first == 0) {
      left = std::min<Cell>(depth, too_far);
      smallest = left;
      row[0] = left;
      t = 1;
    }
    const std::size_t end = last + 1 - first;
    for (; t < end; ++t) {
      const std::size_t column = first + t;
      // The parent's cell one past its band is the padding cell, cap().
      // Column - 1 is never left of the parent's band: up is 1 or more.
      const std::size_t up = t + up_shift;
      const Cell deleted = parent[up] + 1;
      const Cell kept = parent[up - 1] + (query[column - 1] == ch ? 0 : 1);
      Cell cell = std::min(std::min(deleted, kept), std::min(left + 1, too_far));
      if constexpr (kSwapping) {
        if (depth >= 2 && column >= 2 && ch == query[column - 2] &&
            parent_ch == query[column - 1]) {
          const std::size_t grand_first = start(depth - 2);
          const std::size_t back = column - 2;
          if (back >= grand_first && back - grand_first < width)
            cell = std::min(cell, grandparent[back - grand_first] + 1);
        }
      }
      row[t] = cell;
      left = cell;
      smallest = std::min(smallest, cell);
    }
    for (; t <= width; ++t) row[t] = too_far;
    return smallest;
  }

  std::u32string_view query_;
  std::uint64_t bound_;
  std::size_t width_;
};

}  // namespace kelvaro

namespace kelvaro {

// The whole distance between two texts, the plain way: a full table, for
// the few places that need one distance rather than a walk.
inline std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b,
                                   bool transpositions) {
  const std::size_t columns = b.size() + 1;
  std::vector<std::uint64_t> table((a.size() + 1) * columns);
  const auto at = [&](std::size_t i, std::size_t j) -> std::uint64_t& {
    return table[i * columns + j];
  };
  for (std::size_t j = 0; j < columns; ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    at(i, 0) = i;
    for (std::size_t j = 1; j < columns; ++j) {
      std::uint64_t best = std::min(at(i - 1, j), at(i, j - 1)) + 1;
      best = std::min(best, at(i - 1, j - 1) + (a[i - 1] == b[j - 1] ? 0 : 1));
      if (transpositions && i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        best = std::min(best, at(i - 2, j - 2) + 1);
      at(i, j) = best;
    }
  }
  return at(a.size(), b.size());
}

}  // namespace kelvaro
