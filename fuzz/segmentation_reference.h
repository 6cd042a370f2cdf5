// The segmentation of text as it was first written, the slow and plain
// version that text/segmentation.cpp must agree with: every step holds its
// word's key, every cut before a word is offered to the beam on its own,
// each pair is looked up in the whole table, and the text as written is
// walked whole beside its folded view.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "folded/best_payloads.h"
#include "prefix/interrupt.h"
#include "search/typo_cost.h"
#include "text/segmentation.h"
#include "text/text_index.h"
#include "text/tokenizer.h"

namespace kelvaro::fuzz::reference {
using namespace kelvaro::text;

inline constexpr double kNever = std::numeric_limits<double>::infinity();

inline char32_t plain(char32_t ch) {
  return is_apostrophe(ch) ? U'\'' : ch;
}

// A cut of the text up to a position, and the piece that ends it: the
// step it extends is entry `slot` of the beam at `from`.
struct Step {
  double cost = kNever;
  std::size_t from = 0;
  std::size_t slot = 0;
  std::optional<Known> word;
  std::uint64_t distance = 0;
  // The last word, which the next is weighed after; none after a piece
  // that is no word.
  std::optional<Context> context;
};

// The cheapest cuts up to a position, one for each last word. Without
// counts of word pairs the next word's cost does not depend on the last,
// so one cut is all there is to keep; with them, a few (a beam), since a
// dearer cut may end in a word the rest of the text fits better.
inline constexpr std::size_t kBeamWithPairs = 6;

class ReferenceSegmenter {
 public:
  ReferenceSegmenter(const TextIndex& index, TextViews views, std::size_t start, std::size_t end,
                     const WordCosts& costs, std::uint64_t max_dist, double piece_cost)
      : trie_(index.tries.forward),
        best_forward_(index.tries.best_forward),
        index_(index),
        views_(views),
        start_(start),
        length_(end - start),
        costs_(costs),
        max_dist_(max_dist),
        piece_cost_(piece_cost),
        longest_(std::max<std::size_t>(trie_.height(), 1)),
        beam_(costs.has_pairs() ? kBeamWithPairs : 1),
        steps_(length_ + 1) {}

  Segmentation run() {
    // The cut into exact words first: its cost bounds what a cut with near
    // words may spend, which prunes most of their walks.
    pass(0);
    if (max_dist_ > 0) {
      bound_ = best(length_);
      steps_.assign(length_ + 1, {});
      pass(max_dist_);
    }
    Segmentation result;
    std::size_t slot = best_slot(length_);
    result.cost = steps_[length_][slot].cost - piece_cost_;
    for (std::size_t at = length_; at > 0;) {
      const Step& step = steps_[at][slot];
      result.pieces.push_back({start_ + step.from, start_ + at, step.word, step.distance});
      at = step.from;
      slot = step.slot;
    }
    std::reverse(result.pieces.begin(), result.pieces.end());
    return result;
  }

 private:
  void pass(std::uint64_t max_dist) {
    steps_[0] = {Step{0, 0, 0, std::nullopt, 0, std::nullopt}};
    for (std::size_t from = 0; from < length_; ++from) {
      if (steps_[from].empty()) continue;
      descend(from, views_.folded);
      if (!index_.normalized) descend(from, views_.written);
      // Near words start where the text does or a word ends: after a piece
      // that is no word, the cut is already as dear as a cut gets.
      const bool after_word =
          from == 0 || std::any_of(steps_[from].begin(), steps_[from].end(),
                                   [](const Step& step) { return step.word.has_value(); });
      if (max_dist > 0 && after_word && best(from) + piece_cost_ < bound()) walk_near(from);
      // A piece that is no word, so that every position can be reached.
      const std::size_t farthest = std::min(length_ - from, longest_);
      const std::size_t slot = best_slot(from);
      const double before = steps_[from][slot].cost;
      for (std::size_t size = 1; size <= farthest; ++size) {
        const double cost = before + costs_.of_unknown(size) + piece_cost_;
        keep(from + size, {cost, from, slot, std::nullopt, 0, std::nullopt});
      }
    }
  }

  // The cheapest cut up to `at`: its cost (kNever for none), its slot.
  double best(std::size_t at) const {
    return steps_[at].empty() ? kNever : steps_[at][best_slot(at)].cost;
  }
  std::size_t best_slot(std::size_t at) const {
    std::size_t slot = 0;
    for (std::size_t i = 1; i < steps_[at].size(); ++i)
      if (steps_[at][i].cost < steps_[at][slot].cost) slot = i;
    return slot;
  }

  // What no better cut can cost as much as.
  double bound() const { return std::min(bound_, best(length_)); }

  // The word from `from` to `to`, after each cut that ends at `from`.
  void relax(std::size_t from, std::size_t to, double extra, Known word, std::uint32_t number,
             std::uint64_t distance) {
    const Context context{number, word.payload};
    const std::size_t length = to - from;
    for (std::size_t slot = 0; slot < steps_[from].size(); ++slot) {
      const Step& before = steps_[from][slot];
      const double total =
          before.cost + (costs_.after(before.context, context, length) + extra) + piece_cost_;
      keep(to, {total, from, slot, word, distance, context});
    }
  }

  // A cut into the beam at `at`: in place of a dearer one with the same
  // last word, or of the dearest when the beam is full.
  void keep(std::size_t at, Step&& step) {
    std::vector<Step>& beam = steps_[at];
    const auto same_last = [&](const Step& other) {
      if (!step.context.has_value() || !other.context.has_value())
        return step.context.has_value() == other.context.has_value();
      return step.context->number == other.context->number;
    };
    for (Step& other : beam) {
      if (!same_last(other)) continue;
      if (step.cost < other.cost) other = std::move(step);
      return;
    }
    if (beam.size() < beam_) {
      beam.push_back(std::move(step));
      return;
    }
    Step& dearest = *std::max_element(beam.begin(), beam.end(),
                                      [](const Step& a, const Step& b) { return a.cost < b.cost; });
    if (step.cost < dearest.cost) dearest = std::move(step);
  }

