// TreeWalk: the edit-distance search over a tree-shaped trie, with typed state.
//
// It finds what the general engine (dfs driving a Matcher) finds, in the
// same order: depth first from the root, a node before its descendants, and
// among a node's children first the last one whose character continues the
// query (while the node's depth is below the query's length), then the
// others in run order. A node is reported when it has a payload and its path
// text is within max_dist of the query; the children of a node are entered
// while its row holds a distance within max_dist. The root is reported only
// in a trie whose root spells a word (TrieT::kRootIsWord), before any other.
//
// In a tree-shaped trie (Trie::is_tree) nothing can fail, so the walk is free to
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
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "prefix/edit_row.h"
#include "prefix/interrupt.h"
#include "prefix/queries.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"

namespace kelvaro {

// A narrower search: only paths that, somewhere along the way, come within
// `budget` edits of the query's first `columns` characters. A search that
// splits the query into pieces uses guards to spend few edits where the trie
// is widest. A guard of no columns holds from the root.
struct WalkGuard {
  std::size_t columns = 0;
  std::uint64_t budget = 0;
};

// Up to two guards, all of which a path must meet.
using WalkGuards = std::array<WalkGuard, 2>;

template <typename TrieT>
class TreeWalk {
  using Place = typename TrieT::Place;
  using Key = typename TrieT::Key;
  static constexpr Key kNoKey = TrieT::kNoKey;
  static constexpr Key kKeyTable = 128;

 public:
  // `trie` must be tree-shaped; `band` says the query and the bound.
  TreeWalk(const TrieT& trie, const EditBand& band, std::uint64_t max_dist, bool transpositions,
           WalkGuards guards = {})
      : trie_(trie), band_(band), max_dist_(max_dist), swapping_(transpositions), guards_(guards) {
    // A search runs several walks one after another; the buffers of the
    // last one on this thread are taken over, so that their memory is
    // allocated once rather than once per walk. A walk made while another
    // holds them (a lookup in a signal handler that the embedder runs from
    // the outer walk's interrupt check) allocates its own.
    if (Spare& kept = spare(); !kept.lent) {
      kept.lent = true;
      borrowed_ = true;
      std::swap(b_, kept.buffers);
    }
    find_keys();
  }
  ~TreeWalk() {
    if (!borrowed_) return;
    Spare& kept = spare();
    std::swap(b_, kept.buffers);
    kept.lent = false;
  }
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;

  // Calls record(place, path, distance) for every match (place being the
  // trie's Place of its node), in order, until it returns false.
  template <typename Record>
  void run(Record&& record) {
    run(record, [](Place, Cell) { return false; });
  }

  // The same, skipping every node (and all below it) for which
  // skip(node, least) says so, `least` being the least distance that any
  // word at or below the node can have: for a caller that wants only the
  // best few matches by some measure of its own.
  template <typename Record, typename Skip>
  void run(Record&& record, Skip&& skip) {
    const std::size_t width = band_.stride();
    b_.rows.assign(2 * width, 0);
    b_.path.clear();
    b_.pending.clear();
    band_.root_row(b_.rows.data());
    // The guards still to meet, as bits, per depth along the path.
    unmet_.assign(1, 0);
    for (std::size_t i = 0; i < guards_.size(); ++i)
      if (guards_[i].columns > guards_[i].budget) unmet_[0] |= 1u << i;
    Constraint root;
    if (!choose(0, b_.rows.data(), 0, unmet_[0], root)) return;
    if constexpr (TrieT::kRootIsWord) {
      const Cell distance = band_.last(0, b_.rows.data());
      if (distance <= max_dist_ && trie_.has_payload(TrieT::root()) &&
          !record(TrieT::root(), std::u32string_view(), distance))
        return;
    }
    push_children(TrieT::root(), 0, root.smallest, root.threshold, root.columns);
    while (!b_.pending.empty()) {
      const Pending next = b_.pending.back();
      b_.pending.pop_back();
      // A row of cells is a node's work.
      interrupts_.tick(band_.row_work());
      const std::size_t depth = next.depth;
      if (b_.rows.size() < (depth + 1) * width) b_.rows.resize(2 * b_.rows.size() + width);
      b_.path.resize(depth);
      b_.path[depth - 1] = next.ch;
      Cell* row = row_at(depth);
      const Cell smallest = fill_row(depth, next.ch, row);
      if (smallest > max_dist_) continue;
      if (unmet_.size() <= depth) unmet_.resize(2 * depth);
      unsigned unmet = unmet_[depth - 1];
      for (std::size_t i = 0; i < guards_.size(); ++i) {
        if ((unmet >> i & 1) && band_.cell(depth, row, guards_[i].columns) <= guards_[i].budget)
          unmet &= ~(1u << i);
      }
      unmet_[depth] = static_cast<std::uint8_t>(unmet);
      Constraint tightest;
      if (!choose(depth, row, smallest, unmet, tightest)) continue;
      // Nothing at or below the node comes within reach when the words there
      // are too short or too long for the query.
      const Cell least = band_.least_extended(depth, row, trie_.nearest_word(next.node),
                                              trie_.deepest_below(next.node), TrieT::kFarthest);
      if (least > max_dist_ || skip(next.node, least)) continue;
      const Cell distance = band_.last(depth, row);
      if (distance <= max_dist_ && trie_.has_payload(next.node)) {
        if (!record(next.node, std::u32string_view(b_.path), distance)) return;
      }
      push_children(next.node, depth, tightest.smallest, tightest.threshold, tightest.columns);
    }
  }

