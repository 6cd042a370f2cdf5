#include "folded/compact_trie.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "prefix/internal_error.h"
#include "prefix/interrupt.h"

namespace kelvaro {

void fill_ranks(std::vector<std::uint64_t>& pairs) {
  std::uint64_t before = 0;
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
    pairs[i + 1] = before;
    before += static_cast<std::uint64_t>(std::popcount(pairs[i]));
  }
}

CompactTrieSpans CompactTrieArrays::spans() const {
  return {alphabet, rank_width, ranks,    ends,       label_end, first_child,
          reach,    has_word,   payloads, node_count, height};
}

std::size_t CompactTrieArrays::bytes() const {
  return spans().bytes();
}

namespace {

void set_bit(std::vector<std::uint64_t>& pairs, std::size_t i) {
  pairs[2 * (i >> 6)] |= std::uint64_t{1} << (i & 63);
}

void put_rank(std::vector<std::uint8_t>& ranks, std::uint32_t width, std::uint32_t rank) {
  for (std::uint32_t b = 0; b < width; ++b)
    ranks.push_back(static_cast<std::uint8_t>(rank >> (8 * b)));
}

}  // namespace

CompactTrieArrays compact(const Trie& trie) {
  CompactTrieArrays out;
  const std::size_t n = trie.node_shifts().size();
  if (n == 0) fail("a compact trie needs a root");
  if (!trie.siblings_distinct()) fail("a compact trie needs sorted, distinct siblings");
  const auto& chars = trie.node_chars();
  const auto& payloads = trie.node_payloads();
  InterruptCheck interrupts;

  // The alphabet, and each character's rank in it.
  // Which characters occur: a bitmap for the first 64K code points, which
  // hold nearly all of them, and a sorted list for the rest.
  std::vector<bool> seen(0x10000, false);
  std::vector<char32_t> high;
  for (std::size_t node = 1; node < n; ++node) {
    const char32_t ch = chars[node].value();
    if (ch < 0x10000)
      seen[ch] = true;
    else
      high.push_back(ch);
  }
  for (char32_t ch = 0; ch < 0x10000; ++ch)
    if (seen[ch]) out.alphabet.push_back(ch);
  std::sort(high.begin(), high.end());
  high.erase(std::unique(high.begin(), high.end()), high.end());
  out.alphabet.insert(out.alphabet.end(), high.begin(), high.end());
  const std::size_t letters = out.alphabet.size();
  out.rank_width = letters <= 0x100 ? 1 : letters <= 0x10000 ? 2 : 4;
  // Ranks of the first 64K code points from a table, the rest by search.
  std::vector<std::uint32_t> low_ranks(0x10000, 0);
  for (std::size_t r = 0; r < letters && out.alphabet[r] < 0x10000; ++r)
    low_ranks[out.alphabet[r]] = static_cast<std::uint32_t>(r);
  const auto rank = [&](char32_t ch) {
    if (ch < 0x10000) return low_ranks[ch];
    return static_cast<std::uint32_t>(
        std::lower_bound(out.alphabet.begin(), out.alphabet.end(), ch) - out.alphabet.begin());
  };

  // A node ends its label when it is the root, holds a word, or does not
  // have exactly one child.
  const auto ends_label = [&](NodeId node) {
    return node == 0 || payloads[node].has_value() || trie.run_of(node).size() != 1;
  };

  // The folded trie, breadth first: each folded node's label is laid out
  // when the node is numbered, so labels lie in the order of the numbers.
  std::vector<NodeId> folded{0};  // the original end node of each folded node
  std::vector<std::uint32_t> first_ranks{0};
  std::vector<std::uint32_t> node_ranks;
  node_ranks.reserve(n - 1);
  out.label_end.push_back(0);
  std::uint32_t next_node = 1;
  for (std::size_t k = 0; k < folded.size(); ++k) {
    interrupts.tick();
    out.first_child.push_back(static_cast<std::uint32_t>(folded.size()));
    const Run run = trie.run_of(folded[k]);
    for (std::size_t position = run.start; position < run.end; ++position) {
      NodeId node = trie.child_indices()[position];
      first_ranks.push_back(rank(chars[node].value()));
      for (;;) {
        node_ranks.push_back(rank(chars[node].value()));
        ++next_node;
        if (ends_label(node)) break;
        node = trie.child_indices()[trie.run_of(node).start];
      }
      folded.push_back(node);
      out.label_end.push_back(next_node - 1);
    }
  }
  out.first_child.push_back(static_cast<std::uint32_t>(folded.size()));
  const std::size_t count = folded.size();
  out.ranks.reserve(out.rank_width * (first_ranks.size() + node_ranks.size()));
  for (const std::uint32_t first : first_ranks) put_rank(out.ranks, out.rank_width, first);
  for (const std::uint32_t each : node_ranks) put_rank(out.ranks, out.rank_width, each);

  out.node_count = next_node;
  out.ends.assign(2 * RankedBits::pairs_for(next_node), 0);
  for (const std::uint32_t end : out.label_end) set_bit(out.ends, end);
  fill_ranks(out.ends);
  out.has_word.assign(2 * RankedBits::pairs_for(count), 0);
  for (std::size_t k = 0; k < count; ++k) {
    if (const std::optional<Payload> payload = payloads[folded[k]]) {
      set_bit(out.has_word, k);
      out.payloads.push_back(*payload);
    }
  }
  fill_ranks(out.has_word);

  // What lies below each folded node, children before parents.
  out.reach.assign(2 * count, 0);
  constexpr std::uint32_t kFar = Trie::kFarthest;
  for (std::size_t k = count; k-- > 0;) {
    std::uint32_t nearest = payloads[folded[k]].has_value() ? 0 : kFar;
    std::uint32_t deepest = 0;
    for (std::uint32_t j = out.first_child[k]; j < out.first_child[k + 1]; ++j) {
      const std::uint32_t length = out.label_end[j] - out.label_end[j - 1];
      nearest = std::min(nearest, std::min(kFar, out.reach[2 * j] + length));
      deepest = std::max(deepest, std::min(kFar, out.reach[2 * j + 1] + length));
    }
    out.reach[2 * k] = static_cast<std::uint8_t>(nearest);
    out.reach[2 * k + 1] = static_cast<std::uint8_t>(deepest);
  }
  out.height = trie.height();
  return out;
}

