#include "search/suggestions.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "prefix/edit_row.h"
#include "prefix/interrupt.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"
#include "search/bit_distance.h"
#include "search/one_edit_search.h"
#include "search/sound_key.h"
#include "search/split_search.h"
#include "search/typo_cost.h"
#include "search/walk_choice.h"

namespace kelvaro {
namespace {

// What every candidate below a node at least scores: a bound that a
// candidate's Rank is compared with as if the bound were a Rank of the
// same fields and the smallest text.
struct Bound {
  bool unweighted;
  double score;
  std::int64_t lighter;

  friend bool operator<(const Bound& a, const Bound& b) {
    if (a.unweighted != b.unweighted) return !a.unweighted;
    if (a.score != b.score) return a.score < b.score;
    return a.lighter < b.lighter;
  }
};

// A candidate's place in the ranking; smaller is better.
struct Rank {
  bool not_the_word;
  bool not_case_only;  // differs from the word in more than case
  bool unweighted;
  double score;
  std::int64_t lighter;  // minus the payload, in a weighted index
  std::u32string text;

  Bound bound() const { return {unweighted, score, lighter}; }

  friend bool operator<(const Rank& a, const Rank& b) {
    if (a.not_the_word != b.not_the_word) return !a.not_the_word;
    if (a.not_case_only != b.not_case_only) return !a.not_case_only;
    if (a.bound() < b.bound()) return true;
    if (b.bound() < a.bound()) return false;
    return a.text < b.text;
  }
  // Whether this candidate comes before everything a bound stands for:
  // bounds stand for candidates that differ in more than case, as those
  // that differ in case alone are added before any walk.
  bool before(const Bound& bound) const {
    return !not_the_word || !not_case_only || this->bound() < bound;
  }
};

struct Candidate {
  Rank rank;
  Payload payload;
  // The distance, or none where it is measured only if the candidate
  // stays among the best.
  std::optional<Cell> distance;
};

bool same_but_case(std::u32string_view a, std::u32string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char32_t x, char32_t y) { return lower_case(x) == lower_case(y); });
}

// Calls found for every stored word that differs from `word` in case alone
// (the word itself included): a descent along the word that follows, at
// each node, every child whose character has the same lower-case form as
// the word's next one.
template <typename Found>
void for_each_case_variant(const CompactTrie& trie, std::u32string_view word, Found&& found) {
  if (word.empty()) return;
  std::u32string lower(word);
  std::transform(lower.begin(), lower.end(), lower.begin(), lower_case);
  struct Pending {
    CompactTrie::Place node;
    std::u32string text;
  };
  std::vector<Pending> pending{{CompactTrie::root(), {}}};
  InterruptCheck interrupts;
  while (!pending.empty()) {
    Pending next = std::move(pending.back());
    pending.pop_back();
    interrupts.tick();
    const std::size_t depth = next.text.size();
    if (depth == word.size()) {
      if (const auto payload = trie.payload(next.node)) found(std::move(next.text), *payload);
      continue;
    }
    const auto run = trie.run_of(next.node);
    for (std::size_t position = run.start; position < run.end; ++position) {
      const char32_t ch = trie.char_at(position);
      if (lower_case(ch) != lower[depth]) continue;
      std::u32string text = next.text;
      text.push_back(ch);
      pending.push_back({trie.place_at(position, next.node), std::move(text)});
    }
  }
}

// The texts a ranking has been offered, kept back to back in one string
// and found through a table of their hashes: a candidate costs no
// allocation of its own, where a set of strings makes a node and a string
// for each.
class SeenTexts {
 public:
  SeenTexts() : slots_(kFirstSlots, 0) {}

  bool contains(std::u32string_view text) const { return slots_[slot_of(text)] != 0; }

  // Adds `text`; false when it was there already.
  bool insert(std::u32string_view text) {
    const std::size_t slot = slot_of(text);
    if (slots_[slot] != 0) return false;
    chars_.append(text);
    ends_.push_back(static_cast<std::uint32_t>(chars_.size()));
    slots_[slot] = static_cast<std::uint32_t>(ends_.size());
    // At most half full, so that probes stay short.
    if (2 * ends_.size() > slots_.size()) grow();
    return true;
  }

 private:
  static constexpr std::size_t kFirstSlots = 256;

