#include "text/correction.h"

#include <limits>
#include <unordered_map>
#include <utility>

#include "prefix/interrupt.h"
#include "prefix/utf8.h"
#include "search/suggestions.h"
#include "search/typo_cost.h"
#include "text/real_word_typos.h"
#include "text/segmentation.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

struct Reading {
  double cost = kNever;
  std::vector<Replacement> words;  // none: the text stays as written
};

struct Word {
  std::size_t start;
  std::size_t end;
  std::optional<Known> known;
  // For a word not stored, what a first reading took it for.
  std::optional<Known> guess;
};

class Corrector {
 public:
  Corrector(const TextIndex& index, TextViews views, const WordCosts& costs, std::uint64_t max_dist)
      : index_(index), views_(views), costs_(costs), max_dist_(max_dist) {}

  std::vector<Edit> run() {
    std::vector<Word> words = this->words();
    Readings readings = read(words, {});
    // With counts of pairs, a misspelling beside another is read again with
    // the other's reading as its context ("thay arte" is "they are"); the
    // words beside no guess keep their first reading.
    if (costs_.has_pairs() && guess(words, readings)) {
      std::vector<bool> again(words.size(), false);
      for (std::size_t i = 0; i < words.size(); ++i)
        again[i] = (i > 0 && words[i - 1].guess) || (i + 1 < words.size() && words[i + 1].guess);
      readings = read(words, again);
    }
    std::vector<Edit> edits;
    for (std::size_t i = words.size(); i > 0; i = readings.from[i]) {
      Reading& step = readings.step[i];
      if (step.words.empty()) continue;
      edits.push_back({words[readings.from[i]].start, words[i - 1].end, std::move(step.words)});
    }
    std::reverse(edits.begin(), edits.end());
    return edits;
  }

 private:
  // The cheapest reading of the first i words, for every i: how the last
  // of its steps began (i - 1, or i - 2 for a join), and that step.
  struct Readings {
    std::vector<std::size_t> from;
    std::vector<Reading> step;
  };

  // `again` says which words to read again when they were read before
  // (none, the first time).
  Readings read(const std::vector<Word>& words, const std::vector<bool>& again) {
    if (again.empty()) first_.assign(words.size(), Reading{});
    const std::size_t n = words.size();
    std::vector<double> best(n + 1, kNever);
    Readings readings{std::vector<std::size_t>(n + 1, 0), std::vector<Reading>(n + 1)};
    best[0] = 0;
    for (std::size_t i = 0; i < n; ++i) {
      interrupts_.tick(8);
      // The words beside it, which its candidates must fit.
      const Word* before =
          i > 0 && blanks_between(words[i - 1], words[i]) ? &words[i - 1] : nullptr;
      const Word* after =
          i + 1 < n && blanks_between(words[i], words[i + 1]) ? &words[i + 1] : nullptr;
      Reading alone;
      if (again.empty() || again[i]) {
        alone = read_alone(words[i], before, after);
        if (again.empty()) first_[i] = alone;
      } else {
        alone = first_[i];
      }
      if (best[i] + alone.cost < best[i + 1]) {
        best[i + 1] = best[i] + alone.cost;
        readings.from[i + 1] = i;
        readings.step[i + 1] = std::move(alone);
      }
      if (i + 1 < n && blanks_between(words[i], words[i + 1])) {
        Reading joined = read_joined(words[i], words[i + 1]);
        if (best[i] + joined.cost < best[i + 2]) {
          best[i + 2] = best[i] + joined.cost;
          readings.from[i + 2] = i;
          readings.step[i + 2] = std::move(joined);
        }
      }
    }
    return readings;
  }

  // Each misspelling read as one stored word takes that word as its guess,
  // the context of its neighbours; whether one beside another did.
  bool guess(std::vector<Word>& words, const Readings& readings) const {
    bool any = false;
    for (std::size_t i = words.size(); i > 0; i = readings.from[i]) {
      const Reading& step = readings.step[i];
      if (readings.from[i] != i - 1 || step.words.size() != 1 || !step.words[0].key) continue;
      Word& word = words[i - 1];
      const std::optional<Payload> payload = index_.words.get(*step.words[0].key);
      if (!payload.has_value()) continue;
      word.guess = Known{*step.words[0].key, *payload};
      const bool beside_another =
          (i >= 2 && !words[i - 2].known) || (i < words.size() && !words[i].known);
      any = any || beside_another;
    }
    return any;
  }