 private:
  struct Pending {
    Place node;
    std::uint32_t depth;
    char32_t ch;
  };

  // Never a character: stands for one that the query does not hold.
  static constexpr char32_t kNoCharacter = 0xFFFFFFFF;
  static constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

  Cell* row_at(std::size_t depth) { return b_.rows.data() + depth * band_.stride(); }

  // What the cells of a node's first `columns` columns must keep to: the
  // least of them, and the most it may be.
  struct Constraint {
    Cell smallest;
    Cell threshold;
    std::size_t columns;
  };

  // Whether the node whose row is `row` (smallest cell `smallest`) can lead
  // to a match while the guards `unmet` are still to be met: each needs its
  // columns within its budget, and the whole row within max_dist. If so,
  // `tightest` is the constraint that its children's characters must serve:
  // one that a child whose character the band does not compare fails, when
  // there is one (the narrowest), else the whole row's.
  bool choose(std::size_t depth, const Cell* row, Cell smallest, unsigned unmet,
              Constraint& tightest) const {
    tightest = {smallest, max_dist_, band_.query().size()};
    bool all_children = smallest + 1 <= max_dist_;
    for (std::size_t i = 0; i < guards_.size(); ++i) {
      if (!(unmet >> i & 1)) continue;
      const WalkGuard& guard = guards_[i];
      const Cell least = band_.smallest_through(depth, row, guard.columns);
      if (least > guard.budget) return false;
      if (least + 1 > guard.budget && (all_children || guard.columns < tightest.columns)) {
        tightest = {least, guard.budget, guard.columns};
        all_children = false;
      }
    }
    return true;
  }

  // The row at `depth` for character `ch`, from the rows above it; returns
  // its smallest cell.
  Cell fill_row(std::size_t depth, char32_t ch, Cell* row) {
    if (swapping_) {
      const char32_t parent_ch = depth >= 2 ? b_.path[depth - 2] : kNoCharacter;
      const Cell* grandparent = depth >= 2 ? row_at(depth - 2) : nullptr;
      return band_.child_row_swapping(depth, ch, parent_ch, row_at(depth - 1), grandparent, row);
    }
    return band_.child_row(depth, ch, row_at(depth - 1), row);
  }

  // Pushes the children of `node` (at `depth`) that can matter, so that they
  // come off the stack in the search's order.
  // `smallest` is the least of the node's cells in its first `columns`
  // columns, which must stay within `threshold`.
  void push_children(Place node, std::size_t depth, Cell smallest, Cell threshold,
                     std::size_t columns) {
    const Run run = trie_.run_of(node);
    if (run.size() == 0) return;
    const std::u32string_view query = band_.query();
    // No position is the largest size_t, which is what "none" reads as.
    const std::size_t preferred =
        depth < query.size() && b_.query_keys[depth] != kNoKey
            ? trie_.last_child_with_key(run, b_.query_keys[depth]).value_or(kNoPosition)
            : kNoPosition;
    const std::size_t stacked = b_.pending.size();
    const auto push = [&](std::size_t position) {
      b_.pending.push_back({trie_.place_at(position, node), static_cast<std::uint32_t>(depth + 1),
                            trie_.char_at(position)});
    };
    // A child whose character the band does not compare has cells each one
    // more than the least of the parent's cells they are computed from, and
    // together they draw on all of them: its smallest cell is one more than
    // the parent's. Unless that is within reach, only the children whose
    // characters the band compares can be.
    const bool gathering = smallest + 1 > threshold;
    if (!gathering) {
      for (std::size_t position = run.end; position-- > run.start;)
        if (position != preferred) push(position);
    } else {
      gather_compared(run, depth, threshold, columns);
      for (std::size_t i = b_.gathered.size(); i-- > 0;)
        if (b_.gathered[i] != preferred) push(b_.gathered[i]);
    }
    if (preferred != kNoPosition &&
        (!gathering || std::binary_search(b_.gathered.begin(), b_.gathered.end(), preferred)))
      push(preferred);
    // Counted as work, so that a node with a huge run is interruptible too.
    interrupts_.tick(static_cast<std::uint32_t>(
        std::min<std::size_t>((b_.pending.size() - stacked) / 8, std::uint32_t{1} << 20)));
  }

