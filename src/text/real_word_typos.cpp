#include "text/real_word_typos.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "prefix/utf8.h"

namespace kelvaro::text {
namespace {

// The cost of `word` between its neighbours: its own after the word
// before, and the word after's after it.
double in_context(const WordCosts& costs, const std::optional<Context>& before, Context word,
                  std::size_t length, const std::optional<Context>& after,
                  std::size_t after_length) {
  double cost = costs.after(before, word, length);
  if (after.has_value()) cost += costs.after(word, *after, after_length);
  return cost;
}

}  // namespace

std::optional<Context> context_of(const TextIndex& index, const Known* word) {
  if (word == nullptr) return std::nullopt;
  const std::optional<std::uint32_t> number = index.words.word_number(word->key);
  if (!number.has_value()) return std::nullopt;
  return Context{*number, word->payload};
}

std::vector<Match> one_edit_words(const TextIndex& index, const std::u32string& key,
                                  std::uint64_t wanted) {
  std::vector<Match> found;
  // A plain search within one edit finds them all, cheaper than suggest.
  for (Match& match : index.words.search(key, 1, std::nullopt, false, false)) {
    if (!match.payload.has_value() || match.distance != 1) continue;
    const std::u32string other = utf8::decode(match.text);
    // Words that differ by an apostrophe alone ("it's" and "its", "user's"
    // and "users") are told apart by grammar, not spelling: neither is a
    // slip of the fingers for the other.
    const std::u32string_view longer = other.size() > key.size() ? other : key;
    const std::u32string_view shorter = other.size() > key.size() ? key : other;
    if (longer.size() == shorter.size() + 1) {
      std::size_t at = 0;
      while (at < shorter.size() && shorter[at] == longer[at]) ++at;
      if (longer[at] == U'\'') continue;
    }
    found.push_back(std::move(match));
  }
  // The heaviest first, and of those, `wanted`.
  std::stable_sort(found.begin(), found.end(),
                   [](const Match& a, const Match& b) { return *a.payload > *b.payload; });
  if (found.size() > wanted) found.resize(wanted);
  return found;
}

bool may_be_suspect(const TextIndex& index, const WordCosts& costs, const Known& word,
                    const Known* before, const Known* after, double ratio, double heaviest) {
  if (!index.weighted() || ratio <= 0 || word.key.size() < kSuspectLength) return false;
  const std::optional<Context> left = context_of(index, before), right = context_of(index, after);
  const std::optional<Context> self = context_of(index, &word);
  if (costs.has_pairs() && self.has_value() && (left.has_value() || right.has_value()))
    return !((left && costs.counted(*left, *self)) || (right && costs.counted(*self, *right)));
  return word.payload != 0 && static_cast<double>(word.payload) * ratio <= heaviest;
}

std::vector<Match> likelier_words(const TextIndex& index, const WordCosts& costs, const Known& word,
                                  const Known* before, const Known* after,
                                  const std::vector<Match>& neighbours, double ratio,
                                  std::uint64_t wanted) {
  std::vector<Match> likelier;
  if (!index.weighted() || ratio <= 0 || word.key.size() < kSuspectLength || wanted == 0)
    return likelier;
  const std::optional<Context> left = context_of(index, before), right = context_of(index, after);
  const std::optional<Context> self = context_of(index, &word);
  if (costs.has_pairs() && self.has_value() && (left.has_value() || right.has_value())) {
    // A word seen beside either neighbour is taken as written: a typo that
    // makes a real word makes a pair that the counts do not know.
    if ((left && costs.counted(*left, *self)) || (right && costs.counted(*self, *right)))
      return likelier;
    const std::size_t right_length = after != nullptr ? after->key.size() : 0;
    const double written = in_context(costs, left, *self, word.key.size(), right, right_length);
    // Likeliest in this context first: "which" before "with" in "wich was",
    // though "with" is the commoner word.
    std::vector<std::pair<double, const Match*>> fitting;
    for (const Match& match : neighbours) {
      const std::u32string key = utf8::decode(match.text);
      const std::optional<std::uint32_t> number = index.words.word_number(key);
      if (!number.has_value()) continue;
      const Context other{*number, *match.payload};
      // Only a word seen beside each of the neighbours is known to fit.
      if ((left && !costs.counted(*left, other)) || (right && !costs.counted(other, *right)))
        continue;
      const double cost = in_context(costs, left, other, key.size(), right, right_length);
      if (written - cost < std::log(ratio)) continue;
      fitting.emplace_back(cost, &match);
    }
    std::stable_sort(fitting.begin(), fitting.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [cost, match] : fitting) {
      if (likelier.size() == wanted) break;
      likelier.push_back(*match);
    }
    return likelier;
  }
  // Words of unknown weight are not known to be rare.
  if (word.payload == 0) return likelier;
  for (const Match& match : neighbours) {
    if (static_cast<double>(*match.payload) < ratio * word.payload) continue;
    if (likelier.size() < wanted) likelier.push_back(match);
  }
  return likelier;
}

}  // namespace kelvaro::text
