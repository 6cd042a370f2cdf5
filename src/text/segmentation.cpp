#include "text/segmentation.h"

#include <algorithm>
#include <limits>
#include <span>
#include <utility>

#include "folded/best_payloads.h"
#include "prefix/interrupt.h"
#include "search/typo_cost.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

char32_t plain(char32_t ch) {
  return is_apostrophe(ch) ? U'\'' : ch;
}

// Where the key of a step's word is read back from once the cut is
// chosen: the text, folded or as written, or the keys of the near words
// found. A step holds no key of its own, since most steps are dropped and
// a key each would cost an allocation each.
enum class KeyFrom : std::uint8_t { kFolded, kWritten, kNear };

// A cut of the text up to a position, and the piece that ends it: the
// step it extends is entry `slot` of the beam at `from`.
struct Step {
  double cost = kNever;
  std::size_t from = 0;
  std::size_t slot = 0;
  // The word the piece is, which the next is weighed after; none for a
  // piece that is no word.
  std::optional<Context> context;
  std::uint64_t distance = 0;
  KeyFrom key_from = KeyFrom::kFolded;
  // A near word's place among the near keys.
  std::uint32_t near_key = 0;
};

// The cheapest cuts up to a position, one for each last word. Without
// counts of word pairs the next word's cost does not depend on the last,
// so one cut is all there is to keep; with them, a few (a beam), since a
// dearer cut may end in a word the rest of the text fits better.
constexpr std::size_t kBeamWithPairs = 6;

