// An index's lookups, as WordIndex answers them, against the plain walk,
// and the same lookups run again on an index read back from its image, and
// as a batch on several threads, against one by one.
//
// The input is a word list over a small alphabet (the empty word may be
// among them), built into an index trie as the package builds one and
// folded, then lookups: a query, max_dist, limit and the sorted and
// transpositions flags. Each search must be the plain walk's matches on the
// unfolded trie with the empty word first where it is within reach, cut at
// the limit; a sorted search the nearest of them by (distance, word); get
// the distance-0 match. An index over the image of the tries and tables
// that the first one made, as a saved index is, must answer every lookup,
// searches, suggestions and completions, as the first did. Then all the
// lookups run on two threads at once on a new index, whose tables the
// threads make as they go, and each must equal its lone run.
//
// Input layout: the word count; per word its length and characters; a byte
// that says whether the index is weighted (bit 0) and whether most of its
// words or few have a weight (bit 1), and a byte of weight per word; then per lookup the
// query's length and characters, max_dist, limit and the flags, one byte
// each.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "build/trie_builder.h"
#include "checks.h"
#include "entry_points.h"
#include "fold_checks.h"
#include "format/index_image.h"
#include "index/parallel.h"
#include "index/word_index.h"
#include "input_reader.h"
#include "prefix/queries.h"
#include "prefix/utf8.h"
#include "search/sound_table.h"
#include "search/suggestions.h"
#include "small_words.h"

namespace kelvaro::fuzz {
namespace {

struct Lookup {
  std::u32string query;
  std::uint64_t max_dist;
  std::optional<std::uint64_t> limit;
  bool sorted;
  bool transpositions;
};

// What every kind of lookup answers for one query.
struct Answers {
  std::vector<Match> search, suggest, complete;
  std::optional<Payload> value;
  friend bool operator==(const Answers&, const Answers&) = default;
};

// What a search must find: the plain walk's matches on the fold (the empty
// word first), from the unfolded trie.
std::vector<Match> expected_search(const Trie& trie, const Lookup& lookup) {
  std::vector<Match> all = expected_folded_walk(trie, lookup.query, lookup.max_dist, std::nullopt,
                                                lookup.transpositions);
  if (lookup.sorted)
    std::stable_sort(all.begin(), all.end(), [](const Match& a, const Match& b) {
      return std::tie(a.distance, a.text) < std::tie(b.distance, b.text);
    });
  if (lookup.limit.has_value() && all.size() > *lookup.limit) all.resize(*lookup.limit);
  return all;
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  std::vector<std::string> words;
  for (std::size_t i = 1 + reader.byte() % 64; i > 0; --i)
    words.push_back(utf8::encode(read_small_text(reader, 10)));
  const std::vector<std::string_view> keys(words.begin(), words.end());
  // A weighted index gives most words no weight, as a large dictionary with
  // counts for its common words does, which suggest walks first; or, with
  // the next bit, most words one, as a dictionary with a count for every
  // word does, which suggest finds through the table of every word's
  // deletions.
  const std::uint8_t kind = reader.byte();
  const bool weighted = kind & 1;
  const bool most_weighted = kind & 2;
  std::vector<Payload> values;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const std::uint8_t weight = reader.byte();
    values.push_back(weighted && (weight % 3 != 0) != most_weighted ? 0 : weight);
  }
  const BuiltTrie built = build_trie(keys, values);
  const CompactTrieArrays arrays = fold(built.trie);
  const CompactTrie forward(arrays.spans());
  // No spellings: an empty word table is a count of 0 and one offset.
  static const std::uint8_t kNoWords[8] = {};
  const auto index_of = [&](const CompactTrie& trie, WordIndex::Saved saved) {
    return std::make_unique<WordIndex>(trie, kNoWords, kNoWords, weighted, saved);
  };
  // Every index finds words that sound alike too, which suggest ranks.
  const SoundTableArrays sounds = make_sound_table(forward);
  const SoundTableSpans sound_table = sounds.spans();
  const SoundTableSpans* sound_spans = &sound_table;
  const std::unique_ptr<WordIndex> index =
      index_of(forward, {nullptr, {}, sound_table, std::nullopt, std::nullopt, std::nullopt});

  // The words, which an index reads from its trie rather than a table,
  // are the builder's keys in their order, whole or in batches that each
  // start after the key the one before ended on.
  {
    const std::vector<std::string_view> stored = built.keys.keys();
    const WordIndex::Words whole = index->words_after(std::nullopt, stored.size() + 1);
    require(std::equal(whole.words.begin(), whole.words.end(), stored.begin(), stored.end()),
            "the words read from the trie differ from the builder's keys");
    std::vector<std::string> batches;
    std::optional<std::u32string> after;
    for (;;) {
      const WordIndex::Words batch = index->words_after(after, 3);
      if (batch.words.empty()) break;
      batches.insert(batches.end(), batch.words.begin(), batch.words.end());
      after = utf8::decode(batch.last_key);
    }
    require(batches == whole.words, "the words read in batches differ from the whole list");
  }

