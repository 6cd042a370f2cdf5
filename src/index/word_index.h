// WordIndex: every lookup of an index, answered in one place.
//
// An index is a trie of keys (the words, normalised if the index has a
// normalisation), the spellings of the keys that normalisation changed, and
// the lookup tables that the faster searches need: the trie of the reversed
// keys and the heaviest value at or below each node. Each method takes a
// query already turned into characters and returns the finished answer,
// every choice made here or below: the limit, the widening of a sorted
// search, and which walk runs (choose_walk, search/walk_choice.h).
//
// A WordIndex never changes once made, so any number of threads may use
// it at once; the lookup tables are made by the first search that needs
// them, once, under a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "folded/compact_trie.h"
#include "format/index_image.h"
#include "prefix/queries.h"
#include "search/pair_table.h"
#include "search/sound_table.h"
#include "search/suggestions.h"

namespace kelvaro {

class WordIndex {
 public:
  // The lookup tables that a saved index brings along, or none to make them
  // on first need: the reversed trie, and best_payloads_below(forward).
  struct Saved {
    const CompactTrie* backward = nullptr;
    std::span<const Payload> best_forward;
    // The sound-alike table, which an index has from when it is built or
    // never (it is part of the index, not a lookup table made on need).
    std::optional<SoundTableSpans> sounds;
    // With the reversed trie, the tries of the words with a weight, if the
    // index has them (weighted_words()).
    std::optional<WeightedWordsSpans> weighted_words;
    // Counts of word pairs, which an index has from when it is built or
    // never, like the sound table.
    std::optional<PairTableSpans> pairs;
    // With the reversed trie, the table of deletions of every word, if the
    // index has one (near_table()).
    std::optional<DeleteTableSpans> near;
  };

  // `forward` is the index trie, whose words (nodes with a payload) are the
  // index's, and the spelling tables word tables of the same length, the
  // keys in increasing order. All are borrowed: the owner keeps them alive
  // and unchanged for the index's life.
  WordIndex(const CompactTrie& forward, std::span<const std::uint8_t> spelling_keys,
            std::span<const std::uint8_t> spelling_words, bool weighted, Saved saved);
  ~WordIndex();
  WordIndex(const WordIndex&) = delete;
  WordIndex& operator=(const WordIndex&) = delete;

  bool weighted() const { return weighted_; }
  // The sound-alike table, if the index has one.
  const SoundTable* sounds() const { return sounds_ ? &*sounds_ : nullptr; }
  // The counts of word pairs, if the index has them.
  const PairTableSpans* pairs() const { return saved_.pairs ? &*saved_.pairs : nullptr; }
  // The number of a stored key (CompactTrie::word_number), which pairs
  // are keyed by.
  std::optional<std::uint32_t> word_number(std::u32string_view key) const;
  // The count of the pair of stored keys (first, second), if counted.
  std::optional<std::uint32_t> pair_count(std::u32string_view first,
                                          std::u32string_view second) const;

  // The reversed trie and the best payload of each folded node of the
  // forward trie, made now if need be: what a saved index stores.
  const CompactTrie& backward() const;
  std::span<const Payload> best_forward() const;
  // In a weighted index most of whose words have no weight, the tries of
  // the words with one, which suggestions walk first; made now if need be.
  std::optional<WeightedWordsSpans> weighted_words() const;
  // In a weighted index of words with a weight each, the table of the
  // deletions of every word, through which suggestions find the words
  // within two edits; made now if need be.
  std::optional<DeleteTableSpans> near_table() const;

  // The bytes of each part of the index. A lookup table counts from the
  // start when it was saved, and once made when it is made on first need.
  struct Memory {
    std::size_t forward = 0;   // the index trie
    std::size_t backward = 0;  // the reversed trie
    std::size_t best = 0;      // the best payload of each folded node
    std::size_t sounds = 0;    // the sound-alike table, 0 without one
    // The weighted words' tries, best payloads and table of deletions, 0
    // without them.
    std::size_t weighted = 0;
    std::size_t pairs = 0;  // the counts of word pairs, 0 without them
    std::size_t near = 0;   // the table of every word's deletions, 0 without one
    // Of backward, best, weighted and near, the bytes of the tables this
    // index made itself rather than was given.
    std::size_t made = 0;
  };
  Memory memory() const;

  // The value of `key`, if stored.
  std::optional<Payload> get(std::u32string_view key) const;

  // Every stored key within max_dist of `query` (a swap of neighbours one
  // edit too with `transpositions`), in the order of the plain walk, or
  // with `sorted` by (distance, spelling); at most `limit` of them.
  std::vector<Match> search(std::u32string_view query, std::uint64_t max_dist,
                            std::optional<std::uint64_t> limit, bool sorted,
                            bool transpositions) const;

  // The likeliest corrections of `word`, best first (search/suggestions.h).
  std::vector<Match> suggest(std::u32string_view word, std::uint64_t max_dist,
                             std::optional<std::uint64_t> limit) const;

  // The stored keys that complete `prefix` (search/completion.h).
  std::vector<Match> complete(std::u32string_view prefix, std::uint64_t max_dist,
                              std::optional<std::uint64_t> limit, bool transpositions) const;

  // The word as it was given whose key is `key`, a stored key.
  std::string_view spelling(std::string_view key) const;

  // At most `count` of the stored words as they were given, in the code
  // point order of their keys, from the first after the stored key `after`
  // (from the first without it), and the key of the last of them: how the
  // index lists its words, which it keeps no table of (its trie and
  // spelling tables hold them), a batch at a time.
  struct Words {
    std::vector<std::string> words;
    std::string last_key;
  };
  Words words_after(std::optional<std::u32string_view> after, std::size_t count) const;

  // The tries and what the walks prune by, for walks of their own (running
  // text): made on first need, like every lookup's tables.
  IndexTries tries() const;

  // The sum of the values and the least of them above 0, which make the
  // probability of a word in running text.
  struct WeightTotals {
    double total;
    Payload least;
  };
  WeightTotals weight_totals() const;

 private:
  struct Tables;
  const Tables& tables() const;
  // Every match within max_dist, in walk order.
  std::vector<Match> found(std::u32string_view query, std::uint64_t max_dist,
                           std::optional<std::uint64_t> limit, bool transpositions) const;
  std::vector<Match> sorted_search(std::u32string_view query, std::uint64_t max_dist,
                                   std::optional<std::uint64_t> limit, bool transpositions) const;

  const CompactTrie& forward_;
  Saved saved_;
  std::optional<SoundTable> sounds_;
  std::span<const std::uint8_t> spelling_keys_;
  std::span<const std::uint8_t> spelling_words_;
  bool weighted_;
  mutable std::mutex tables_lock_;
  mutable std::atomic<const Tables*> tables_{nullptr};
  mutable std::unique_ptr<Tables> owned_tables_;
};

}  // namespace kelvaro
