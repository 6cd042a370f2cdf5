// The bare walk: the edit-distance search of kelvaro's Matcher, written as
// lean as it can be, as the floor against which the benchmark measures the
// State-based engine.
//
// It visits the same nodes in the same order and records the same matches,
// with the same row arithmetic (edit_row.h), but keeps one row per depth in a
// single buffer and the path text in another, so entering a node allocates
// nothing and copies nothing: a node's row overwrites the row of the last
// node seen at its depth, whose subtree is finished by then. It lists the
// children only of nodes whose children it enters, and trusts the trie to be
// well formed: it checks nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prefix/edit_row.h"
#include "prefix/matcher.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"

namespace kelvaro::bench {

class BareWalk {
 public:
  BareWalk(const Trie& trie, std::u32string query, std::uint64_t max_dist,
           std::optional<std::uint64_t> limit)
      : trie_(trie), query_(std::move(query)), max_dist_(max_dist), limit_(limit) {}

  void run() {
    const std::size_t width = query_.size() + 1;
    stack_.push_back({0, 0});
    while (!stack_.empty()) {
      const Pending current = stack_.back();
      stack_.pop_back();
      ++visited_;
      if (rows_.size() < (current.depth + 1) * width) rows_.resize((current.depth + 1) * width);
      std::uint64_t* row = rows_.data() + current.depth * width;
      if (current.depth == 0) {
        for (std::size_t i = 0; i < width; ++i) row[i] = i;
      } else {
        const char32_t ch = trie_.node_chars()[current.node].value();
        if (path_.size() < current.depth) path_.resize(current.depth);
        path_[current.depth - 1] = ch;
        fill_child_row(row - width, query_, ch, row);
        const std::optional<Payload> payload = trie_.node_payloads()[current.node];
        if (payload.has_value() && row[width - 1] <= max_dist_ && !limit_reached()) {
          results_.push_back({utf8::encode(std::u32string_view(path_.data(), current.depth)),
                              current.node, row[width - 1]});
        }
      }
      if (limit_reached() || smallest_entry(row, width) > max_dist_) continue;
      push_children(current);
    }
  }

  const std::vector<MatchRecord>& results() const { return results_; }
  std::size_t visited() const { return visited_; }

 private:
  struct Pending {
    NodeId node;
    std::size_t depth;
  };

  // The child that continues the query (the last such) is entered first,
  // then the others in run order: pushed in reverse, the preferred last.
  void push_children(const Pending& parent) {
    const std::vector<std::uint32_t>& shifts = trie_.node_shifts();
    const std::size_t start = shifts[parent.node];
    const std::size_t end =
        parent.node + 1 < shifts.size() ? shifts[parent.node + 1] : trie_.child_indices().size();
    if (start >= end) return;
    const NodeId* children = trie_.child_indices().data();
    std::size_t preferred = end;
    if (parent.depth < query_.size()) {
      const char32_t wanted = query_[parent.depth];
      for (std::size_t p = end; p-- > start;) {
        if (trie_.node_chars()[children[p]].value() == wanted) {
          preferred = p;
          break;
        }
      }
    }
    for (std::size_t p = end; p-- > start;) {
      if (p != preferred) stack_.push_back({children[p], parent.depth + 1});
    }
    if (preferred != end) stack_.push_back({children[preferred], parent.depth + 1});
  }

  bool limit_reached() const { return limit_.has_value() && results_.size() >= *limit_; }

  const Trie& trie_;
  std::u32string query_;
  std::uint64_t max_dist_;
  std::optional<std::uint64_t> limit_;
  std::vector<std::uint64_t> rows_;
  std::vector<char32_t> path_;
  std::vector<Pending> stack_;
  std::vector<MatchRecord> results_;
  std::size_t visited_ = 0;
};

}  // namespace kelvaro::bench