namespace {

// Whether `pairs` are ranked bits over `bits` bits: the right length, no
// bit set past the end, and every rank word the count before it. Their
// count of set bits goes to `set`.
bool ranked_bits_agree(std::span<const std::uint64_t> pairs, std::uint64_t bits,
                       std::uint64_t& set) {
  if (pairs.size() != 2 * RankedBits::pairs_for(bits)) return false;
  set = 0;
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    const std::uint64_t first_bit = 64 * (i / 2);
    const std::uint64_t word = pairs[i];
    if (first_bit + 64 > bits) {
      const std::uint64_t live = bits > first_bit ? bits - first_bit : 0;
      if (live < 64 && (word >> live) != 0) return false;
    }
    if (pairs[i + 1] != set) return false;
    set += static_cast<std::uint64_t>(std::popcount(word));
  }
  return true;
}

// The depth of the deepest node of folded nodes whose children `children`
// checked as a tree numbered breadth first: a folded node's depth is its
// parent's and its label's length. Depths are kept in 16 bits, half the
// memory to write and read again, unless some label path is longer.
template <typename Depth>
std::optional<std::uint64_t> deepest(const std::uint32_t* children, const std::uint32_t* ends,
                                     std::size_t count) {
  // Not zeroed: every entry is written, by its parent, before it is read.
  const std::unique_ptr<Depth[]> depth(new Depth[count]);
  depth[0] = 0;
  std::uint64_t height = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t here = depth[k];
    for (std::size_t j = children[k]; j < children[k + 1]; ++j) {
      const std::uint64_t below = here + (ends[j] - ends[j - 1]);
      if (below > std::numeric_limits<Depth>::max()) return std::nullopt;
      depth[j] = static_cast<Depth>(below);
      height = std::max(height, below);
    }
  }
  return height;
}