  // The words of the text; a hyphenated word that is not stored, part by part.
  std::vector<Word> words() const {
    std::vector<Word> words;
    for (const Token& token : tokenize(views_.written)) {
      std::optional<Known> known = find_word(index_, views_, token.start, token.end);
      if (known.has_value()) {
        words.push_back({token.start, token.end, std::move(known), std::nullopt});
        continue;
      }
      std::size_t part = token.start;
      for (std::size_t at = token.start; at <= token.end; ++at) {
        if (at < token.end && !is_hyphen(views_.written[at])) continue;
        words.push_back({part, at, find_word(index_, views_, part, at), std::nullopt});
        part = at + 1;
      }
    }
    return words;
  }

  bool blanks_between(const Word& left, const Word& right) const {
    return only_blanks_between(views_.written, left.end, right.start);
  }

  // The cost of `key` in place of a word between `before` and `after`:
  // its own after the word before, and what it changes of the cost of the
  // word after.
  double fit(const std::u32string& key, Payload payload, const Word* before,
             const Word* after) const {
    const std::optional<std::uint32_t> number = index_.words.word_number(key);
    if (!number.has_value()) return costs_.of(payload);
    const Context self{*number, payload};
    double cost = costs_.after(context_of(index_, known_or_guess(before)), self, key.size());
    const Known* next_word = known_or_guess(after);
    if (const std::optional<Context> next = context_of(index_, next_word)) {
      const std::size_t length = next_word->key.size();
      cost += costs_.after(self, *next, length) - costs_.of_piece(next->payload, length);
    }
    return cost;
  }

  // The stored word, or what a first reading took it for.
  static const Known* known_or_guess(const Word* word) {
    if (word == nullptr) return nullptr;
    if (word->known.has_value()) return &*word->known;
    return word->guess.has_value() ? &*word->guess : nullptr;
  }

  // A stored word as written, or with counts of pairs, the word one edit
  // away that check would report it as a slip for, likeliest first.
  Reading read_stored(const Word& word, const Word* before, const Word* after) {
    const Known& known = *word.known;
    Reading as_written{costs_.of(known.payload), {}};
    const Known* left = known_or_guess(before);
    const Known* right = known_or_guess(after);
    if (!costs_.has_pairs() || (left == nullptr && right == nullptr) ||
        !may_be_suspect(index_, costs_, known, left, right, kSuspectRatio, kNever))
      return as_written;
    auto [place, added] = one_edit_.try_emplace(known.key);
    if (added) place->second = one_edit_words(index_, known.key, 5);
    const std::vector<Match> likelier =
        likelier_words(index_, costs_, known, left, right, place->second, kSuspectRatio, 1);
    if (likelier.empty()) return as_written;
    return {as_written.cost, {{word.start, word.end, utf8::decode(likelier[0].text)}}};
  }

  Reading read_alone(const Word& word, const Word* before, const Word* after) {
    if (word.known.has_value()) return read_stored(word, before, after);
    const std::size_t length = word.end - word.start;
    Reading best{costs_.of_unknown(length), {}};
    const std::u32string typed = typed_key(views_, word.start, word.end);
    if (costs_.has_pairs()) {
      // Each of the likeliest few, by its fit with the words beside it.
      for (const Match& match : candidates(typed)) {
        const std::u32string key = utf8::decode(match.text);
        if (drops_a_word(key, typed)) continue;
        const double cost =
            fit(key, match.payload.value_or(0), before, after) + typo_cost(key, typed);
        if (cost < best.cost) best = {cost, {{word.start, word.end, key}}};
      }
    } else if (const std::optional<Match>& found = best_suggestion(typed, max_dist_);
               found.has_value() && !drops_a_word(utf8::decode(found->text), typed)) {
      const std::u32string key = utf8::decode(found->text);
      const double cost = costs_.of(found->payload.value_or(0)) + typo_cost(key, typed);
      if (cost < best.cost) best = {cost, {{word.start, word.end, key}}};
    }
    // Words run together, as typed or any of them with a typo of its own
    // (a cut that is one near word is the suggestion over again, and would
    // hide the exact cut); the cut counts the spaces it puts in.
    for (std::uint64_t near = 0; near <= std::min<std::uint64_t>(max_dist_, 1); ++near) {
      const Segmentation cut =
          segment_span(index_, views_, word.start, word.end, costs_, near, kSpaceCost);
      if (cut.pieces.size() < 2) continue;
      double cost = cut.cost;
      std::vector<Replacement> pieces;
      for (const Piece& piece : cut.pieces) {
        if (!piece.word.has_value()) cost = kNever;
        std::optional<std::u32string> key;
        if (piece.word.has_value() && piece.distance > 0) key = piece.word->key;
        pieces.push_back({piece.start, piece.end, std::move(key)});
      }
      if (cost < best.cost) best = {cost, std::move(pieces)};
    }
    return best;
  }