class Segmenter {
 public:
  Segmenter(const TextIndex& index, TextViews views, std::size_t start, std::size_t end,
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
        steps_((length_ + 1) * beam_),
        filled_(length_ + 1) {}

  Segmentation run() {
    if (!index_.normalized) find_differences();
    // The cut into exact words first: its cost bounds what a cut with near
    // words may spend, which prunes most of their walks.
    pass(0);
    if (max_dist_ > 0) {
      bound_ = best(length_);
      filled_.assign(length_ + 1, 0);
      pass(max_dist_);
    }
    Segmentation result;
    std::size_t slot = best_slot(length_);
    result.cost = beam(length_)[slot].cost - piece_cost_;
    for (std::size_t at = length_; at > 0;) {
      const Step& step = beam(at)[slot];
      std::optional<Known> word;
      if (step.context.has_value()) word = Known{key_of(step, at), step.context->payload};
      result.pieces.push_back({start_ + step.from, start_ + at, std::move(word), step.distance});
      at = step.from;
      slot = step.slot;
    }
    std::reverse(result.pieces.begin(), result.pieces.end());
    return result;
  }

 private:
  void pass(std::uint64_t max_dist) {
    steps_[0] = Step{0, 0, 0, std::nullopt, 0};
    filled_[0] = 1;
    near_keys_.clear();
    rows_from_ = kNoRows;
    for (std::size_t from = 0; from < length_; ++from) {
      if (filled_[from] == 0) continue;
      descend(from, KeyFrom::kFolded);
      if (!index_.normalized) descend(from, KeyFrom::kWritten);
      // Near words start where the text does or a word ends: after a piece
      // that is no word, the cut is already as dear as a cut gets.
      const bool after_word =
          from == 0 || std::any_of(beam(from).begin(), beam(from).end(),
                                   [](const Step& step) { return step.context.has_value(); });
      if (max_dist > 0 && after_word && best(from) + piece_cost_ < bound()) walk_near(from);
      // A piece that is no word, so that every position can be reached.
      const std::size_t farthest = std::min(length_ - from, longest_);
      const std::size_t slot = best_slot(from);
      const double before = beam(from)[slot].cost;
      for (std::size_t size = 1; size <= farthest; ++size) {
        const double cost = before + costs_.of_unknown(size) + piece_cost_;
        keep(from + size, {cost, from, slot, std::nullopt, 0});
      }
    }
  }

  // The cuts kept up to `at`, in the order they were kept.
  std::span<Step> beam(std::size_t at) { return {&steps_[at * beam_], filled_[at]}; }
  std::span<const Step> beam(std::size_t at) const { return {&steps_[at * beam_], filled_[at]}; }

  // The cheapest cut up to `at`: its cost (kNever for none), its slot.
  double best(std::size_t at) const {
    return filled_[at] == 0 ? kNever : beam(at)[best_slot(at)].cost;
  }
  std::size_t best_slot(std::size_t at) const {
    std::size_t slot = 0;
    const std::span<const Step> steps = beam(at);
    for (std::size_t i = 1; i < steps.size(); ++i)
      if (steps[i].cost < steps[slot].cost) slot = i;
    return slot;
  }

  // What no better cut can cost as much as.
  double bound() const { return std::min(bound_, best(length_)); }

  // The word from `from` to `to`, after each cut that ends at `from`: the
  // sum is WordCosts::after's, its parts found once for all the cuts. Only
  // the cheapest of them (the first, of equals) is offered to the beam at
  // `to`: the others bear the same last word, so each would be kept only
  // in place of a cheaper one, or where the cheapest would be kept first.
  void relax(std::size_t from, std::size_t to, double extra, Context word, std::uint64_t distance,
             KeyFrom key_from, std::uint32_t near_key = 0) {
    const std::size_t length = to - from;
    const double alone = costs_.of_piece(word.payload, length);
    if (costs_.has_pairs() && rows_from_ != from) find_rows(from);
    const std::span<const Step> befores = beam(from);
    if (befores.empty()) return;
    double cheapest = kNever;
    std::size_t cheapest_slot = 0;
    for (std::size_t slot = 0; slot < befores.size(); ++slot) {
      const Step& before = befores[slot];
      const double cost =
          before.context.has_value() && costs_.has_pairs()
              ? costs_.after_in(pair_rows_[slot], *before.context, word, length, alone)
              : alone;
      const double total = before.cost + (cost + extra) + piece_cost_;
      if (slot == 0 || total < cheapest) {
        cheapest = total;
        cheapest_slot = slot;
      }
    }
    keep(to, {cheapest, from, cheapest_slot, word, distance, key_from, near_key});
  }

  // The pairs that begin with each cut's last word at `from`, which every
  // word that starts there is weighed after: found with the first word.
  void find_rows(std::size_t from) {
    rows_from_ = from;
    pair_rows_.clear();
    for (const Step& step : beam(from))
      pair_rows_.push_back(step.context.has_value() ? costs_.pairs_row(*step.context)
                                                    : PairTableSpans{});
  }

  // For each position, the first at or after it where the text as written
  // and its folded view differ (length_ for none).
  void find_differences() {
    same_until_.assign(length_ + 1, length_);
    for (std::size_t at = length_; at-- > 0;) {
      const std::size_t i = start_ + at;
      same_until_[at] =
          plain(views_.written[i]) == plain(views_.folded[i]) ? same_until_[at + 1] : at;
    }
  }

  // The key of a step's word, which ends at `to`.
  std::u32string key_of(const Step& step, std::size_t to) const {
    if (step.key_from == KeyFrom::kNear) return near_keys_[step.near_key];
    const std::u32string_view view =
        step.key_from == KeyFrom::kFolded ? views_.folded : views_.written;
    std::u32string key;
    for (std::size_t at = step.from; at < to; ++at) key.push_back(plain(view[start_ + at]));
    return key;
  }

  // A cut into the beam at `at`: in place of a dearer one with the same
  // last word, or of the dearest when the beam is full.
  void keep(std::size_t at, const Step& step) {
    const std::span<Step> beam = this->beam(at);
    const auto same_last = [&](const Step& other) {
      if (!step.context.has_value() || !other.context.has_value())
        return step.context.has_value() == other.context.has_value();
      return step.context->number == other.context->number;
    };
    for (Step& other : beam) {
      if (!same_last(other)) continue;
      if (step.cost < other.cost) other = step;
      return;
    }
    if (beam.size() < beam_) {
      steps_[at * beam_ + filled_[at]++] = step;
      return;
    }
    Step& dearest = *std::max_element(beam.begin(), beam.end(),
                                      [](const Step& a, const Step& b) { return a.cost < b.cost; });
    if (step.cost < dearest.cost) dearest = step;
  }

  // Every stored word that the view spells from `from` on. The text as
  // written spells what its folded view does up to where they differ, and
  // those words were weighed by the walk of the folded view: weighed again,
  // each would tie with itself and change nothing, so the walk of the text
  // as written weighs only the words that reach past a difference.
  void descend(std::size_t from, KeyFrom key_from) {
    const bool written = key_from == KeyFrom::kWritten;
    const std::size_t first_new = written ? same_until_[from] : from;
    if (first_new == length_) return;
    const std::u32string_view view = written ? views_.written : views_.folded;
    NodeId node = 0;
    for (std::size_t to = from; to < length_; ++to) {
      interrupts_.tick();
      const char32_t ch = plain(view[start_ + to]);
      const Run run = trie_.run_of(node);
      const std::optional<std::size_t> place = trie_.last_child_with(run, ch);
      if (!place.has_value()) return;
      node = trie_.child_at(*place);
      if (to < first_new) continue;
      if (const std::optional<Payload> payload = trie_.payload(node))
        relax(from, to + 1, 0, Context{trie_.word_number(node).value_or(0), *payload}, 0, key_from);
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
        const Context word{trie_.word_number(node).value_or(0), *payload};
        std::optional<std::uint32_t> near_key;
        for (std::size_t i = low; i <= high; ++i) {
          if (row[i] == 0 || row[i] > max_dist_) continue;
          if (!near_key.has_value()) {
            near_key = static_cast<std::uint32_t>(near_keys_.size());
            near_keys_.push_back(path);
          }
          const double typo = typo_cost(path, std::u32string_view(typed).substr(0, i));
          relax(from, from + i, typo, word, row[i], KeyFrom::kNear, *near_key);
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
  // The beams, one for each position from 0 to length_, side by side:
  // beam_ steps each, the first filled_[at] of them kept.
  std::vector<Step> steps_;
  std::vector<std::size_t> filled_;
  double bound_ = kNever;
  std::vector<std::uint64_t> rows_;
  struct PendingNode {
    NodeId node;
    std::size_t depth;
  };
  std::vector<PendingNode> pending_;
  std::vector<std::size_t> carrying_;
  // The pairs that begin with each last word at the position walked from.
  static constexpr std::size_t kNoRows = std::numeric_limits<std::size_t>::max();
  std::vector<PairTableSpans> pair_rows_;
  std::size_t rows_from_ = kNoRows;
  std::vector<std::size_t> same_until_;
  std::vector<std::u32string> near_keys_;
  InterruptCheck interrupts_;
};

}  // namespace

Segmentation segment_span(const TextIndex& index, TextViews views, std::size_t start,
                          std::size_t end, const WordCosts& costs, std::uint64_t max_dist,
                          double piece_cost) {
  if (start >= end) return {};
  return Segmenter(index, views, start, end, costs, max_dist, piece_cost).run();
}

std::vector<SegmentedWord> segment_text(const TextIndex& index, TextViews views,
                                        const WordCosts& costs, std::uint64_t max_dist) {
  std::vector<SegmentedWord> changed;
  for (const Token& token : tokenize(views.written, false)) {
    Segmentation cut = segment_span(index, views, token.start, token.end, costs, max_dist);
    if (cut.pieces.size() == 1 && cut.pieces[0].distance == 0) continue;
    changed.push_back({token.start, token.end, std::move(cut.pieces)});
  }
  return changed;
}

}  // namespace kelvaro::text