std::uint64_t depth_of_deepest(const std::uint32_t* children, const std::uint32_t* ends,
                               std::size_t count) {
  if (const auto height = deepest<std::uint16_t>(children, ends, count)) return *height;
  return *deepest<std::uint32_t>(children, ends, count);
}

}  // namespace

std::optional<std::string> view_problem(const CompactTrieSpans& s) {
  if (s.node_count == 0 || s.node_count > 0xFFFFFFFF) return "its node count is out of range";
  if (s.rank_width != 1 && s.rank_width != 2 && s.rank_width != 4)
    return "its characters have no valid width";
  if (s.alphabet.empty() && s.node_count > 1) return "it has nodes but no alphabet";
  // Characters become text: each must be a Unicode scalar value, and they
  // must be sorted for a character to find its rank.
  for (std::size_t i = 0; i < s.alphabet.size(); ++i) {
    const char32_t ch = s.alphabet[i];
    if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) || (i > 0 && ch <= s.alphabet[i - 1]))
      return "its alphabet is not sorted Unicode characters";
  }
  const std::uint64_t count = s.label_end.size();
  if (count == 0 || s.first_child.size() != count + 1 || s.reach.size() != 2 * count)
    return "its folded nodes disagree in number";
  if (s.ranks.size() != std::uint64_t{s.rank_width} * (s.node_count - 1 + count))
    return "its characters do not match its nodes";
  std::uint64_t ends = 0;
  if (!ranked_bits_agree(s.ends, s.node_count, ends) || ends != count)
    return "its label ends do not match its folded nodes";
  if (s.label_end[0] != 0 || s.label_end[count - 1] != s.node_count - 1)
    return "its labels do not cover its nodes";
  // One flag for the whole array, so that the loop has no exit to take.
  // With as many end bits as labels, a bit set at every label's end means
  // the bits mark exactly the ends, which lookups by node id go by.
  // (A label end past the nodes is out of order, and its bit is not read.)
  const RankedBits end_bits(s.ends);
  const std::uint32_t* ends_at = s.label_end.data();
  const std::uint64_t last = s.node_count - 1;
  unsigned out_of_order = !end_bits.test(0);
  for (std::size_t k = 1; k < count; ++k) {
    const std::uint64_t end = ends_at[k];
    out_of_order |=
        (end <= ends_at[k - 1]) | (end > last) | !end_bits.test(end > last ? last : end);
  }
  if (out_of_order != 0) return "its labels are out of order";
  // Children come after their parent and in one run per parent, the runs
  // back to back from folded node 1: a tree, walked breadth first.
  if (s.first_child[count] != count || (count > 1 && s.first_child[0] != 1))
    return "its children do not cover its folded nodes";
  const std::uint32_t* children = s.first_child.data();
  unsigned misplaced = 0;
  for (std::size_t k = 0; k < count; ++k)
    misplaced |= (children[k] > children[k + 1]) | (children[k] <= k);
  if (misplaced != 0) return "its children are out of order";
  // The walks size their rows by the height, so it must be the real one.
  if (depth_of_deepest(children, ends_at, count) != s.height)
    return "its height is not the depth of its deepest node";
  std::uint64_t words = 0;
  if (!ranked_bits_agree(s.has_word, count, words) || words != s.payloads.size())
    return "its words do not match its payloads";
  return std::nullopt;
}

CompactTrie::CompactTrie(const CompactTrieSpans& s)
    : spans_(s),
      alphabet_(s.alphabet),
      rank_width_(s.rank_width),
      ranks_(s.ranks.data()),
      ends_(s.ends),
      label_end_(s.label_end),
      first_child_(s.first_child),
      reach_(s.reach.data()),
      has_word_(s.has_word),
      payloads_(s.payloads),
      node_count_(s.node_count),
      height_(static_cast<std::size_t>(s.height)),
      inner_(s.label_end.size()) {
  for (char32_t ch = 0; ch < 128; ++ch) {
    const auto it = std::lower_bound(alphabet_.begin(), alphabet_.end(), ch);
    ascii_ranks_[ch] = it != alphabet_.end() && *it == ch
                           ? static_cast<std::uint32_t>(it - alphabet_.begin())
                           : kNoRank;
  }
}

