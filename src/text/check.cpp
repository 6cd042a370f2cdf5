#include "text/check.h"

#include <string>
#include <unordered_map>
#include <utility>

#include "prefix/interrupt.h"
#include "prefix/utf8.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

// A text repeats its words: each distinct one is searched once.
class Checker {
 public:
  Checker(const TextIndex& index, TextViews views, const CheckOptions& options)
      : index_(index), views_(views), options_(options) {
    const auto& best = index.tries.best_forward;
    heaviest_ = best.empty() ? 0 : static_cast<double>(best[0]);
  }

  void token(std::size_t start, std::size_t end, std::vector<Finding>& out) {
    interrupts_.tick(16);
    if (std::optional<Known> known = find_word(index_, views_, start, end)) {
      if (const std::vector<Match>& likelier = suspicion(*known); !likelier.empty())
        out.push_back({start, end, true, likelier});
      return;
    }
    // Each part of a hyphenated word on its own.
    std::size_t part = start;
    bool hyphenated = false;
    for (std::size_t at = start; at < end; ++at) {
      if (!is_hyphen(views_.written[at])) continue;
      hyphenated = true;
      token(part, at, out);
      part = at + 1;
    }
    if (hyphenated) {
      token(part, end, out);
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

  // The far commoner words one edit from a stored word, or nothing.
  const std::vector<Match>& suspicion(const Known& known) {
    static const std::vector<Match> kNone;
    const double ratio = options_.suspect_ratio;
    if (!index_.weighted() || ratio <= 0 || known.payload == 0 ||
        known.key.size() < kSuspectLength ||
        static_cast<double>(known.payload) * ratio > heaviest_ || options_.limit == 0u)
      return kNone;
    auto [place, added] = suspected_.try_emplace(known.key);
    if (!added) return place->second;
    const std::string key = utf8::encode(known.key);
    // The suggestions rank by typo cost and weight together; a few more than
    // wanted leave room for the lighter ones that do not count.
    const std::uint64_t wanted = options_.limit.value_or(5);
    for (Match& match : index_.words.suggest(known.key, 1, wanted + 4)) {
      if (match.text == key || !match.payload.has_value() ||
          static_cast<double>(*match.payload) < ratio * known.payload)
        continue;
      if (place->second.size() < wanted) place->second.push_back(std::move(match));
    }
    return place->second;
  }

  const TextIndex& index_;
  TextViews views_;
  const CheckOptions& options_;
  double heaviest_;
  std::unordered_map<std::u32string, std::vector<Match>> suggested_;
  std::unordered_map<std::u32string, std::vector<Match>> suspected_;
  InterruptCheck interrupts_;
};

}  // namespace

std::vector<Finding> check_text(const TextIndex& index, TextViews views,
                                const CheckOptions& options) {
  std::vector<Finding> findings;
  Checker checker(index, views, options);
  for (const Token& token : tokenize(views.written))
    checker.token(token.start, token.end, findings);
  return findings;
}

}  // namespace kelvaro::text
