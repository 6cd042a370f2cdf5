#include "text/check.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <utility>

#include "prefix/interrupt.h"
#include "prefix/utf8.h"
#include "text/real_word_typos.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

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
    if (added) place->second = one_edit_words(index_, key, options_.limit.value_or(5) + 4);
    return place->second;
  }

  // The words one edit from a stored word that are far likelier than it.
  std::vector<Match> suspicion(const Known& known, const Known* before, const Known* after) {
    const std::uint64_t wanted = options_.limit.value_or(5);
    if (wanted == 0 ||
        !may_be_suspect(index_, costs_, known, before, after, options_.suspect_ratio, heaviest_))
      return {};
    return likelier_words(index_, costs_, known, before, after, neighbours(known.key),
                          options_.suspect_ratio, wanted);
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
    return only_blanks_between(views.written, tokens[left].end, tokens[right].start);
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