std::optional<std::uint32_t> CompactTrie::rank_of(char32_t wanted) const {
  if (wanted < 128) {
    const std::uint32_t rank = ascii_ranks_[wanted];
    return rank == kNoRank ? std::nullopt : std::optional<std::uint32_t>(rank);
  }
  const auto it = std::lower_bound(alphabet_.begin(), alphabet_.end(), wanted);
  if (it == alphabet_.end() || *it != wanted) return std::nullopt;
  return static_cast<std::uint32_t>(it - alphabet_.begin());
}

std::optional<std::size_t> CompactTrie::last_child_with(Run run, char32_t wanted) const {
  const std::optional<std::uint32_t> rank = rank_of(wanted);
  if (!rank.has_value()) return std::nullopt;
  return last_child_with_key(run, *rank);
}

namespace {

// The position in [low, high) whose rank is `rank`, among ranks that
// increase along the run, or high: a binary search over ranks of one width,
// the width chosen once per search rather than once per probe.
template <typename Rank>
std::size_t find_rank(const std::uint8_t* ranks, std::size_t low, std::size_t high,
                      std::uint32_t rank) {
  const auto at = [&](std::size_t i) {
    Rank value;
    std::memcpy(&value, ranks + sizeof(Rank) * i, sizeof(Rank));
    return static_cast<std::uint32_t>(value);
  };
  const std::size_t end = high;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (at(middle) < rank)
      low = middle + 1;
    else
      high = middle;
  }
  return low < end && at(low) == rank ? low : end;
}

}  // namespace

std::optional<std::size_t> CompactTrie::folded_child_with(Run run, Key rank) const {
  if (run.size() == 0) return std::nullopt;
  // Siblings are distinct and sorted: a binary search on their first ranks.
  std::size_t found;
  switch (rank_width_) {
    case 1:
      found = find_rank<std::uint8_t>(ranks_, run.start, run.end, rank);
      break;
    case 2:
      found = find_rank<std::uint16_t>(ranks_, run.start, run.end, rank);
      break;
    default:
      found = find_rank<std::uint32_t>(ranks_, run.start, run.end, rank);
      break;
  }
  if (found == run.end) return std::nullopt;
  return found;
}

void CompactTrie::children_carrying_keys(Run run, std::span<const Key> wanted,
                                         std::vector<std::size_t>& out) const {
  out.clear();
  if (run.size() > 8 * wanted.size()) {
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const Key key = wanted[i];
      if (key == kNoKey || std::find(wanted.begin(), wanted.begin() + i, key) != wanted.begin() + i)
        continue;
      if (const std::optional<std::size_t> found = last_child_with_key(run, key))
        out.push_back(*found);
    }
    std::sort(out.begin(), out.end());
    return;
  }
  for (std::size_t position = run.start; position < run.end; ++position)
    if (std::find(wanted.begin(), wanted.end(), rank_at(position)) != wanted.end())
      out.push_back(position);
}

void CompactTrie::children_carrying(Run run, std::u32string_view wanted,
                                    std::vector<std::size_t>& out) const {
  out.clear();
  if (run.size() > 8 * wanted.size()) {
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      const char32_t ch = wanted[i];
      if (wanted.substr(0, i).find(ch) != std::u32string_view::npos) continue;
      if (const std::optional<std::size_t> found = last_child_with(run, ch)) out.push_back(*found);
    }
    std::sort(out.begin(), out.end());
    return;
  }
  for (std::size_t position = run.start; position < run.end; ++position)
    if (wanted.find(char_at(position)) != std::u32string_view::npos) out.push_back(position);
}

