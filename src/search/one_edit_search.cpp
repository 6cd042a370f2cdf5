#include "search/one_edit_search.h"

#include <span>
#include <string>
#include <utility>

#include "prefix/interrupt.h"

namespace kelvaro {
namespace {

using Place = CompactTrie::Place;
using Key = CompactTrie::Key;

// Each place of a query costs a descent of the rest of it, so a long query
// costs the square of its length; the split search's guarded walks do
// better there, and a query that long is rare.
constexpr std::size_t kLongestOneEdit = 64;

// Two runs of children whose sizes differ more than this many times are
// joined by a search in the long one for each child of the short one;
// closer in size, by reading both side by side.
constexpr std::size_t kLopsided = 8;

// The first position of [from, end) in a run of `trie` whose character is
// at least `wanted`, or end: a search that doubles its step from `from`,
// then halves it, so that a run read in order costs the logarithm of each
// step rather than of the whole run.
std::size_t first_at_least(const CompactTrie& trie, std::size_t from, std::size_t end,
                           char32_t wanted) {
  std::size_t low = from, step = 1;
  while (low + step < end && trie.char_at(low + step) < wanted) {
    low += step;
    step *= 2;
  }
  if (low < end && trie.char_at(low) >= wanted) return low;
  // char_at(low) < wanted, and the answer lies in (low, min(low + step, end)].
  std::size_t high = std::min(low + step, end);
  while (high - low > 1) {
    const std::size_t middle = low + (high - low) / 2;
    if (trie.char_at(middle) < wanted)
      low = middle;
    else
      high = middle;
  }
  return high;
}

// Calls each(position in `long_run`, position in `short_run`, character)
// for every character of both runs, in increasing order, by a search of the
// long run for each character of the short one.
template <typename Each>
void join_lopsided(const CompactTrie& short_trie, Run short_run, const CompactTrie& long_trie,
                   Run long_run, Each&& each) {
  std::size_t p = long_run.start;
  for (std::size_t q = short_run.start; q < short_run.end && p < long_run.end; ++q) {
    const char32_t ch = short_trie.char_at(q);
    p = first_at_least(long_trie, p, long_run.end, ch);
    if (p < long_run.end && long_trie.char_at(p) == ch) each(p, q, ch);
  }
}

std::optional<Place> child(const CompactTrie& trie, Place place, Key key) {
  if (key == CompactTrie::kNoKey) return std::nullopt;
  const std::optional<std::size_t> position = trie.last_child_with_key(trie.run_of(place), key);
  if (!position.has_value()) return std::nullopt;
  return trie.place_at(*position, place);
}

std::optional<Place> descend(const CompactTrie& trie, Place place, std::span<const Key> keys) {
  for (const Key key : keys) {
    const std::optional<Place> next = child(trie, place, key);
    if (!next.has_value()) return std::nullopt;
    place = *next;
  }
  return place;
}

// The nodes along `keys` as far as the trie stores them: node k is that of
// the first k keys.
std::vector<Place> path(const CompactTrie& trie, std::span<const Key> keys) {
  std::vector<Place> places{CompactTrie::root()};
  for (const Key key : keys) {
    const std::optional<Place> next = child(trie, places.back(), key);
    if (!next.has_value()) break;
    places.push_back(*next);
  }
  return places;
}

class OneEdit {
 public:
  OneEdit(const CompactTrie& forward, const CompactTrie& backward, std::u32string_view query,
          const SplitFound& found)
      : forward_(forward), backward_(backward), query_(query), found_(found) {
    const std::size_t n = query.size();
    forward_keys_.reserve(n + 1);
    std::vector<Key> backward_keys;
    backward_keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      forward_keys_.push_back(forward.key_of(query[i]).value_or(CompactTrie::kNoKey));
      backward_keys.push_back(backward.key_of(query[n - 1 - i]).value_or(CompactTrie::kNoKey));
    }
    ahead_ = path(forward, forward_keys_);
    behind_ = path(backward, backward_keys);
  }