  static std::uint64_t hash_of(std::u32string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char32_t ch : text) hash = (hash ^ ch) * 0x100000001b3ull;
    return hash ^ (hash >> 32);
  }

  // The slot that holds `text`, or the empty one where it would go.
  std::size_t slot_of(std::u32string_view text) const {
    std::size_t slot = hash_of(text) & (slots_.size() - 1);
    while (slots_[slot] != 0 && text_at(slots_[slot] - 1) != text)
      slot = (slot + 1) & (slots_.size() - 1);
    return slot;
  }

  std::u32string_view text_at(std::size_t i) const {
    const std::size_t start = i == 0 ? 0 : ends_[i - 1];
    return std::u32string_view(chars_).substr(start, ends_[i] - start);
  }

  void grow() {
    std::vector<std::uint32_t> slots(2 * slots_.size(), 0);
    for (std::size_t i = 0; i < ends_.size(); ++i) {
      std::size_t slot = hash_of(text_at(i)) & (slots.size() - 1);
      while (slots[slot] != 0) slot = (slot + 1) & (slots.size() - 1);
      slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
    slots_ = std::move(slots);
  }

  std::u32string chars_;
  std::vector<std::uint32_t> ends_;
  std::vector<std::uint32_t> slots_;  // 1 + the text's number, 0 for none
};

double frequency_bonus(Payload payload) {
  return kFrequencyWeight * std::log(static_cast<double>(payload) + 1.0);
}

class Ranking {
 public:
  // `sounds`: whether the index finds sound-alike words, which makes
  // sounding like the word evidence too.
  Ranking(std::u32string_view word, std::optional<std::uint64_t> limit, bool weighted, bool sounds)
      : word_(word),
        limit_(limit),
        weighted_(weighted),
        key_(sounds ? sound_key(word) : std::nullopt),
        costs_(word) {}

  const std::optional<std::string>& key() const { return key_; }
  bool full() const { return limit_.has_value() && best_.size() >= *limit_; }

  // Whether `text` has been offered already, which add() would pass over.
  bool offered(std::u32string_view text) const { return seen_.contains(text); }

  // Adds a candidate at `distance` from the word, or at a distance to be
  // measured if it is kept; `alike` when it is known to sound like it.
  void add(std::u32string_view text, Payload payload, std::optional<Cell> distance,
           bool alike = false) {
    if (!seen_.insert(text)) return;
    const bool not_the_word = text != word_;
    const bool not_case_only = !not_the_word || !same_but_case(text, word_);
    std::uint32_t give_up_above = std::numeric_limits<std::uint32_t>::max();
    if (full() && not_the_word && not_case_only) {
      // Most candidates of a full ranking are turned away: the typo cost
      // stops as soon as it is sure to be too high to enter, before the
      // sound of the word is weighed.
      const std::optional<double> most = most_cost(payload);
      if (!most.has_value() || *most < 0) return;
      if (*most < give_up_above) give_up_above = static_cast<std::uint32_t>(*most);
    }
    const std::uint32_t typo = costs_.cost(text, give_up_above);
    if (typo > give_up_above) return;
    alike = alike || sounds_alike(text, key_);
    const double cost = typo - (alike ? double{kSoundAlikeBonus} : 0.0);
    Rank rank{not_the_word,
              not_case_only,
              weighted_ && payload == 0,
              weighted_ ? cost - frequency_bonus(payload) : cost,
              weighted_ ? -static_cast<std::int64_t>(payload) : 0,
              std::u32string(text)};
    if (full() && !(rank < best_.front().rank)) return;
    best_.push_back({std::move(rank), payload, distance});
    std::push_heap(best_.begin(), best_.end(), worse_last);
    if (limit_.has_value() && best_.size() > *limit_) {
      std::pop_heap(best_.begin(), best_.end(), worse_last);
      best_.pop_back();
    }
  }

  // The least rank of a candidate other than the word itself whose typo
  // cost is at least `cost` and whose payload is at most `heaviest`.
  Bound bound(double cost, Payload heaviest) const {
    if (key_.has_value()) cost -= kSoundAlikeBonus;
    return {weighted_ && heaviest == 0, weighted_ ? cost - frequency_bonus(heaviest) : cost,
            weighted_ ? -static_cast<std::int64_t>(heaviest) : 0};
  }

