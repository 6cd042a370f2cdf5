// TreeWalk: the edit-distance search over a sound trie, with typed state.
//
// It finds what the general engine (dfs driving a Matcher) finds, in the
// same order: depth first from the root, a node before its descendants, and
// among a node's children first the last one whose character continues the
// query (while the node's depth is below the query's length), then the
// others in run order. A node is reported when it has a payload and its path
// text is within max_dist of the query; the children of a node are entered
// while its row holds a distance within max_dist.
//
// In a sound trie (Trie::is_sound) nothing can fail, so the walk is free to
// skip what cannot change the answer, and it keeps its state in four flat
// buffers instead of a State per node:
//   - a stack of the nodes still to enter, with their depth and character;
//   - one path buffer, path[d - 1] being the character at depth d;
//   - one band of the edit-distance table per depth (see EditBand), a
//     child's computed from its parent's when the child is entered;
//   - the stack never holds a child that cannot come within reach: every
//     character that the band does not compare gives a child the same row,
//     and when that row is beyond reach only the children whose characters
//     the band compares are entered. On a wide node this is a few binary
//     searches instead of thousands of children.
// The walk stops as soon as its caller has all the matches it wants.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "prefix/edit_row.h"
#include "prefix/interrupt.h"
#include "prefix/trie.h"

namespace kelvaro {

class TreeWalk {
 public:
  // `trie` must be sound; `band` says the query and the bound.
  TreeWalk(const Trie& trie, const EditBand& band, std::uint64_t max_dist, bool transpositions)
      : trie_(trie), band_(band), max_dist_(max_dist), swapping_(transpositions) {}

  // Calls record(node, path, distance) for every match, in order, until it
  // returns false.
  template <typename Record>
  void run(Record&& record) {
    const std::size_t width = band_.width();
    rows_.assign(2 * width, 0);
    path_.clear();
    pending_.clear();
    band_.root_row(rows_.data());
    push_children(0, 0);
    while (!pending_.empty()) {
      const Pending next = pending_.back();
      pending_.pop_back();
      interrupts_.tick();
      const std::size_t depth = next.depth;
      if (rows_.size() < (depth + 2) * width) rows_.resize(2 * rows_.size() + width);
      path_.resize(depth);
      path_[depth - 1] = next.ch;
      Cell* row = row_at(depth);
      fill_row(depth, next.ch, row);
      const Cell distance = band_.last(depth, row);
      if (distance <= max_dist_ && trie_.node_payloads()[next.node].has_value()) {
        if (!record(next.node, std::u32string_view(path_), distance)) return;
      }
      if (band_.smallest(row) <= max_dist_) push_children(next.node, depth);
    }
  }

 private:
  struct Pending {
    NodeId node;
    std::uint32_t depth;
    char32_t ch;
  };

  // Never a character: stands for one that the query does not hold.
  static constexpr char32_t kNoCharacter = 0xFFFFFFFF;
  static constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

  Cell* row_at(std::size_t depth) { return rows_.data() + depth * band_.width(); }

  // The row at `depth` for character `ch`, from the rows above it.
  void fill_row(std::size_t depth, char32_t ch, Cell* row) {
    if (swapping_) {
      const char32_t parent_ch = depth >= 2 ? path_[depth - 2] : kNoCharacter;
      const Cell* grandparent = depth >= 2 ? row_at(depth - 2) : nullptr;
      band_.child_row_swapping(depth, ch, parent_ch, row_at(depth - 1), grandparent, row);
    } else {
      band_.child_row(depth, ch, row_at(depth - 1), row);
    }
  }

  // Pushes the children of `node` (at `depth`) that can matter, so that they
  // come off the stack in the search's order.
  void push_children(NodeId node, std::size_t depth) {
    const Run run = trie_.run_of(node);
    if (run.size() == 0) return;
    const std::u32string_view query = band_.query();
    // No position is the largest size_t, which is what "none" reads as.
    const std::size_t preferred =
        depth < query.size() ? trie_.last_child_with(run, query[depth]).value_or(kNoPosition)
                             : kNoPosition;
    const std::size_t stacked = pending_.size();
    const auto push = [&](std::size_t position) {
      pending_.push_back({trie_.child_indices()[position], static_cast<std::uint32_t>(depth + 1),
                          trie_.run_chars()[position]});
    };
    if (reaches_with_any_character(depth)) {
      for (std::size_t position = run.end; position-- > run.start;)
        if (position != preferred) push(position);
    } else {
      gather_compared(run, depth + 1);
      for (std::size_t i = gathered_.size(); i-- > 0;)
        if (gathered_[i] != preferred) push(gathered_[i]);
    }
    if (preferred != kNoPosition) push(preferred);
    // Counted as work, so that a node with a huge run is interruptible too.
    interrupts_.tick(static_cast<std::uint32_t>(std::min<std::size_t>(
        (pending_.size() - stacked) / 8, std::uint32_t{1} << 20)));
  }

  // Whether a child of the node at `depth` whose character the band does not
  // compare would still be within reach. Such a child's cells are each one
  // more than the least of the parent's cells that they are computed from,
  // and together they draw on all of them, so its smallest cell is one more
  // than the parent's smallest.
  bool reaches_with_any_character(std::size_t depth) {
    return band_.smallest(row_at(depth)) + 1 <= max_dist_;
  }

  // The positions of `run` whose characters the band compares at
  // `child_depth`, in run order, into gathered_.
  void gather_compared(Run run, std::size_t child_depth) {
    gathered_.clear();
    const std::u32string_view compared = band_.compared(child_depth, swapping_);
    const std::span<const char32_t> chars = trie_.run_chars(run);
    // A wide sorted run: each compared character found by binary search.
    if (trie_.runs_sorted() && chars.size() > 8 * compared.size()) {
      for (std::size_t i = 0; i < compared.size(); ++i) {
        const char32_t ch = compared[i];
        if (compared.substr(0, i).find(ch) != std::u32string_view::npos) continue;
        const auto [first, last] = std::equal_range(chars.begin(), chars.end(), ch);
        for (auto it = first; it != last; ++it)
          gathered_.push_back(run.start + static_cast<std::size_t>(it - chars.begin()));
      }
      std::sort(gathered_.begin(), gathered_.end());
      return;
    }
    // Otherwise one look at each child's character.
    for (std::size_t i = 0; i < chars.size(); ++i) {
      if (compared.find(chars[i]) != std::u32string_view::npos) gathered_.push_back(run.start + i);
    }
  }

  const Trie& trie_;
  const EditBand& band_;
  std::uint64_t max_dist_;
  bool swapping_;
  std::vector<Pending> pending_;
  std::u32string path_;
  std::vector<Cell> rows_;
  std::vector<std::size_t> gathered_;
  InterruptCheck interrupts_;
};

// The node that spells `query` and has a payload, as the search finds it
// first, in a sound trie: a descent along the query, trying the children that
// carry its next character (the last of them, then the others in run order)
// and stopping at the first hit.
std::optional<NodeId> find_exact(const Trie& trie, std::u32string_view query);

}  // namespace kelvaro
