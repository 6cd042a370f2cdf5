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
#include "search/split_search.h"
#include "search/suggestions.h"

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
};

namespace {

// A sorted search with a limit widens its reach one edit at a time up to
// here, and then doubles it, so that a query whose nearest words are far
// away costs a few searches rather than one per distance.
constexpr std::uint64_t kLastSingleStep = 4;

std::optional<std::uint64_t> one_less(std::optional<std::uint64_t> limit) {
  return limit.has_value() ? std::optional<std::uint64_t>(*limit - 1) : std::nullopt;
}

}  // namespace

WordIndex::WordIndex(const CompactTrie& forward, std::span<const std::uint8_t> spelling_keys,
                     std::span<const std::uint8_t> spelling_words, std::uint64_t word_count,
                     bool weighted, Saved saved)
    : forward_(forward),
      saved_(saved),
      sounds_(saved.sounds ? std::optional<SoundTable>(*saved.sounds) : std::nullopt),
      spelling_keys_(spelling_keys),
      spelling_words_(spelling_words),
      word_count_(word_count),
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
  } else {
    tables->backward_arrays = reversed_trie(forward_);
    tables->backward = CompactTrie(tables->backward_arrays.spans());
    tables->best_arrays = best_payloads_below(forward_);
    tables->best_forward = tables->best_arrays;
    if (weighted_) tables->weighted_arrays = make_weighted_words(forward_);
    if (const auto& words = tables->weighted_arrays)
      weighted_words = WeightedWordsSpans{words->forward.spans(), words->backward.spans(),
                                          words->best, words->near.spans()};
  }
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
  // The root spells the empty word; the descent never reports it.
  if (key.empty()) return empty_word();
  const auto node = find_exact(forward_, key);
  if (!node.has_value()) return std::nullopt;
  return forward_.payload(*node);
}

IndexTries WordIndex::tries() const {
  const Tables& lookup = tables();
  return {forward_, lookup.backward, PerFolded(forward_, lookup.best_forward), sounds()};
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

std::size_t WordIndex::made_table_bytes() const {
  const Tables* made = tables_.load(std::memory_order_acquire);
  if (made == nullptr) return 0;
  std::size_t bytes = made->backward_arrays.bytes() + made->best_arrays.size() * sizeof(Payload);
  if (made->weighted_arrays) bytes += made->weighted_words->bytes();
  return bytes;
}

WordIndex::WeightTotals WordIndex::weight_totals() const {
  return tables().weights;
}

std::string_view WordIndex::spelling(std::string_view key) const {
  if (word_table_count(spelling_keys_) == 0) return key;
  return word_beside_key(spelling_keys_, spelling_words_, key).value_or(key);
}

// The one place that chooses which walks find the matches, for every kind
// of lookup: the split search over both tries when the query is long enough
// for each piece to be longer than its share of the edits, the plain walk
// otherwise.
bool WordIndex::splits(std::u32string_view query, std::uint64_t max_dist) const {
  return max_dist > 0 && split_pays(query.size(), max_dist) &&
         can_split(forward_, tables().backward);
}

// How a search runs.
std::vector<Match> WordIndex::found(std::u32string_view query, std::uint64_t max_dist,
                                    std::optional<std::uint64_t> limit, bool transpositions) const {
  std::vector<Match> matches;
  if (limit == std::uint64_t{0}) return matches;
  // The empty word is the root, which a walk would meet first but never
  // reports.
  if (const std::optional<Payload> empty = empty_word(); empty && query.size() <= max_dist) {
    matches.push_back({std::string(), empty, query.size()});
    limit = one_less(limit);
    if (limit == std::uint64_t{0}) return matches;
  }
  std::vector<Match> walked;
  if (max_dist == 0) {
    // Distance 0 is an exact lookup: a descent along the query.
    if (const auto node = find_exact(forward_, query))
      walked.push_back({utf8::encode(query), forward_.payload(*node), 0});
  } else if (splits(query, max_dist)) {
    walked = split_search(forward_, tables().backward, query, max_dist, limit, transpositions);
  } else {
    walked = walk_tree(forward_, query, max_dist, limit, transpositions);
  }
  if (matches.empty()) return walked;
  matches.insert(matches.end(), std::make_move_iterator(walked.begin()),
                 std::make_move_iterator(walked.end()));
  return matches;
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
  if (!limit.has_value() || *limit >= word_count_) {
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
  std::optional<IndexTries> weighted;
  if (lookup.weighted_forward)
    weighted.emplace(*lookup.weighted_forward, *lookup.weighted_backward,
                     PerFolded(*lookup.weighted_forward, lookup.weighted_best), tries.sounds);
  // Candidates within max_dist, a swap of neighbours counting as one edit.
  return kelvaro::suggest(
      tries, weighted ? &*weighted : nullptr, word, max_dist, limit, weighted_,
      [&](const IndexTries& walked, const SplitFound& found, const SplitSkip& skip) {
        // Fast path for the words with a weight within two edits: their
        // table of deletions finds them in a few dozen lookups where a walk
        // visits thousands of nodes. Each is measured, and looked up for
        // its payload (and to be sure that it is stored).
        if (weighted && &walked == &*weighted && DeleteTable::answers(word, max_dist)) {
          const EditBand band(word, max_dist, word.size() + max_dist);
          lookup.weighted_near->for_each_near(word, max_dist, [&](std::u32string&& text) {
            const Cell distance = band.distance_to(text);
            if (distance > max_dist) return;
            const auto node = find_exact(walked.forward, text);
            if (node) found(std::move(text), *walked.forward.payload(*node), distance);
          });
          return;
        }
        if (max_dist > 0 && split_pays(word.size(), max_dist) &&
            can_split(walked.forward, walked.backward))
          for_each_split_match(walked.forward, walked.backward, word, max_dist, true, found, skip);
        else
          for_each_walk_match(walked.forward, word, max_dist, true, found, skip);
      });
}

std::vector<Match> WordIndex::complete(std::u32string_view prefix, std::uint64_t max_dist,
                                       std::optional<std::uint64_t> limit,
                                       bool transpositions) const {
  std::vector<Match> matches =
      kelvaro::complete(forward_, PerFolded(forward_, tables().best_forward), prefix, max_dist,
                        limit, weighted_, transpositions);
  // The empty word, at the root, completes a prefix as short as max_dist,
  // and takes its place by (distance, -value, word) like any other.
  const std::optional<Payload> empty = empty_word();
  if (!empty || prefix.size() > max_dist || limit == std::uint64_t{0}) return matches;
  const auto place = [&](const Match& match) {
    const std::int64_t lighter = weighted_ ? -static_cast<std::int64_t>(*match.payload) : 0;
    return std::make_tuple(match.distance, lighter, std::string_view(match.text));
  };
  const Match word{std::string(), empty, prefix.size()};
  const auto at = std::find_if(matches.begin(), matches.end(),
                               [&](const Match& match) { return !(place(match) < place(word)); });
  matches.insert(at, word);
  if (limit.has_value() && matches.size() > *limit) matches.resize(*limit);
  return matches;
}

}  // namespace kelvaro