  std::vector<Lookup> lookups;
  for (int count = 1 + reader.byte() % 4; count > 0; --count) {
    Lookup lookup;
    lookup.query = read_small_text(reader, 14);
    lookup.max_dist = reader.byte() % 5;
    const std::uint8_t limit_byte = reader.byte();
    lookup.limit =
        limit_byte == 0 ? std::nullopt : std::optional<std::uint64_t>((limit_byte - 1) % 10);
    const std::uint8_t flags = reader.byte();
    lookup.sorted = flags & 1;
    lookup.transpositions = flags & 2;
    lookups.push_back(std::move(lookup));
  }

  const auto answer = [](const WordIndex& index, const Lookup& lookup) {
    return Answers{
        index.search(lookup.query, lookup.max_dist, lookup.limit, lookup.sorted,
                     lookup.transpositions),
        index.suggest(lookup.query, lookup.max_dist, lookup.limit),
        index.complete(lookup.query, lookup.max_dist, lookup.limit, lookup.transpositions),
        index.get(lookup.query)};
  };
  std::vector<Answers> alone;
  for (const Lookup& lookup : lookups) {
    alone.push_back(answer(*index, lookup));
    require(alone.back().search == expected_search(built.trie, lookup),
            "the index's search differs from the plain walk");
    // The best few suggestions, which prune, are the first few of them all.
    std::vector<Match> every = index->suggest(lookup.query, lookup.max_dist, std::nullopt);
    if (lookup.limit && every.size() > *lookup.limit) every.resize(*lookup.limit);
    require(alone.back().suggest == every, "the best few suggestions are not the first of all");
    // The weighted words' tries, walked first, and the tables of deletions
    // spare work only: the whole trie walked alone suggests the same.
    IndexTries walked = index->tries();
    walked.near = nullptr;
    require(alone.back().suggest ==
                suggest(walked, nullptr, lookup.query, lookup.max_dist, lookup.limit, weighted),
            "the weighted words' tries or the table of deletions change the suggestions");
    const std::vector<Match> exact =
        expected_search(built.trie, {lookup.query, 0, std::nullopt, false, false});
    require(alone.back().value == (exact.empty() ? std::nullopt : exact.front().payload),
            "get differs from the search at distance 0");
  }

  // Saved and read back, as an index file holds them.
  const CompactTrieSpans backward_spans = index->backward().spans();
  const std::optional<WeightedWordsSpans> weighted_words = index->weighted_words();
  const std::optional<DeleteTableSpans> near = index->near_table();
  const std::vector<std::uint64_t> image =
      write_image(forward.spans(), &backward_spans, index->best_forward(), sound_spans,
                  weighted_words ? &*weighted_words : nullptr, nullptr, near ? &*near : nullptr);
  const auto read = read_image(
      {reinterpret_cast<const std::uint8_t*>(image.data()), image.size() * sizeof(std::uint64_t)});
  const ImageParts* parts = std::get_if<ImageParts>(&read);
  require(parts != nullptr && parts->backward.has_value() && parts->sounds.has_value(),
          "an image does not read back");
  const CompactTrie read_forward(parts->forward), read_backward(*parts->backward);
  const std::unique_ptr<WordIndex> saved =
      index_of(read_forward, {&read_backward, parts->best_forward, parts->sounds,
                              parts->weighted_words, parts->pairs, parts->near});
  require(parts->weighted_words.has_value() == weighted_words.has_value(),
          "the weighted words' tries do not read back");
  require(parts->near.has_value() == near.has_value(), "the table of deletions does not read back");
  for (std::size_t i = 0; i < lookups.size(); ++i)
    require(answer(*saved, lookups[i]) == alone[i], "an index read back answers otherwise");
  // The tables take as many bytes saved as made, and only those made count
  // as made.
  const WordIndex::Memory made = index->memory(), kept = saved->memory();
  require(made.made == made.backward + made.best + made.weighted + made.near && kept.made == 0 &&
              std::tie(made.forward, made.backward, made.best, made.sounds, made.weighted,
                       made.near) == std::tie(kept.forward, kept.backward, kept.best, kept.sounds,
                                              kept.weighted, kept.near),
          "the tables count other bytes made than saved");

  // The same lookups, each several times over, on two threads, on an index
  // that has yet to make its tables.
  const std::unique_ptr<WordIndex> fresh =
      index_of(forward, {nullptr, {}, sound_table, std::nullopt, std::nullopt, std::nullopt});
  require(fresh->memory().backward == 0 && fresh->memory().made == 0,
          "tables not yet made count bytes");
  const std::size_t rounds = 8;
  std::vector<Answers> together(rounds * lookups.size());
  std::size_t handed = 0;
  run_in_parallel(
      together.size(), 2,
      [&](std::size_t i) { together[i] = answer(*fresh, lookups[i % lookups.size()]); },
      [&](std::size_t begin, std::size_t end) {
        require(begin == handed && end > begin, "ranges handed on out of order");
        handed = end;
      },
      [] {});
  require(handed == together.size(), "not every range was handed on");
  for (std::size_t i = 0; i < together.size(); ++i)
    require(together[i] == alone[i % lookups.size()], "a lookup on two threads differs");
}

}  // namespace kelvaro::fuzz