Trie CompactTrie::unpacked() const {
  const std::size_t n = static_cast<std::size_t>(node_count_);
  std::vector<std::uint32_t> shifts(n);
  std::vector<OptionalChar> chars(n);
  std::vector<std::optional<Payload>> payloads(n);
  std::vector<NodeId> children;
  if (n > 1) children.reserve(n - 1);
  // Breadth first, as the builder numbers the nodes: each node's children
  // take the next numbers, so child_indices is 1, 2, ..., n - 1.
  std::vector<NodeId> order;
  order.reserve(n);
  order.push_back(0);
  InterruptCheck interrupts;
  for (std::size_t i = 0; i < order.size(); ++i) {
    interrupts.tick();
    const NodeId node = order[i];
    shifts[i] = static_cast<std::uint32_t>(children.size());
    payloads[i] = payload(node);
    const Run run = run_of(node);
    for (std::size_t position = run.start; position < run.end; ++position) {
      const NodeId child = child_at(position);
      chars[order.size()] = OptionalChar(char_at(position));
      children.push_back(static_cast<NodeId>(order.size()));
      order.push_back(child);
    }
  }
  return Trie(std::move(shifts), std::move(chars), std::move(payloads), std::move(children));
}

void for_each_key(const CompactTrie& trie,
                  const std::function<void(std::u32string_view, Payload)>& each) {
  for_each_word(trie,
                [&](std::u32string_view key, NodeId node) { each(key, *trie.payload(node)); });
}

void for_each_word(const CompactTrie& trie,
                   const std::function<void(std::u32string_view, NodeId)>& each) {
  // A depth-first walk along one path buffer.
  std::u32string path;
  struct Pending {
    NodeId node;
    std::size_t depth;
  };
  std::vector<Pending> pending{{0, 0}};
  InterruptCheck interrupts;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    interrupts.tick();
    path.resize(next.depth);
    if (next.depth > 0) {
      path[next.depth - 1] = trie.node_char(next.node);
      if (trie.has_payload(next.node)) each(path, next.node);
    }
    const Run run = trie.run_of(next.node);
    for (std::size_t position = run.start; position < run.end; ++position)
      pending.push_back({trie.child_at(position), next.depth + 1});
  }
}

void keys_in_order(const CompactTrie& trie, std::optional<std::u32string_view> after,
                   const std::function<bool(std::u32string_view)>& each) {
  if (trie.empty()) return;
  // The walk goes a folded node at a time: its label's characters lie in
  // order in the pool, so a key costs a few folded nodes, not a step per
  // character. frames.back() runs through the children of the folded node
  // whose label ends the path, which is `depth` long there.
  struct Frame {
    std::size_t next, end, depth;
  };
  std::u32string path;
  std::vector<Frame> frames;
  // Appends the label of folded node k and makes it the deepest frame.
  const auto enter = [&](std::size_t k) {
    const auto [first, last] = trie.label_nodes(k);
    for (NodeId node = first; node <= last; ++node) path.push_back(trie.node_char(node));
    const Run children = trie.folded_children(k);
    frames.push_back({children.start, children.end, path.size()});
  };
  enter(0);
  if (!after) {
    if (trie.folded_has_word(0) && !each(path)) return;
  } else {
    // Down to `after`, each folded node's frame left at the child after the
    // way down, so that the walk goes on with the keys that `after` starts.
    CompactTrie::Place place = CompactTrie::root();
    for (const char32_t ch : *after) {
      const std::optional<CompactTrie::Key> key = trie.key_of(ch);
      const std::optional<std::size_t> position =
          key ? trie.last_child_with_key(trie.run_of(place), *key) : std::nullopt;
      if (!position) return;
      place = trie.place_at(*position, place);
      if (*position < trie.folded_count()) {
        frames.back().next = *position + 1;
        enter(*position);
      }
    }
    // A stored key ends a label; anything else is no key to go on from.
    if (path != *after) return;
  }
  InterruptCheck interrupts;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.end) {
      frames.pop_back();
      if (!frames.empty()) path.resize(frames.back().depth);
      continue;
    }
    const std::size_t child = frame.next++;
    interrupts.tick();
    enter(child);
    if (trie.folded_has_word(child) && !each(path)) return;
  }
}

}  // namespace kelvaro