  // Whether `key` is `typed` without a stored word at its start or end
  // ("dictionary" for "adictionary"): that suggestion reads a space left
  // out as a letter typed too many, and the cut into the two words, which
  // is read too, says it better.
  bool drops_a_word(const std::u32string& key, const std::u32string& typed) const {
    if (key.size() >= typed.size()) return false;
    const std::size_t rest = typed.size() - key.size();
    const std::u32string_view text(typed);
    return (text.substr(rest) == key && is_piece(text.substr(0, rest))) ||
           (text.substr(0, key.size()) == key && is_piece(text.substr(key.size())));
  }

  // Whether a cut would take `text` for a word: a stored one, and of one
  // letter only if it is among the commonest (WordCosts::of_piece).
  bool is_piece(std::u32string_view text) const {
    const std::optional<Payload> payload = payload_of(index_.tries, text);
    return payload.has_value() && (text.size() > 1 || costs_.of(*payload) <= kCommonPiece);
  }

  Reading read_joined(const Word& left, const Word& right) {
    const std::u32string typed =
        typed_key(views_, left.start, left.end) + typed_key(views_, right.start, right.end);
    const Replacement whole{left.start, right.end, std::nullopt};
    if (const std::optional<Payload> payload = payload_of(index_.tries, typed))
      return {costs_.of(*payload) + kSpaceCost, {{whole.start, whole.end, typed}}};
    // Two stored words are joined only into a stored word.
    if (max_dist_ == 0 || (left.known && right.known)) return {};
    // A word split in two with a typo besides: one edit, which keeps the
    // search of the long joined text cheap.
    const std::optional<Match>& found = best_suggestion(typed, 1);
    if (!found.has_value()) return {};
    const std::u32string key = utf8::decode(found->text);
    return {costs_.of(found->payload.value_or(0)) + typo_cost(key, typed) + kSpaceCost,
            {{whole.start, whole.end, key}}};
  }

  // The likeliest few suggestions within max_dist, for the context to
  // choose among.
  const std::vector<Match>& candidates(const std::u32string& typed) {
    auto [place, added] = candidates_.try_emplace(typed);
    if (added && max_dist_ > 0) place->second = index_.words.suggest(typed, max_dist_, kCandidates);
    return place->second;
  }
  static constexpr std::uint64_t kCandidates = 5;

  const std::optional<Match>& best_suggestion(const std::u32string& typed, std::uint64_t max_dist) {
    max_dist = std::min(max_dist, max_dist_);
    auto [place, added] = suggested_[max_dist == max_dist_].try_emplace(typed);
    if (added && max_dist > 0) {
      std::vector<Match> found = index_.words.suggest(typed, max_dist, 1);
      if (!found.empty()) place->second = std::move(found[0]);
    }
    return place->second;
  }

  const TextIndex& index_;
  TextViews views_;
  const WordCosts& costs_;
  std::uint64_t max_dist_;
  // The best suggestion of each text searched, within one edit and within
  // max_dist.
  std::unordered_map<std::u32string, std::optional<Match>> suggested_[2];
  std::unordered_map<std::u32string, std::vector<Match>> candidates_;
  std::unordered_map<std::u32string, std::vector<Match>> one_edit_;
  // Each word's reading alone in the first reading.
  std::vector<Reading> first_;
  InterruptCheck interrupts_;
};

}  // namespace

std::vector<Edit> correct_text(const TextIndex& index, TextViews views, const WordCosts& costs,
                               std::uint64_t max_dist) {
  return Corrector(index, views, costs, max_dist).run();
}

}  // namespace kelvaro::text