  void run(bool transpositions) {
    const std::size_t n = query_.size();
    // q[0..i) is stored from the front for i < ahead_.size(), and the rest
    // q[j..n) from the back for j >= first_back.
    const std::size_t most_front = ahead_.size() - 1;
    const std::size_t first_back = n - (behind_.size() - 1);
    if (most_front == n && forward_.has_payload(ahead_[n]))
      found_(std::u32string(query_), *forward_.payload(ahead_[n]), 0);
    // An edit of q[i] leaves q[0..i) in front and q[i + 1..n) behind, a
    // swap of q[i] and q[i + 1] q[i + 2..n).
    for (std::size_t i = first_back >= 2 ? first_back - 2 : 0; i <= most_front && i < n; ++i) {
      const Place front = ahead_[i];
      const std::span<const Key> rest = std::span(forward_keys_).subspan(i + 1);
      if (i + 1 >= first_back) {
        report(descend(forward_, front, rest), [&](std::u32string& text) { text.erase(i, 1); });
        each_common_child(front, behind_[n - i - 1], [&](std::size_t position, char32_t ch) {
          if (ch == query_[i]) return;
          report(descend(forward_, forward_.place_at(position, front), rest),
                 [&](std::u32string& text) { text[i] = ch; });
        });
      }
      if (transpositions && i + 1 < n && query_[i] != query_[i + 1]) {
        const Key swapped[] = {forward_keys_[i + 1], forward_keys_[i]};
        if (const std::optional<Place> past = descend(forward_, front, swapped))
          report(descend(forward_, *past, rest.subspan(1)),
                 [&](std::u32string& text) { std::swap(text[i], text[i + 1]); });
      }
    }
    // An insertion before q[i] leaves q[0..i) in front and q[i..n) behind.
    for (std::size_t i = first_back; i <= most_front; ++i) {
      const Place front = ahead_[i];
      const std::span<const Key> rest = std::span(forward_keys_).subspan(i);
      each_common_child(front, behind_[n - i], [&](std::size_t position, char32_t ch) {
        report(descend(forward_, forward_.place_at(position, front), rest),
               [&](std::u32string& text) { text.insert(i, 1, ch); });
      });
    }
  }

 private:
  // Reports the word at `place`, if there is one, as the query edited by
  // `edit`.
  template <typename Edit>
  void report(std::optional<Place> place, Edit&& edit) {
    ticks_.tick(static_cast<std::uint32_t>(query_.size()));
    if (!place.has_value() || !forward_.has_payload(*place)) return;
    std::u32string text(query_);
    edit(text);
    found_(std::move(text), *forward_.payload(*place), 1);
  }

  // Calls each(position, character) for every child of `front` (a node of
  // the forward trie) whose character labels a child of `back` (a node of
  // the backward trie) too, with its position in the forward trie.
  template <typename Each>
  void each_common_child(Place front, Place back, Each&& each) {
    const Run ahead = forward_.run_of(front), behind = backward_.run_of(back);
    const std::size_t a = ahead.size(), b = behind.size();
    if (a == 0 || b == 0) return;
    ticks_.tick(static_cast<std::uint32_t>(std::min(a, b)));
    // Both runs are in increasing character order.
    if (a > kLopsided * b) {
      join_lopsided(backward_, behind, forward_, ahead,
                    [&](std::size_t p, std::size_t, char32_t ch) { each(p, ch); });
    } else if (b > kLopsided * a) {
      join_lopsided(forward_, ahead, backward_, behind,
                    [&](std::size_t, std::size_t p, char32_t ch) { each(p, ch); });
    } else {
      std::size_t p = ahead.start, q = behind.start;
      while (p < ahead.end && q < behind.end) {
        const char32_t x = forward_.char_at(p), y = backward_.char_at(q);
        if (x < y) {
          ++p;
        } else if (y < x) {
          ++q;
        } else {
          each(p, x);
          ++p;
          ++q;
        }
      }
    }
  }

  const CompactTrie& forward_;
  const CompactTrie& backward_;
  std::u32string_view query_;
  const SplitFound& found_;
  std::vector<Key> forward_keys_;
  std::vector<Place> ahead_, behind_;
  InterruptCheck ticks_;
};

}  // namespace

bool one_edit_pays(std::size_t query_size) {
  return query_size <= kLongestOneEdit;
}

void for_each_one_edit_match(const CompactTrie& forward, const CompactTrie& backward,
                             std::u32string_view query, bool transpositions,
                             const SplitFound& found) {
  OneEdit(forward, backward, query, found).run(transpositions);
}

std::vector<Match> one_edit_search(const CompactTrie& forward, const CompactTrie& backward,
                                   std::u32string_view query, std::optional<std::uint64_t> limit,
                                   bool transpositions) {
  std::vector<FoundText> found;
  for_each_one_edit_match(forward, backward, query, transpositions,
                          [&](std::u32string&& text, Payload payload, Cell distance) {
                            found.push_back({std::move(text), payload, distance});
                          });
  return in_walk_order(query, std::move(found), limit);
}

}  // namespace kelvaro