  // For a full ranking, the highest typo cost at which a candidate of
  // `payload` that differs from the word in more than case could still
  // enter it, sound-alike or not (a little over, for rounding), or none
  // when it cannot enter at any cost.
  std::optional<double> most_cost(Payload payload) const {
    const Rank& worst = best_.front().rank;
    if (!worst.not_the_word || !worst.not_case_only) return std::nullopt;
    const bool unweighted = weighted_ && payload == 0;
    if (unweighted != worst.unweighted)
      return unweighted ? std::nullopt : std::optional(std::numeric_limits<double>::max());
    return worst.score + (weighted_ ? frequency_bonus(payload) : 0.0) +
           (key_.has_value() ? double{kSoundAlikeBonus} : 0.0) + 1e-6;
  }

  // Whether nothing that `bound` stands for can enter the ranking.
  bool cannot_enter(const Bound& bound) const { return full() && best_.front().rank.before(bound); }

  std::vector<Match> take() {
    std::sort(best_.begin(), best_.end(),
              [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    std::vector<Match> matches;
    matches.reserve(best_.size());
    for (const Candidate& each : best_) {
      const Cell distance =
          each.distance ? *each.distance : edit_distance(each.rank.text, word_, true);
      matches.push_back({utf8::encode(each.rank.text), each.payload, distance});
    }
    return matches;
  }

 private:
  // The heap keeps its worst candidate at the front.
  static bool worse_last(const Candidate& a, const Candidate& b) { return a.rank < b.rank; }

  std::u32string_view word_;
  std::optional<std::uint64_t> limit_;
  bool weighted_;
  std::optional<std::string> key_;
  TypoRows costs_;
  std::vector<Candidate> best_;
  SeenTexts seen_;
};

// Calls found for every text stored in `walked` within max_dist of `word`
// (a swap of neighbours one edit), some more than once, by the walk that
// choose_walk chooses; skip may prune nodes of the walks (TreeWalk::run).
using CandidateFound = std::function<void(std::u32string_view, Payload, Cell)>;
void walk_candidates(const IndexTries& walked, std::u32string_view word, std::uint64_t max_dist,
                     const CandidateFound& found, const SplitSkip& skip) {
  const auto backward = [&]() -> const CompactTrie& { return walked.backward; };
  const auto found_text = [&](std::u32string&& text, Payload payload, Cell distance) {
    found(text, payload, distance);
  };
  switch (choose_walk(word, max_dist, walked.forward, walked.near, backward)) {
    case Walk::exact:
      if (const auto node = find_exact(walked.forward, word))
        found(word, *walked.forward.payload(*node), 0);
      return;
    case Walk::deletions: {
      // The table files words by hash: each is measured, and its payload
      // read by its number, or looked up (which also makes sure that it is
      // stored) in a table numbered otherwise. They are handed on
      // nearest and heaviest first, which fills a ranking with the likely
      // best early and lets it turn the rest away cheaply.
      // Their texts back to back in one string, each at [start, end).
      struct Near {
        std::size_t start, end;
        Payload payload;
        Cell distance;
      };
      std::vector<Near> near;
      std::u32string texts;
      static_assert(DeleteTable::kLongestTyped <= BitDistance::kLongest);
      const BitDistance measure(word);
      const std::span<const Payload> payloads = walked.forward.payloads();
      walked.near->for_each_near(
          word, max_dist, [&](std::uint32_t number, std::u32string_view text) {
            const Cell distance = measure.distance_to(text);
            if (distance > max_dist) return;
            std::optional<Payload> payload;
            if (walked.near_numbered)
              payload = payloads[number];
            else if (const auto node = find_exact(walked.forward, text))
              payload = walked.forward.payload(*node);
            if (!payload) return;
            near.push_back({texts.size(), texts.size() + text.size(), *payload, distance});
            texts.append(text);
          });
      std::sort(near.begin(), near.end(), [](const Near& a, const Near& b) {
        return a.distance != b.distance ? a.distance < b.distance : a.payload > b.payload;
      });
      for (const Near& each : near)
        found(std::u32string_view(texts).substr(each.start, each.end - each.start), each.payload,
              each.distance);
      return;
    }
    case Walk::one_edit:
      for_each_one_edit_match(walked.forward, walked.backward, word, true, found_text);
      return;
    case Walk::split:
      for_each_split_match(walked.forward, walked.backward, word, max_dist, true, found_text, skip);
      return;
    case Walk::plain:
      for_each_walk_match(walked.forward, word, max_dist, true, found_text, skip);
      return;
  }
}

}  // namespace

std::vector<Match> suggest(const IndexTries& tries, const IndexTries* weighted_words,
                           std::u32string_view word, std::uint64_t max_dist,
                           std::optional<std::uint64_t> limit, bool weighted) {
  if (limit == std::uint64_t{0}) return {};
  Ranking ranking(word, limit, weighted, tries.sounds != nullptr);
  // The word itself first: it leads the ranking and tightens the bound.
  if (const auto node = find_exact(tries.forward, word))
    ranking.add(std::u32string(word), *tries.forward.payload(*node), 0);
  // Then the words that differ from it in case alone, which rank before
  // every other candidate: with them in, the walks' bounds need stand only
  // for the rest. They are candidates within max_dist, or, where the index
  // finds sound-alikes, however far: case does not change how a word sounds.
  const bool any_distance = tries.sounds != nullptr && ranking.key().has_value() && max_dist >= 1;
  for_each_case_variant(tries.forward, word, [&](std::u32string&& text, Payload payload) {
    const Cell distance = edit_distance(text, word, true);
    if (distance <= max_dist || any_distance) ranking.add(text, payload, distance, any_distance);
  });
  const auto walk = [&](const IndexTries& walked) {
    walk_candidates(
        walked, word, max_dist,
        [&](std::u32string_view text, Payload payload, Cell distance) {
          ranking.add(text, payload, distance);
        },
        [&](bool backward, CompactTrie::Place node, Cell least) {
          // Each edit costs at least kLeastTypoCostPerEdit.
          const double cost = static_cast<double>(least) * kLeastTypoCostPerEdit;
          return !backward && ranking.cannot_enter(ranking.bound(cost, walked.best_forward[node]));
        });
  };
  // Fast path, for the best few of a weighted index whose words are mostly
  // without a weight (as in a large dictionary with counts for the common
  // words): every word with a weight ranks before every word without, so
  // once the words with a weight fill the ranking, the others cannot enter
  // it and their walk is spared. (The word itself was looked up in the
  // whole index above.)
  constexpr Bound kAnyUnweighted{true, -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<std::int64_t>::min()};
  const bool weighted_first = weighted && weighted_words != nullptr && limit.has_value();
  if (weighted_first) walk(*weighted_words);
  // Where the index's candidates come from its table of deletions, its few
  // lookups come first too, for the same reason as the weighted words.
  const auto backward = [&]() -> const CompactTrie& { return tries.backward; };
  const bool table_first = !weighted_first && choose_walk(word, max_dist, tries.forward, tries.near,
                                                          backward) == Walk::deletions;
  if (table_first) walk(tries);
  // The words that sound like it, however far they are spelled from it,
  // once the walk of the weighted words has filled the ranking, so that
  // most are turned away by their length and payload alone; they may fill
  // it in turn, and spare the walk of the others.
  if (tries.sounds != nullptr && ranking.key().has_value() && max_dist >= 1) {
    tries.sounds->for_each_sounding(*ranking.key(), [&](std::u32string_view text) {
      // Most of them are near enough in spelling to have been offered by the
      // table of deletions already. The others are looked up: a word not
      // stored is no candidate.
      if (ranking.offered(text)) return;
      const auto node = find_exact(tries.forward, text);
      if (!node) return;
      const Payload payload = *tries.forward.payload(*node);
      // Each character of difference in length is a letter left out or
      // typed too many.
      const std::size_t longer = std::max(text.size(), word.size());
      const std::size_t gap = longer - std::min(text.size(), word.size());
      if (ranking.cannot_enter(ranking.bound(gap * least_in_or_out_price(), payload))) return;
      ranking.add(text, payload, std::nullopt, true);
    });
  }
  if (!table_first && (!weighted_first || !ranking.cannot_enter(kAnyUnweighted))) walk(tries);
  return ranking.take();
}

}  // namespace kelvaro