  // The children of the node at `depth`, in a run, that can come within
  // reach when a child whose character the band does not compare cannot:
  // their positions, in run order, into b_.gathered. Every cell of the node's
  // row is then max_dist or more, so a child's cell is within reach only
  // where its character is the query's at a column whose cell in the node's
  // row is exactly max_dist, which it keeps along the diagonal (or, with
  // transpositions, where a swap reaches back to the row above).
  void gather_compared(Run run, std::size_t depth, Cell threshold, std::size_t columns) {
    const auto [from, to] = band_.compared(depth + 1, swapping_);
    const std::u32string_view compared = band_.query().substr(from, to - from);
    // A run that is narrow, or not sorted, in a query of up to 64
    // characters: one look at each child's character, at the bits of the
    // positions where it occurs.
    if (!b_.occurrences.empty() && !(trie_.runs_sorted() && run.size() > 8 * compared.size())) {
      b_.gathered.clear();
      const std::uint64_t window =
          swapping_ ? bits(from, to) : diagonal_bits(depth, threshold, columns);
      for (std::size_t position = run.start; position < run.end; ++position) {
        if (occurrences_of(trie_.key_at(position)) & window) b_.gathered.push_back(position);
      }
      return;
    }
    trie_.children_carrying_keys(run, std::span<const Key>(b_.query_keys).subspan(from, to - from),
                                 b_.gathered);
  }

  static std::uint64_t bits(std::size_t from, std::size_t to) {
    const std::uint64_t ones =
        to - from >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << (to - from)) - 1;
    return ones << from;
  }

  // The query positions p below `columns` at which the row of the node at
  // `depth` holds `threshold` or less in column p: a child carrying query[p]
  // keeps that distance in column p + 1.
  std::uint64_t diagonal_bits(std::size_t depth, Cell threshold, std::size_t columns) {
    const Cell* row = row_at(depth);
    const std::size_t first = band_.start(depth);
    std::uint64_t found = 0;
    for (std::size_t t = 0; t < band_.width() && first + t < columns; ++t) {
      if (row[t] <= threshold) found |= std::uint64_t{1} << (first + t);
    }
    return found;
  }

  // Each query character as the trie keys it (its rank in a compact trie's
  // alphabet), or kNoKey where no child can carry it. For a query of up to
  // 64 characters, also per key the bits of the positions where it occurs:
  // a table for the first 128 keys and a sorted list for the rest.
  void find_keys() {
    const std::u32string_view query = band_.query();
    b_.query_keys.resize(query.size());
    for (std::size_t i = 0; i < query.size(); ++i)
      b_.query_keys[i] = trie_.key_of(query[i]).value_or(kNoKey);
    // Empty for a longer query: that is how gather_compared tells.
    b_.occurrences.clear();
    b_.wide_occurrences.clear();
    if (query.size() > 64) return;
    b_.occurrences.assign(kKeyTable, 0);
    for (std::size_t i = 0; i < query.size(); ++i) {
      const Key key = b_.query_keys[i];
      if (key == kNoKey) continue;
      if (key < kKeyTable) {
        b_.occurrences[key] |= std::uint64_t{1} << i;
        continue;
      }
      auto it = std::lower_bound(b_.wide_occurrences.begin(), b_.wide_occurrences.end(), key,
                                 [](const auto& entry, Key k) { return entry.first < k; });
      if (it == b_.wide_occurrences.end() || it->first != key)
        it = b_.wide_occurrences.insert(it, {key, 0});
      it->second |= std::uint64_t{1} << i;
    }
  }

