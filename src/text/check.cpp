#include "text/check.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>

#include "prefix/interrupt.h"
#include "prefix/utf8.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

// Whether b is one insertion, deletion or substitution from a: the plain
// edit distance, in which a swap of neighbours is two.
bool one_edit_apart(std::u32string_view a, std::u32string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  std::size_t head = 0;
  while (head < a.size() && a[head] == b[head]) ++head;
  if (a.size() == b.size()) return head < a.size() && a.substr(head + 1) == b.substr(head + 1);
  return a.substr(head) == b.substr(head + 1);
}

// A text repeats its words: each distinct one is searched once.
class Checker {
 public:
  Checker(const TextIndex& index, TextViews views, const WordCosts& costs,
          const CheckOptions& options)
      : index_(index), views_(views), costs_(costs), options_(options) {
    const auto& best = index.tries.best_forward;
    heaviest_ = best.empty() ? 0 : static_cast<double>(best[0]);
  }

  // The word from start to end, with the stored words beside it (if only
  // blanks part them) as its context.
  void token(std::size_t start, std::size_t end, const std::optional<Known>& known,
             const Known* before, const Known* after, std::vector<Finding>& out) {
    interrupts_.tick(16);
    if (known.has_value()) {
      std::vector<Match> likelier = suspicion(*known, before, after);
      if (!likelier.empty()) out.push_back({start, end, true, std::move(likelier)});
      return;
    }
    // Each part of a hyphenated word on its own.
    std::size_t part = start;
    bool hyphenated = false;
    for (std::size_t at = start; at < end; ++at) {
      if (!is_hyphen(views_.written[at])) continue;
      hyphenated = true;
      token(part, at, find_word(index_, views_, part, at), nullptr, nullptr, out);
      part = at + 1;
    }
    if (hyphenated) {
      token(part, end, find_word(index_, views_, part, end), nullptr, nullptr, out);
      return;
    }
    out.push_back({start, end, false, suggestions(typed_key(views_, start, end))});
  }

 private:
  const std::vector<Match>& suggestions(const std::u32string& key) {
    auto [place, added] = suggested_.try_emplace(key);
    if (added) place->second = index_.words.suggest(key, options_.max_dist, options_.limit);
    return place->second;
  }

  // The stored words one plain edit from a stored word, likeliest first; a
  // few more than wanted, since the likeliest need not be far likelier.
  const std::vector<Match>& neighbours(const std::u32string& key) {
    auto [place, added] = neighbours_.try_emplace(key);
    if (!added) return place->second;
    const std::uint64_t wanted = options_.limit.value_or(5) + 4;
    for (Match& match : index_.words.suggest(key, 1, wanted)) {
      if (!match.payload.has_value()) continue;
      if (one_edit_apart(key, utf8::decode(match.text))) place->second.push_back(std::move(match));
    }
    return place->second;
  }

  std::optional<Context> context_of(const Known* word) const {
    if (word == nullptr) return std::nullopt;
    const std::optional<std::uint32_t> number = index_.words.word_number(word->key);
    if (!number.has_value()) return std::nullopt;
    return Context{*number, word->payload};
  }

  // The cost of `word` between its neighbours: its own after the word
  // before, and the word after's after it.
  double in_context(const std::optional<Context>& before, Context word, std::size_t length,
                    const std::optional<Context>& after, std::size_t after_length) const {
    double cost = costs_.after(before, word, length);
    if (after.has_value()) cost += costs_.after(word, *after, after_length);
    return cost;
  }

  // The words one edit from a stored word that are far likelier than it,
  // or nothing: in context, with counts of pairs; else overall.
  std::vector<Match> suspicion(const Known& known, const Known* before, const Known* after) {
    const double ratio = options_.suspect_ratio;
    if (!index_.weighted() || ratio <= 0 || known.key.size() < kSuspectLength ||
        options_.limit == 0u)
      return {};
    const std::uint64_t wanted = options_.limit.value_or(5);
    std::vector<Match> likelier;
    const std::optional<Context> left = context_of(before), right = context_of(after);
    const std::optional<Context> self = context_of(&known);
    if (costs_.has_pairs() && self.has_value() && (left.has_value() || right.has_value())) {
      // A word seen beside either neighbour is taken as written: a typo
      // that makes a real word makes a pair that the counts do not know.
      if ((left && costs_.counted(*left, *self)) || (right && costs_.counted(*self, *right)))
        return {};
      const std::size_t right_length = after != nullptr ? after->key.size() : 0;
      const double written = in_context(left, *self, known.key.size(), right, right_length);
      for (const Match& match : neighbours(known.key)) {
        const std::u32string key = utf8::decode(match.text);
        const std::optional<std::uint32_t> number = index_.words.word_number(key);
        if (!number.has_value()) continue;
        const Context other{*number, *match.payload};
        // Only a word seen beside each of the neighbours is known to fit.
        if ((left && !costs_.counted(*left, other)) || (right && !costs_.counted(other, *right)))
          continue;
        if (written - in_context(left, other, key.size(), right, right_length) < std::log(ratio))
          continue;
        if (likelier.size() < wanted) likelier.push_back(match);
      }
      return likelier;
    }
    // Words of unknown weight are not known to be rare.
    if (known.payload == 0 || static_cast<double>(known.payload) * ratio > heaviest_) return {};
    for (const Match& match : neighbours(known.key)) {
      if (static_cast<double>(*match.payload) < ratio * known.payload) continue;
      if (likelier.size() < wanted) likelier.push_back(match);
    }
    return likelier;
  }

  const TextIndex& index_;
  TextViews views_;
  const WordCosts& costs_;
  const CheckOptions& options_;
  double heaviest_;
  std::unordered_map<std::u32string, std::vector<Match>> suggested_;
  std::unordered_map<std::u32string, std::vector<Match>> neighbours_;
  InterruptCheck interrupts_;
};

bool only_blanks(std::u32string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char32_t ch) { return ch == U' ' || ch == U'\t'; });
}

}  // namespace

std::vector<Finding> check_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                                const CheckOptions& options) {
  std::vector<Finding> findings;
  Checker checker(index, views, costs, options);
  const std::vector<Token> tokens = tokenize(views.written);
  std::vector<std::optional<Known>> known(tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i)
    known[i] = find_word(index, views, tokens[i].start, tokens[i].end);
  const auto beside = [&](std::size_t left, std::size_t right) {
    return only_blanks(
        views.written.substr(tokens[left].end, tokens[right].start - tokens[left].end));
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Known* before = i > 0 && known[i - 1] && beside(i - 1, i) ? &*known[i - 1] : nullptr;
    const Known* after =
        i + 1 < tokens.size() && known[i + 1] && beside(i, i + 1) ? &*known[i + 1] : nullptr;
    checker.token(tokens[i].start, tokens[i].end, known[i], before, after, findings);
  }
  return findings;
}

}  // namespace kelvaro::text
