// What the text functions know of an index, and how they look words up.
//
// A text is read twice over, character for character: as written, and
// folded, the way the index's normalisation makes keys of words (or, for
// an index without one, in lower case). Both views have the same length,
// so an offset in one is an offset in the other. The caller makes the
// folded view; the C++ standard library knows no Unicode case.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "folded/compact_trie.h"
#include "index/word_index.h"
#include "search/pair_table.h"
#include "search/suggestions.h"

namespace kelvaro::text {

struct TextIndex {
  TextIndex(const WordIndex& words, bool normalized)
      : words(words), tries(words.tries()), normalized(normalized) {}

  // The index, which suggests; its tries, which the text walks use.
  const WordIndex& words;
  const IndexTries tries;
  // Whether the index normalises its words: then the folded view holds
  // the keys, and the text as written is never looked up.
  bool normalized;

  // Whether payloads are weights.
  bool weighted() const { return words.weighted(); }
};

struct TextViews {
  std::u32string_view written;
  std::u32string_view folded;
};

// A stored key and its payload.
struct Known {
  std::u32string key;
  Payload payload;
};

// The key a slice of text is searched as: its folded view, with every
// typographic apostrophe made plain. In an index without normalisation that
// is the word in lower case, so that "TEH" finds "the" as "teh" would, and
// the case is put back on the correction.
std::u32string typed_key(TextViews views, std::size_t start, std::size_t end);

// The stored word that the text from start to end is, if any. In an index
// without normalisation, a word the index holds in another case counts:
// as written, in lower case, or capitalised from all capitals ("NASA" for
// "Nasa" is not tried; "PARIS" finds "Paris"). A possessive's "'s" may be
// left off.
std::optional<Known> find_word(const TextIndex& index, TextViews views, std::size_t start,
                               std::size_t end);

// The payload stored at `key`, if any.
std::optional<Payload> payload_of(const IndexTries& tries, std::u32string_view key);

// A stored word as the context of the next: its number, which pairs are
// keyed by, and its weight.
struct Context {
  std::uint32_t number;
  Payload payload;
};

// ln(500): the cost of a word with a chance of one in 500.
inline constexpr double kCommonPiece = 6.2146;

// Word costs of a weighted index, in the units of a suggestion's score
// (natural logarithms; an ordinary edit is 10): minus the logarithm of a
// word's probability, its weight over the sum of all weights. A word of
// unknown weight (0) is taken to be half as common as the rarest known one.
//
// In an index without weights every word is as likely as any other: one in
// as many as there are words.
class WordCosts {
 public:
  static WordCosts weighted(double total, double least) {
    const double log_total = std::log(std::max(total, 1.0));
    return WordCosts(log_total, log_total - std::log(std::max(least, 1.0) / 2), true);
  }
  static WordCosts uniform(double words) {
    const double cost = std::log(std::max(words, 1.0));
    return WordCosts(cost, cost, false);
  }

  double of(Payload payload) const {
    if (!weighted_) return unknown_;
    return payload == 0 ? unknown_ : log_total_ - std::log(static_cast<double>(payload));
  }
  // A word of `length` characters as a piece of a cut. Counts of words on
  // the web count every letter often (initials, list markers, units), so a
  // cut would make many pieces of one letter; such a word counts as a word
  // of unknown weight unless it is among the commonest, with a chance of
  // one in 500 or better ("a" and "I" in English).
  double of_piece(Payload payload, std::size_t length) const {
    const double cost = of(payload);
    return length == 1 && cost > kCommonPiece ? unknown_ : cost;
  }
  // A word after another, in an index with counts of word pairs: minus the
  // logarithm of the share of the word before's count that the pair has
  // (the pair's count over the larger of the two, should the counts
  // disagree), and where the pair is not counted, the word's own cost and
  // kBackoff. Without pairs or a word before, the word's own cost
  // (of_piece).
  double after(const std::optional<Context>& before, Context word, std::size_t length) const {
    const double alone = of_piece(word.payload, length);
    if (pairs_ == nullptr || !before.has_value()) return alone;
    return after_in(*pairs_, *before, word, length, alone);
  }
  // `after` for a caller that weighs many words after the same one: the
  // pairs that begin with it (pairs_row) and the word's own cost
  // (of_piece) are found once, by the caller.
  double after_in(const PairTableSpans& row, Context before, Context word, std::size_t length,
                  double alone) const {
    const std::optional<std::uint32_t> count = pair_count(row, before.number, word.number);
    if (!count.has_value() || (length == 1 && alone == unknown_)) return alone + kBackoff;
    const double whole = static_cast<double>(std::max(before.payload, *count));
    return std::log(whole) - std::log(static_cast<double>(*count));
  }
  // The pairs that begin with the word, for after_in; none without pairs.
  PairTableSpans pairs_row(Context before) const {
    return pairs_ == nullptr ? PairTableSpans{} : pair_row(*pairs_, before.number);
  }
  // Whether the pair (first, second) is counted.
  bool counted(Context first, Context second) const {
    return pairs_ != nullptr && pair_count(*pairs_, first.number, second.number).has_value();
  }
  void use_pairs(const PairTableSpans* pairs) { pairs_ = pairs; }
  bool has_pairs() const { return pairs_ != nullptr; }

  // What a pair that is not counted costs beyond its second word's own
  // cost: nothing. The shipped pairs are only the commonest ones, so a pair
  // missing from them says little against it; a discount (ln(1 / 0.4), the
  // usual backoff's, was tried) charged every word that begins or ends a
  // compound ("keyword", "lookup") twice and cut it in two, and made rare
  // words beside uncounted neighbours look like slips: on the even half of
  // the bench's sentences it cut 1.2% fewer sentences right and reported
  // twice the suspects.
  static constexpr double kBackoff = 0.0;

  // A run of `length` characters that is no word at all: dearer than the
  // rarest word, by an edit and more with every character, so that a text
  // is cut into unknown pieces only where no word fits.
  double of_unknown(std::size_t length) const {
    return unknown_ + 10.0 + 2.3 * static_cast<double>(length);
  }

 private:
  WordCosts(double log_total, double unknown, bool weighted)
      : log_total_(log_total), unknown_(unknown), weighted_(weighted) {}

  double log_total_;
  double unknown_;
  bool weighted_;
  const PairTableSpans* pairs_ = nullptr;
};

// The cost of a space typed where none belongs or left out where one does:
// half an ordinary edit, as for a vowel left out or typed too many. (At a
// whole edit, a corrector prefers a two-edit misspelling of one word to two
// words run together; the benchmark's sentences settled it between 3 and 10.)
inline constexpr double kSpaceCost = 5.0;

}  // namespace kelvaro::text
