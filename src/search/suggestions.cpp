#include "search/suggestions.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_set>
#include <utility>

#include "prefix/utf8.h"
#include "search/sound_key.h"
#include "search/split_search.h"
#include "search/typo_cost.h"

namespace kelvaro {
namespace {

// A candidate's place in the ranking; smaller is better.
struct Rank {
  bool not_the_word;
  bool unweighted;
  double score;
  std::int64_t lighter;  // minus the payload, in a weighted index
  std::u32string text;

  friend bool operator<(const Rank& a, const Rank& b) {
    if (a.not_the_word != b.not_the_word) return !a.not_the_word;
    if (a.unweighted != b.unweighted) return !a.unweighted;
    if (a.score != b.score) return a.score < b.score;
    if (a.lighter != b.lighter) return a.lighter < b.lighter;
    return a.text < b.text;
  }
};

struct Candidate {
  Rank rank;
  Payload payload;
  Cell distance;
};

double frequency_bonus(Payload payload) {
  return kFrequencyWeight * std::log(static_cast<double>(payload) + 1.0);
}

double sound_bonus(SoundRelation relation) {
  switch (relation) {
    case SoundRelation::kSame: return kSameSoundBonus;
    case SoundRelation::kNear: return kNearSoundBonus;
    case SoundRelation::kNone: break;
  }
  return 0;
}

class Ranking {
 public:
  // `sounds`: whether the index finds sound-alike words, which makes
  // sounding like the word evidence too.
  Ranking(std::u32string_view word, std::optional<std::uint64_t> limit, bool weighted, bool sounds)
      : word_(word),
        limit_(limit),
        weighted_(weighted),
        key_(sounds ? sound_key(word) : std::nullopt) {}

  const std::optional<std::string>& key() const { return key_; }
  bool seen(const std::u32string& text) const { return seen_.contains(text); }

  void add(std::u32string&& text, Payload payload, Cell distance) {
    if (!seen_.insert(text).second) return;
    const double cost = typo_cost(text, word_) - sound_bonus(sound_relation(text, key_));
    Rank rank{text != word_, weighted_ && payload == 0,
              weighted_ ? cost - frequency_bonus(payload) : cost,
              weighted_ ? -static_cast<std::int64_t>(payload) : 0, std::move(text)};
    if (full() && !(rank < best_.front().rank)) return;
    best_.push_back({std::move(rank), payload, distance});
    std::push_heap(best_.begin(), best_.end(), worse_last);
    if (limit_.has_value() && best_.size() > *limit_) {
      std::pop_heap(best_.begin(), best_.end(), worse_last);
      best_.pop_back();
    }
  }

  // Whether nothing below a node whose words are at least `least` away and
  // weigh at most `heaviest` can enter the ranking.
  bool cannot_enter(Cell least, Payload heaviest) const {
    if (!full()) return false;
    double cost = static_cast<double>(least) * kLeastTypoCostPerEdit;
    if (key_.has_value()) cost -= kSameSoundBonus;
    const Rank bound{true, weighted_ && heaviest == 0,
                     weighted_ ? cost - frequency_bonus(heaviest) : cost,
                     weighted_ ? -static_cast<std::int64_t>(heaviest) : 0, std::u32string()};
    return best_.front().rank < bound;
  }

  std::vector<Match> take() {
    std::sort(best_.begin(), best_.end(),
              [](const Candidate& a, const Candidate& b) { return a.rank < b.rank; });
    std::vector<Match> matches;
    matches.reserve(best_.size());
    for (const Candidate& each : best_)
      matches.push_back({utf8::encode(each.rank.text), each.payload, each.distance});
    return matches;
  }

 private:
  // The heap keeps its worst candidate at the front.
  static bool worse_last(const Candidate& a, const Candidate& b) { return a.rank < b.rank; }
  bool full() const { return limit_.has_value() && best_.size() >= *limit_; }

  std::u32string_view word_;
  std::optional<std::uint64_t> limit_;
  bool weighted_;
  std::optional<std::string> key_;
  std::vector<Candidate> best_;
  std::unordered_set<std::u32string> seen_;
};

}  // namespace

std::vector<Match> suggest(const IndexTries& tries, std::u32string_view word,
                           std::uint64_t max_dist, std::optional<std::uint64_t> limit,
                           bool weighted, const CandidateWalks& walks) {
  if (limit == std::uint64_t{0}) return {};
  Ranking ranking(word, limit, weighted, tries.sounds != nullptr);
  // The word itself first: it leads the ranking and tightens the bound.
  if (!word.empty()) {
    if (const auto node = find_exact(tries.forward, word))
      ranking.add(std::u32string(word), *tries.forward.payload(*node), 0);
  }
  // The empty word, at the root, which no walk reports.
  if (const std::optional<Payload> empty = tries.forward.payload(0);
      empty && word.size() <= max_dist)
    ranking.add(std::u32string(), *empty, word.size());
  walks([&](std::u32string&& text, Payload payload,
            Cell distance) { ranking.add(std::move(text), payload, distance); },
        [&](bool backward, CompactTrie::Place node, Cell least) {
          return !backward && ranking.cannot_enter(least, tries.best_forward[node]);
        });
  // The words that sound like it, however far they are spelled from it.
  if (tries.sounds != nullptr && ranking.key().has_value() && max_dist >= 1) {
    tries.sounds->for_each_sounding(*ranking.key(), [&](std::u32string&& text, bool) {
      if (ranking.seen(text)) return;
      // The table's words are looked up: a word not stored is no candidate.
      const auto node = find_exact(tries.forward, text);
      if (!node) return;
      const Cell distance = edit_distance(text, word, true);
      ranking.add(std::move(text), *tries.forward.payload(*node), distance);
    });
  }
  return ranking.take();
}

}  // namespace kelvaro