  std::uint64_t occurrences_of(Key key) const {
    if (key < kKeyTable) return b_.occurrences[key];
    auto it = std::lower_bound(b_.wide_occurrences.begin(), b_.wide_occurrences.end(), key,
                               [](const auto& entry, Key k) { return entry.first < k; });
    return it != b_.wide_occurrences.end() && it->first == key ? it->second : 0;
  }

  const TrieT& trie_;
  const EditBand& band_;
  std::uint64_t max_dist_;
  bool swapping_;
  WalkGuards guards_;
  // Every buffer a walk fills, each cleared or assigned before it is read;
  // unmet_, a byte per depth, is not worth keeping.
  struct Buffers {
    std::vector<Pending> pending;
    std::u32string path;
    std::vector<Cell> rows;
    std::vector<std::size_t> gathered;
    std::vector<Key> query_keys;
    std::vector<std::uint64_t> occurrences;
    std::vector<std::pair<Key, std::uint64_t>> wide_occurrences;
  };
  Buffers b_;
  // Per depth, along the path: the guards still to be met, as bits.
  std::vector<std::uint8_t> unmet_;
  InterruptCheck interrupts_;
  bool borrowed_ = false;

  // The buffers of the last walk on this thread, lent to the next.
  struct Spare {
    Buffers buffers;
    bool lent = false;
  };
  static Spare& spare() {
    static thread_local Spare kept;
    return kept;
  }
};

// The plain walk of a tree-shaped trie as a list of matches: every stored
// text within max_dist of `query` in walk order, at most `limit` of them;
// with `transpositions` a swap of neighbours is one edit.
template <typename TrieT>
std::vector<Match> walk_tree(const TrieT& trie, std::u32string_view query, std::uint64_t max_dist,
                             std::optional<std::uint64_t> limit, bool transpositions) {
  std::vector<Match> matches;
  if (limit == std::uint64_t{0}) return matches;
  // No distance exceeds the longer of the query and the deepest path, which
  // bounds the band.
  const EditBand band(query, max_dist, std::max<std::uint64_t>(query.size(), trie.height()));
  TreeWalk walk(trie, band, max_dist, transpositions);
  walk.run([&](typename TrieT::Place node, std::u32string_view path, Cell distance) {
    matches.push_back({utf8::encode(path), trie.payload(node), distance});
    return !limit.has_value() || matches.size() < *limit;
  });
  return matches;
}

// The Place of the node that spells `query` and has a payload, as the search finds it
// first, in a tree-shaped trie: a descent along the query, trying the children that
// carry its next character (the last of them, then the others in run order)
// and stopping at the first hit. The empty query finds the root only where
// the root spells a word, as the walk reports it.
template <typename TrieT>
std::optional<typename TrieT::Place> find_exact(const TrieT& trie, std::u32string_view query) {
  using Place = typename TrieT::Place;
  if (query.empty()) {
    if (TrieT::kRootIsWord && trie.has_payload(TrieT::root())) return TrieT::root();
    return std::nullopt;
  }
  // Siblings that never share a character (every index trie): one child
  // at most carries each character, so the descent never turns back.
  if (trie.siblings_distinct()) {
    Place node = TrieT::root();
    for (const char32_t ch : query) {
      const std::optional<std::size_t> position = trie.last_child_with(trie.run_of(node), ch);
      if (!position.has_value()) return std::nullopt;
      node = trie.place_at(*position, node);
    }
    if (!trie.has_payload(node)) return std::nullopt;
    return node;
  }
  struct Pending {
    Place node;
    std::size_t depth;
  };
  std::vector<Pending> pending{{TrieT::root(), 0}};
  InterruptCheck interrupts;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    interrupts.tick();
    if (next.depth == query.size()) {
      if (trie.has_payload(next.node)) return next.node;
      continue;
    }
    const Run run = trie.run_of(next.node);
    const std::optional<std::size_t> last = trie.last_child_with(run, query[next.depth]);
    if (!last.has_value()) continue;
    // Siblings that share the character: the last goes first, then the
    // others in run order, so they are stacked in reverse.
    for (std::size_t position = *last; position-- > run.start;) {
      if (trie.char_at(position) == query[next.depth])
        pending.push_back({trie.place_at(position, next.node), next.depth + 1});
      else if (trie.runs_sorted())
        break;
    }
    pending.push_back({trie.place_at(*last, next.node), next.depth + 1});
  }
  return std::nullopt;
}

}  // namespace kelvaro
