// Matcher: the agent that finds the stored texts within an edit distance of
// a query.
//
// Every node carries one row of the edit-distance table: entry i is the
// distance between the node's path text (the characters from the root down
// to it) and the first i characters of the query. A node's row follows from
// its parent's row and its own character, so each child is entered with a
// copy of its parent's row and its own path text, and the whole table is
// never built. A node is recorded when it carries a payload and its path
// text is within max_dist of the whole query (the row's last entry).
//
// The walk is pruned where no longer path text can come back within
// max_dist (the row's smallest entry exceeds it) and once `limit` results
// are recorded. Among a node's children the one that continues the query
// exactly is entered first, so that the closest matches are found early.
//
// Rows and path texts are made and dropped for every node entered, so they
// are RecycledArrays over a Recycler that the matcher shares with them: each
// still owns its own storage, but storage freed by a finished node is reused
// by the next one instead of going back to the heap.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "prefix/agent.h"
#include "prefix/recycled_array.h"
#include "prefix/recycler.h"
#include "prefix/state.h"
#include "prefix/trie.h"

namespace kelvaro {

// A recorded match: the node's path text in UTF-8, the node, and the edit
// distance between the path text and the query.
struct MatchRecord {
  std::string text;
  NodeId node;
  std::uint64_t distance;
  friend bool operator==(const MatchRecord&, const MatchRecord&) = default;
};

class Matcher {
 public:
  // The keys of the values that the matcher keeps in each node's State.
  static constexpr std::string_view kCurPrefix = "CUR_PREFIX";  // Path
  static constexpr std::string_view kPrevRow = "PREV_ROW";      // Row, the parent's
  static constexpr std::string_view kCurRow = "CUR_ROW";        // Row, the node's own

  using Row = RecycledArray<std::uint64_t>;
  using Path = RecycledArray<char32_t>;

  Matcher(std::u32string query, std::uint64_t max_dist, std::optional<std::uint64_t> limit);

  State initial_state() const;
  void visit_node(NodeId node, std::optional<Payload> payload, State& state);
  // Whether get_children_to_visit enters any child of the node whose State
  // this is: not once the limit is reached or the row's smallest entry
  // exceeds max_dist. Fails as get_children_to_visit would.
  bool enters_children(const State& state) const;
  void get_children_to_visit(NodeId node, const State& state, std::span<const Child> children,
                             std::vector<NodeVisit>& out) const;

  const std::vector<MatchRecord>& results() const { return results_; }
  std::vector<MatchRecord> take_results() { return std::move(results_); }

 private:
  Row root_row() const;
  Row child_row(const Row& parent_row, char32_t ch) const;
  bool limit_reached() const;
  void add_child(const Child& child, const Row& row, const Path& path,
                 std::vector<NodeVisit>& out) const;

  RecyclerHandle recycler_;
  std::optional<std::uint64_t> limit_;
  std::vector<MatchRecord> results_;
  std::u32string query_;
  std::uint64_t max_dist_;
};

static_assert(Agent<Matcher> && ChoosesChildrenByState<Matcher>);

}  // namespace kelvaro