  // Every stored word that the view spells from `from` on.
  void descend(std::size_t from, std::u32string_view view) {
    NodeId node = 0;
    std::u32string key;
    for (std::size_t to = from; to < length_; ++to) {
      interrupts_.tick();
      const char32_t ch = plain(view[start_ + to]);
      const Run run = trie_.run_of(node);
      const std::optional<std::size_t> place = trie_.last_child_with(run, ch);
      if (!place.has_value()) return;
      node = trie_.child_at(*place);
      key.push_back(ch);
      if (const std::optional<Payload> payload = trie_.payload(node))
        relax(from, to + 1, 0, Known{key, *payload}, trie_.word_number(node).value_or(0), 0);
    }
  }

  // Every stored word within max_dist edits of a piece that starts at
  // `from`: a depth-first walk of the trie, one row of the edit-distance
  // table per depth against the text from `from` on. At depth d only the
  // cells within max_dist of column d can be within reach, so only they are
  // computed, and the cells on either side of them hold the cap.
  void walk_near(std::size_t from) {
    const std::u32string_view view = index_.normalized ? views_.folded : views_.written;
    const std::size_t columns = std::min<std::size_t>(length_ - from, longest_ + max_dist_);
    std::u32string typed;
    for (std::size_t i = 0; i < columns; ++i) typed.push_back(plain(view[start_ + from + i]));
    const std::size_t width = columns + 1;
    const std::uint64_t cap = max_dist_ + 1;
    std::vector<std::uint64_t>& rows = rows_;
    rows.assign(width, cap);
    for (std::size_t i = 0; i < width && i <= max_dist_; ++i) rows[i] = i;
    std::vector<PendingNode>& pending = pending_;
    pending.clear();
    std::u32string path;
    const auto push_children = [&](NodeId node, std::size_t depth) {
      const Run run = trie_.run_of(node);
      for (std::size_t p = run.start; p < run.end; ++p)
        pending.push_back({trie_.child_at(p), depth + 1});
    };
    push_children(0, 0);
    while (!pending.empty()) {
      const auto [node, depth] = pending.back();
      pending.pop_back();
      interrupts_.tick();
      // No word at or below the node is likelier than the heaviest there.
      if (depth > max_dist_ + columns ||
          best(from) + piece_cost_ + costs_.of(best_forward_[node]) >= bound())
        continue;
      path.resize(depth - 1);
      const char32_t ch = trie_.node_char(node);
      path.push_back(ch);
      if (rows.size() < (depth + 1) * width) rows.resize((depth + 1) * width, cap);
      const std::uint64_t* above = &rows[(depth - 1) * width];
      std::uint64_t* row = &rows[depth * width];
      const std::size_t low = depth > max_dist_ ? depth - max_dist_ : 1;
      const std::size_t high = std::min(width - 1, depth + max_dist_);
      row[0] = std::min<std::uint64_t>(depth, cap);
      if (low > 1) row[low - 1] = cap;
      if (high + 1 < width) row[high + 1] = cap;
      std::uint64_t least = row[0];
      for (std::size_t i = low; i <= high; ++i) {
        row[i] = std::min({above[i] + 1, row[i - 1] + 1, above[i - 1] + (typed[i - 1] != ch), cap});
        least = std::min(least, row[i]);
      }
      if (const std::optional<Payload> payload = trie_.payload(node)) {
        for (std::size_t i = low; i <= high; ++i) {
          if (row[i] == 0 || row[i] > max_dist_) continue;
          const double typo = typo_cost(path, std::u32string_view(typed).substr(0, i));
          relax(from, from + i, typo, Known{path, *payload}, trie_.word_number(node).value_or(0),
                row[i]);
        }
      }
      if (least < max_dist_) {
        push_children(node, depth);
      } else if (least == max_dist_ && depth + 1 <= columns + max_dist_) {
        // With no edit to spare, a child comes within reach only by matching
        // a character of its band: only those children are entered.
        const std::size_t first = depth > max_dist_ ? depth - max_dist_ : 0;
        const std::size_t last = std::min(columns, depth + max_dist_ + 1);
        if (first >= last) continue;
        trie_.children_carrying(trie_.run_of(node),
                                std::u32string_view(typed).substr(first, last - first), carrying_);
        for (const std::size_t p : carrying_) pending.push_back({trie_.child_at(p), depth + 1});
      }
    }
  }

  const CompactTrie& trie_;
  PerFolded best_forward_;
  const TextIndex& index_;
  TextViews views_;
  std::size_t start_;
  std::size_t length_;
  const WordCosts& costs_;
  std::uint64_t max_dist_;
  double piece_cost_;
  std::size_t longest_;
  std::size_t beam_;
  std::vector<std::vector<Step>> steps_;
  double bound_ = kNever;
  std::vector<std::uint64_t> rows_;
  struct PendingNode {
    NodeId node;
    std::size_t depth;
  };
  std::vector<PendingNode> pending_;
  std::vector<std::size_t> carrying_;
  InterruptCheck interrupts_;
};

inline Segmentation segment_span(const TextIndex& index, TextViews views, std::size_t start,
                                 std::size_t end, const WordCosts& costs, std::uint64_t max_dist,
                                 double piece_cost = 0) {
  if (start >= end) return {};
  return ReferenceSegmenter(index, views, start, end, costs, max_dist, piece_cost).run();
}

}  // namespace kelvaro::fuzz::reference
