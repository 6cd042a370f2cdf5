// Matcher: the agent that finds the stored texts within an edit distance of
// a query, for the general engine (dfs).
//
// Every node carries the band of its row of the edit-distance table (see
// EditBand): a node's row follows from its parent's row and its own
// character, so each child is entered with a copy of its parent's row and
// its own path text, and the whole table is never built. A node is recorded
// when it carries a payload and its path text is within max_dist of the
// whole query.
//
// The walk is pruned where no longer path text can come back within
// max_dist (the row's smallest entry exceeds it) and once `limit` results
// are recorded. Among a node's children the one that continues the query
// exactly is entered first, so that the closest matches are found early.
//
// This is the walk for any trie, tree-shaped or not; TreeWalk does the same work
// faster on tree-shaped tries and is checked against it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "prefix/agent.h"
#include "prefix/edit_row.h"
#include "prefix/interrupt.h"
#include "prefix/queries.h"
#include "prefix/state.h"
#include "prefix/trie.h"

namespace kelvaro {

class Matcher {
 public:
  // The keys of the values that the matcher keeps in each node's State.
  static constexpr std::string_view kCurPrefix = "CUR_PREFIX";  // Path
  static constexpr std::string_view kPrevRow = "PREV_ROW";      // Row, the parent's
  static constexpr std::string_view kCurRow = "CUR_ROW";        // Row, the node's own

  using Row = std::vector<Cell>;
  using Path = std::u32string;

  Matcher(std::u32string query, std::uint64_t max_dist, std::optional<std::uint64_t> limit);
  // The band views the matcher's own query.
  Matcher(const Matcher&) = delete;
  Matcher& operator=(const Matcher&) = delete;

  State initial_state() const;
  void visit_node(NodeId node, std::optional<Payload> payload, State& state);
  void get_children_to_visit(NodeId node, const State& state, std::span<const Child> children,
                             std::vector<NodeVisit>& out) const;

  const std::vector<Match>& results() const { return results_; }
  std::vector<Match> take_results() { return std::move(results_); }

 private:
  bool limit_reached() const;

  std::u32string query_;
  // Without a tree there is no deepest path to bound the band by.
  EditBand band_;
  std::uint64_t max_dist_;
  std::optional<std::uint64_t> limit_;
  std::vector<Match> results_;
  // A row of cells is a node's work; dfs counts the nodes.
  InterruptCheck interrupts_;
};

static_assert(Agent<Matcher>);
// Every node's rows and path are held in their State's entries; boxed, each
// would cost an allocation more per node.
static_assert(State::kHeldInEntry<Matcher::Row> && State::kHeldInEntry<Matcher::Path>);

}  // namespace kelvaro
