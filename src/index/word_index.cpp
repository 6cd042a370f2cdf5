#include "index/word_index.h"

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "build/key_spans.h"
#include "build/reversed_trie.h"
#include "build/trie_builder.h"
#include "folded/best_payloads.h"
#include "format/word_table.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"
#include "search/completion.h"
#include "search/one_edit_search.h"
#include "search/split_search.h"
#include "search/suggestions.h"
#include "search/walk_choice.h"

namespace kelvaro {

namespace {

// The tries of the words with a weight alone, and their best payloads below
// each folded node.
struct WeightedWords {
  CompactTrieArrays forward, backward;
  std::vector<Payload> best;
  DeleteTableArrays near;
};

// A weighted index's words with a weight, when they are at most this share
// of its words: more, and a walk of them alone saves too little.
constexpr double kFewWeighted = 0.5;

std::unique_ptr<WeightedWords> make_weighted_words(const CompactTrie& forward) {
  std::string bytes;
  std::vector<std::size_t> ends;
  std::vector<Payload> values;
  for_each_key(forward, [&](std::u32string_view key, Payload payload) {
    if (payload == 0) return;
    for (const char32_t ch : key) utf8::append(bytes, ch);
    ends.push_back(bytes.size());
    values.push_back(payload);
  });
  const double all = static_cast<double>(forward.payloads().size());
  if (static_cast<double>(values.size()) > kFewWeighted * all) return nullptr;
  const std::vector<std::string_view> keys = split_at(bytes, ends);
  auto words = std::make_unique<WeightedWords>();
  words->forward = compact(build_trie(keys, values).trie);
  const CompactTrie trie(words->forward.spans());
  words->backward = reversed_trie(trie);
  words->best = best_payloads_below(trie);
  words->near = make_delete_table(keys);
  return words;
}

// Whether suggestions in `forward`, a weighted index's trie, should find the
// words within two edits through a table of every word's deletions rather
// than by walks, which at two edits visit thousands of nodes for the few
// dozen candidates a table gives. The table holds about 50 entries of 4 to
// 5 bytes for a word of 9 letters, growing with the square of the length,
// so only an index of words rather than phrases, and not too many of them,
// has one: a dictionary of a language, with counts for its words. An index
// whose words are mostly without a weight has the table of its weighted
// words instead (make_weighted_words), and an index without weights, which
// suggestions rank by typo cost alone, is more often a large set of keys
// than a dictionary, and keeps its memory.
constexpr std::size_t kMostNearWords = 2'000'000;
static_assert(kMostNearWords <= kMostPackedWords);
constexpr double kLongestMeanNearWord = 16;

bool near_table_pays(const CompactTrie& forward, bool has_weighted_words) {
  const std::size_t words = forward.payloads().size();
  if (has_weighted_words || words == 0 || words > kMostNearWords) return false;
  std::size_t characters = 0;
  for_each_key(forward, [&](std::u32string_view key, Payload) { characters += key.size(); });
  return static_cast<double>(characters) <= kLongestMeanNearWord * static_cast<double>(words);
}

// The table of every word of `forward`, word i its word number i, so that
// suggestions read a word's payload without a lookup (IndexTries::near_numbered).
DeleteTableArrays make_near_table(const CompactTrie& forward) {
  // The root's empty word, which for_each_word leaves out, is a candidate
  // too: its entry is the empty text that every entry starts as.
  std::vector<std::string> keys(forward.payloads().size());
  for_each_word(forward, [&](std::u32string_view key, NodeId node) {
    std::string& bytes = keys[*forward.word_number(node)];
    for (const char32_t ch : key) utf8::append(bytes, ch);
  });
  const std::vector<std::string_view> views(keys.begin(), keys.end());
  return make_delete_table(views, DeleteLayout::packed);
}

}  // namespace

// What the faster searches need besides the trie, made once per index:
// the trie of the reversed keys, and the heaviest payload at or below each
// node of the index's trie (4 bytes a node), which completion walks by and
// suggestions prune by.
struct WordIndex::Tables {
  CompactTrieArrays backward_arrays;
  std::vector<Payload> best_arrays;
  CompactTrie backward;
  std::span<const Payload> best_forward;
  WeightTotals weights;
  // In a weighted index where most words have no weight, the words with
  // one, which suggestions look through first (suggestions.h): made here,
  // or saved.
  std::unique_ptr<WeightedWords> weighted_arrays;
  std::optional<WeightedWordsSpans> weighted_words;
  std::optional<CompactTrie> weighted_forward, weighted_backward;
  std::span<const Payload> weighted_best;
  std::optional<DeleteTable> weighted_near;
  // In a weighted index whose words all or mostly have a weight, the table
  // of every word's deletions (near_table_pays): made here, or saved.
  DeleteTableArrays near_arrays;
  std::optional<DeleteTableSpans> near_spans;
  std::optional<DeleteTable> near;
};

namespace {

// A sorted search with a limit widens its reach one edit at a time up to
// here, and then doubles it, so that a query whose nearest words are far
// away costs a few searches rather than one per distance.
constexpr std::uint64_t kLastSingleStep = 4;

}  // namespace

WordIndex::WordIndex(const CompactTrie& forward, std::span<const std::uint8_t> spelling_keys,
                     std::span<const std::uint8_t> spelling_words, bool weighted, Saved saved)
    : forward_(forward),
      saved_(saved),
      sounds_(saved.sounds ? std::optional<SoundTable>(*saved.sounds) : std::nullopt),
      spelling_keys_(spelling_keys),
      spelling_words_(spelling_words),
      weighted_(weighted) {}

WordIndex::~WordIndex() = default;

const WordIndex::Tables& WordIndex::tables() const {
  if (const Tables* made = tables_.load(std::memory_order_acquire)) return *made;
  // One thread makes them; the others wait for it. A maker that is
  // interrupted leaves nothing behind, and the next search tries again.
  std::lock_guard lock(tables_lock_);
  if (const Tables* made = tables_.load(std::memory_order_relaxed)) return *made;
  auto tables = std::make_unique<Tables>();
  std::optional<WeightedWordsSpans>& weighted_words = tables->weighted_words;
  if (saved_.backward != nullptr) {
    tables->backward = *saved_.backward;
    tables->best_forward = saved_.best_forward;
    weighted_words = saved_.weighted_words;
    tables->near_spans = saved_.near;
  } else {
    tables->backward_arrays = reversed_trie(forward_);
    tables->backward = CompactTrie(tables->backward_arrays.spans());
    tables->best_arrays = best_payloads_below(forward_);
    tables->best_forward = tables->best_arrays;
    if (weighted_) tables->weighted_arrays = make_weighted_words(forward_);
    if (const auto& words = tables->weighted_arrays)
      weighted_words = WeightedWordsSpans{words->forward.spans(), words->backward.spans(),
                                          words->best, words->near.spans()};
    if (weighted_ && near_table_pays(forward_, weighted_words.has_value())) {
      tables->near_arrays = make_near_table(forward_);
      tables->near_spans = tables->near_arrays.spans();
    }
  }
  if (tables->near_spans) tables->near.emplace(*tables->near_spans);
  if (weighted_words) {
    tables->weighted_forward.emplace(weighted_words->forward);
    tables->weighted_backward.emplace(weighted_words->backward);
    tables->weighted_best = weighted_words->best;
    tables->weighted_near.emplace(weighted_words->near);
  }
  tables->weights = {0, 0};
  for (const Payload payload : forward_.payloads()) {
    if (payload == 0) continue;
    tables->weights.total += static_cast<double>(payload);
    if (tables->weights.least == 0 || payload < tables->weights.least)
      tables->weights.least = payload;
  }
  owned_tables_ = std::move(tables);
  tables_.store(owned_tables_.get(), std::memory_order_release);
  return *owned_tables_;
}

std::optional<Payload> WordIndex::get(std::u32string_view key) const {
  const auto node = find_exact(forward_, key);
  if (!node.has_value()) return std::nullopt;
  return forward_.payload(*node);
}

std::optional<std::uint32_t> WordIndex::word_number(std::u32string_view key) const {
  const auto node = find_exact(forward_, key);
  if (!node.has_value()) return std::nullopt;
  return forward_.word_number(*node);
}

std::optional<std::uint32_t> WordIndex::pair_count(std::u32string_view first,
                                                   std::u32string_view second) const {
  if (!saved_.pairs) return std::nullopt;
  const std::optional<std::uint32_t> a = word_number(first), b = word_number(second);
  if (!a || !b) return std::nullopt;
  return kelvaro::pair_count(*saved_.pairs, *a, *b);
}

IndexTries WordIndex::tries() const {
  const Tables& lookup = tables();
  return {forward_,
          lookup.backward,
          PerFolded(forward_, lookup.best_forward),
          sounds(),
          lookup.near ? &*lookup.near : nullptr,
          lookup.near.has_value()};
}

const CompactTrie& WordIndex::backward() const {
  return tables().backward;
}

std::span<const Payload> WordIndex::best_forward() const {
  return tables().best_forward;
}

std::optional<WeightedWordsSpans> WordIndex::weighted_words() const {
  return tables().weighted_words;
}

std::optional<DeleteTableSpans> WordIndex::near_table() const {
  return tables().near_spans;
}

WordIndex::Memory WordIndex::memory() const {
  Memory memory;
  memory.forward = forward_.spans().bytes();
  if (sounds_) memory.sounds = sounds_->spans().bytes();
  if (saved_.pairs) memory.pairs = saved_.pairs->bytes();
  // Saved tables count from the start, tables made on first need once made;
  // the best payloads take a value per folded node either way.
  const Tables* made = tables_.load(std::memory_order_acquire);
  std::optional<WeightedWordsSpans> weighted_words;
  std::optional<DeleteTableSpans> near;
  if (saved_.backward != nullptr) {
    memory.backward = saved_.backward->spans().bytes();
    weighted_words = saved_.weighted_words;
    near = saved_.near;
  } else if (made != nullptr) {
    memory.backward = made->backward.spans().bytes();
    weighted_words = made->weighted_words;
    near = made->near_spans;
    memory.made = made->backward_arrays.bytes() + made->best_arrays.size() * sizeof(Payload);
    if (weighted_words) memory.made += weighted_words->bytes();
    if (near) memory.made += near->bytes();
  } else {
    return memory;
  }
  memory.best = forward_.folded_count() * sizeof(Payload);
  if (weighted_words) memory.weighted = weighted_words->bytes();
  if (near) memory.near = near->bytes();
  return memory;
}

WordIndex::WeightTotals WordIndex::weight_totals() const {
  return tables().weights;
}

std::string_view WordIndex::spelling(std::string_view key) const {
  if (word_table_count(spelling_keys_) == 0) return key;
  return word_beside_key(spelling_keys_, spelling_words_, key).value_or(key);
}

WordIndex::Words WordIndex::words_after(std::optional<std::u32string_view> after,
                                        std::size_t count) const {
  Words batch;
  if (count == 0) return batch;
  keys_in_order(forward_, after, [&](std::u32string_view key) {
    batch.last_key.clear();
    for (const char32_t ch : key) utf8::append(batch.last_key, ch);
    batch.words.emplace_back(spelling(batch.last_key));
    return batch.words.size() < count;
  });
  return batch;
}

// How a search runs: the matches within max_dist, in walk order, at most
// `limit` of them.
std::vector<Match> WordIndex::found(std::u32string_view query, std::uint64_t max_dist,
                                    std::optional<std::uint64_t> limit, bool transpositions) const {
  if (limit == std::uint64_t{0}) return {};
  const auto backward = [&]() -> const CompactTrie& { return tables().backward; };
  switch (choose_walk(query, max_dist, forward_, nullptr, backward)) {
    case Walk::exact:
      if (const auto node = find_exact(forward_, query))
        return {{utf8::encode(query), forward_.payload(*node), 0}};
      return {};
    case Walk::one_edit:
      return one_edit_search(forward_, tables().backward, query, limit, transpositions);
    case Walk::split:
      return split_search(forward_, tables().backward, query, max_dist, limit, transpositions);
    case Walk::deletions:  // never chosen: a search is offered no table, which counts a swap as
                           // one edit always and finds the words in no walk's order
    case Walk::plain:
      break;
  }
  return walk_tree(forward_, query, max_dist, limit, transpositions);
}

std::vector<Match> WordIndex::search(std::u32string_view query, std::uint64_t max_dist,
                                     std::optional<std::uint64_t> limit, bool sorted,
                                     bool transpositions) const {
  if (sorted) return sorted_search(query, max_dist, limit, transpositions);
  return found(query, max_dist, limit, transpositions);
}

std::vector<Match> WordIndex::sorted_search(std::u32string_view query, std::uint64_t max_dist,
                                            std::optional<std::uint64_t> limit,
                                            bool transpositions) const {
  std::vector<Match> matches;
  if (!limit.has_value() || *limit >= forward_.payloads().size()) {
    matches = found(query, max_dist, std::nullopt, transpositions);
  } else {
    // The best `limit` matches lie within any distance that has at least
    // `limit` of them: every match left out is farther than every one
    // found. Once every word is within reach there are that many, so the
    // loop ends, after a few single steps and a doubling per power of two
    // of the distance it needs. No stored key is farther from the query
    // than the longer of the two.
    const std::uint64_t longest = forward_.height();
    max_dist = std::min<std::uint64_t>(max_dist, std::max<std::uint64_t>(query.size(), longest));
    std::uint64_t distance = 0;
    matches = found(query, distance, std::nullopt, transpositions);
    while (matches.size() < *limit && distance < max_dist) {
      distance += distance < kLastSingleStep ? 1 : distance;
      // A search that reaches as far as the longest key enters every node,
      // whatever its reach; the widest costs no more.
      distance = distance >= longest ? max_dist : std::min(distance, max_dist);
      matches = found(query, distance, std::nullopt, transpositions);
    }
  }
  // By distance, then by the word as it was given.
  std::vector<std::pair<std::string_view, std::size_t>> order;
  order.reserve(matches.size());
  for (std::size_t i = 0; i < matches.size(); ++i) order.emplace_back(spelling(matches[i].text), i);
  std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
    return std::tie(matches[a.second].distance, a.first) <
           std::tie(matches[b.second].distance, b.first);
  });
  const std::size_t kept =
      limit.has_value() ? std::min<std::size_t>(*limit, order.size()) : order.size();
  std::vector<Match> best;
  best.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) best.push_back(std::move(matches[order[i].second]));
  return best;
}

std::vector<Match> WordIndex::suggest(std::u32string_view word, std::uint64_t max_dist,
                                      std::optional<std::uint64_t> limit) const {
  const IndexTries tries = this->tries();
  const Tables& lookup = tables();
  // The weighted words' tries hold every word with a weight but the empty
  // one, which the keys they are made of leave out: an index whose empty
  // word has a weight has its whole trie walked.
  std::optional<IndexTries> weighted;
  if (lookup.weighted_forward && forward_.payload(CompactTrie::root()).value_or(0) == 0)
    weighted.emplace(*lookup.weighted_forward, *lookup.weighted_backward,
                     PerFolded(*lookup.weighted_forward, lookup.weighted_best), tries.sounds,
                     &*lookup.weighted_near);
  return kelvaro::suggest(tries, weighted ? &*weighted : nullptr, word, max_dist, limit, weighted_);
}

std::vector<Match> WordIndex::complete(std::u32string_view prefix, std::uint64_t max_dist,
                                       std::optional<std::uint64_t> limit,
                                       bool transpositions) const {
  return kelvaro::complete(forward_, PerFolded(forward_, tables().best_forward), prefix, max_dist,
                           limit, weighted_, transpositions);
}

}  // namespace kelvaro
