#include "text/check.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "prefix/interrupt.h"
#include "prefix/utf8.h"
#include "search/typo_cost.h"
#include "text/code_tokens.h"
#include "text/real_word_typos.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

// What a word of the text is: the stored word, if any, and its number when
// words are counted.
struct Lookup {
  std::optional<Known> known;
  std::uint32_t number = 0;
};

// A word of the text as find_word reads it: as written and folded.
struct Spelling {
  std::u32string_view written;
  std::u32string_view folded;
  bool operator==(const Spelling&) const = default;
};

// FNV-1a over whole characters: words are short, and a byte-wise hash of
// four bytes a character costs more than the probe it serves.
struct SpellingHash {
  std::size_t operator()(const Spelling& spelling) const {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (std::u32string_view view : {spelling.written, spelling.folded})
      for (char32_t ch : view) hash = (hash ^ ch) * 0x100000001b3;
    return static_cast<std::size_t>(hash);
  }
};

std::size_t letters_in(std::u32string_view slice) {
  return static_cast<std::size_t>(std::count_if(slice.begin(), slice.end(), [](char32_t ch) {
    return char_class(ch) == CharClass::kLetter;
  }));
}

// Capitals and a small "s" after them: an acronym's plural ("IDs").
bool is_acronym_plural(std::u32string_view word) {
  if (word.size() < 3 || word.back() != U's') return false;
  return std::all_of(word.begin(), word.end() - 1,
                     [](char32_t ch) { return lower_case(ch) != ch; });
}

// A text repeats its words: each distinct one is looked up once, and
// searched once.
class Checker {
 public:
  Checker(const TextIndex& index, TextViews views, const WordCosts& costs,
          const CheckOptions& options, WordCounts* counts)
      : index_(index), views_(views), costs_(costs), options_(options), counts_(counts) {
    const auto& best = index.tries.best_forward;
    heaviest_ = best.empty() ? 0 : static_cast<double>(best[0]);
  }

  // The text from start to end, looked up. The reference stays valid for
  // the checker's life.
  const Lookup& lookup(std::size_t start, std::size_t end) {
    const std::size_t length = end - start;
    const Spelling spelling{views_.written.substr(start, length),
                            views_.folded.substr(start, length)};
    auto [place, added] = lookups_.try_emplace(spelling);
    if (added) {
      interrupts_.tick(16);
      Lookup& found = place->second;
      found.known = find_word(index_, views_, start, end);
      if (found.known && counts_ != nullptr)
        found.number = index_.words.word_number(found.known->key).value_or(0);
    }
    return place->second;
  }

  // The word from start to end, with the stored words beside it (if only
  // blanks part them) as its context.
  void token(std::size_t start, std::size_t end, const Lookup& word, const Known* before,
             const Known* after, std::vector<Finding>& out) {
    interrupts_.tick(4);
    if (word.known.has_value()) {
      if (counts_ != nullptr) counts_->add(word.number);
      std::vector<Match> likelier = suspicion(*word.known, before, after);
      if (!likelier.empty()) out.push_back({start, end, true, std::move(likelier)});
      return;
    }
    // Each part of a hyphenated word on its own; in code, a part of one
    // letter is no more a word than a token of one letter is.
    std::size_t part = start;
    bool hyphenated = false;
    const auto check_part = [&](std::size_t part_end) {
      if (!options_.code || letters_in(views_.written.substr(part, part_end - part)) >= 2)
        token(part, part_end, lookup(part, part_end), nullptr, nullptr, out);
    };
    for (std::size_t at = start; at < end; ++at) {
      if (!is_hyphen(views_.written[at])) continue;
      hyphenated = true;
      check_part(at);
      part = at + 1;
    }
    if (hyphenated) {
      check_part(end);
      return;
    }
    // Code names its things in acronyms, and their plurals ("IDs", "URLs")
    // are the acronym's.
    if (options_.code && is_acronym_plural(views_.written.substr(start, end - start))) {
      const Lookup& acronym = lookup(start, end - 1);
      if (acronym.known.has_value()) {
        if (counts_ != nullptr) counts_->add(acronym.number);
        return;
      }
    }
    if (!options_.suggest_unknown) {
      out.push_back({start, end, false, {}});
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
  WordCounts* counts_;
  double heaviest_;
  std::unordered_map<Spelling, Lookup, SpellingHash> lookups_;
  std::unordered_map<std::u32string, std::vector<Match>> suggested_;
  std::unordered_map<std::u32string, std::vector<Match>> neighbours_;
  InterruptCheck interrupts_;
};

}  // namespace

std::vector<Finding> check_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                                const CheckOptions& options, WordCounts* counts) {
  std::vector<Finding> findings;
  Checker checker(index, views, costs, options, counts);
  const std::vector<Token> tokens =
      options.code ? tokenize_code(views.written) : tokenize(views.written);
  std::vector<const Lookup*> words(tokens.size());
  for (std::size_t i = 0; i < tokens.size(); ++i)
    words[i] = &checker.lookup(tokens[i].start, tokens[i].end);
  // The stored word at i, as the context of its neighbour at j.
  const auto context = [&](std::size_t i, std::size_t j) -> const Known* {
    const std::size_t left = std::min(i, j), right = std::max(i, j);
    if (!words[i]->known ||
        !only_blanks_between(views.written, tokens[left].end, tokens[right].start))
      return nullptr;
    return &*words[i]->known;
  };
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Known* before = i > 0 ? context(i - 1, i) : nullptr;
    const Known* after = i + 1 < tokens.size() ? context(i + 1, i) : nullptr;
    checker.token(tokens[i].start, tokens[i].end, *words[i], before, after, findings);
  }
  return findings;
}

}  // namespace kelvaro::text
