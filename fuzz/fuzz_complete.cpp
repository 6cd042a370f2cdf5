// Completion on index tries, against the plain definition.
//
// The input describes a set of words, each with a payload, from which the
// fuzzer builds a trie the way the index builder lays it out (siblings
// distinct and sorted, nodes numbered breadth first) and folds it, as the
// index keeps it, then one completion query. The answer must be, in order, what the definition
// gives: every stored word, the empty one too, with the least distance of
// any of its beginnings to the prefix, kept within max_dist, sorted by
// (distance, -payload, text) or (distance, text), and cut at the limit.
//
// Input layout (make_seeds.py writes it): the word count; per word its
// length, its characters and its payload; a flags byte (1: weighted, 2:
// transpositions); the prefix's length and characters; max_dist; limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "checks.h"
#include "entry_points.h"
#include "fold_checks.h"
#include "folded/best_payloads.h"
#include "input_reader.h"
#include "prefix/trie.h"
#include "prefix/utf8.h"
#include "search/completion.h"

namespace kelvaro::fuzz {
namespace {

// Few characters, so that words share beginnings and prefixes meet them,
// one of each UTF-8 width beyond the first, and one that no word holds.
constexpr char32_t kAlphabet[] = {U'a', U'b', U'c', U'\u00e9', U'\u20ac', U'\U0001f600', U'z'};
constexpr std::size_t kWordLetters = std::size(kAlphabet) - 1;

std::u32string read_text(InputReader& reader, std::size_t letters, std::size_t longest) {
  std::u32string text;
  for (std::size_t i = reader.byte() % (longest + 1); i > 0; --i)
    text.push_back(kAlphabet[reader.byte() % letters]);
  return text;
}

// Nodes numbered by (depth, text), so that numbering and text order differ.
Trie build_trie(const std::map<std::u32string, Payload>& words) {
  std::vector<std::u32string> texts{U""};
  for (const auto& [word, payload] : words)
    for (std::size_t k = 1; k <= word.size(); ++k) texts.push_back(word.substr(0, k));
  std::sort(texts.begin(), texts.end(), [](const std::u32string& a, const std::u32string& b) {
    return std::make_tuple(a.size(), std::u32string_view(a)) <
           std::make_tuple(b.size(), std::u32string_view(b));
  });
  texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
  std::map<std::u32string, NodeId> ids;
  std::vector<std::vector<NodeId>> children(texts.size());
  std::vector<OptionalChar> chars;
  std::vector<std::optional<Payload>> payloads;
  for (NodeId id = 0; id < texts.size(); ++id) {
    const std::u32string& text = texts[id];
    ids[text] = id;
    chars.push_back(text.empty() ? OptionalChar() : OptionalChar(text.back()));
    const auto word = words.find(text);
    payloads.push_back(word == words.end() ? std::nullopt : std::optional(word->second));
    if (!text.empty()) children[ids.at(text.substr(0, text.size() - 1))].push_back(id);
  }
  std::vector<std::uint32_t> shifts;
  std::vector<NodeId> child_indices;
  for (const std::vector<NodeId>& run : children) {
    shifts.push_back(static_cast<std::uint32_t>(child_indices.size()));
    child_indices.insert(child_indices.end(), run.begin(), run.end());
  }
  return Trie(std::move(shifts), std::move(chars), std::move(payloads), std::move(child_indices));
}

// The full table, with or without swaps of neighbours.
std::uint64_t distance(std::u32string_view a, std::u32string_view b, bool transpositions) {
  std::vector<std::vector<std::uint64_t>> d(a.size() + 1, std::vector<std::uint64_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) {
    for (std::size_t j = 0; j <= b.size(); ++j) {
      if (i == 0 || j == 0) {
        d[i][j] = i + j;
        continue;
      }
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (transpositions && i >= 2 && j >= 2 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::vector<Completion> reference(const std::map<std::u32string, Payload>& words,
                                  std::u32string_view prefix, std::uint64_t max_dist,
                                  std::optional<std::uint64_t> limit, bool weighted,
                                  bool transpositions) {
  struct Found {
    std::uint64_t distance;
    Payload payload;
    std::u32string text;
  };
  std::vector<Found> found;
  for (const auto& [word, payload] : words) {
    std::uint64_t least = distance(U"", prefix, transpositions);
    for (std::size_t k = 1; k <= word.size(); ++k)
      least =
          std::min(least, distance(std::u32string_view(word).substr(0, k), prefix, transpositions));
    if (least <= max_dist) found.push_back({least, payload, word});
  }
  std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) {
    const Payload pa = weighted ? a.payload : 0;
    const Payload pb = weighted ? b.payload : 0;
    return std::make_tuple(a.distance, pb, std::u32string_view(a.text)) <
           std::make_tuple(b.distance, pa, std::u32string_view(b.text));
  });
  if (limit.has_value() && found.size() > *limit) found.resize(*limit);
  std::vector<Completion> out;
  for (const Found& f : found) out.push_back({utf8::encode(f.text), f.payload, f.distance});
  return out;
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  std::map<std::u32string, Payload> words;
  for (std::size_t count = reader.byte() % 32; count > 0; --count) {
    std::u32string word = read_text(reader, kWordLetters, 6);
    // Small payloads, so that they tie, and now and then any.
    Payload payload = reader.u32();
    if (payload < 0xFF) payload %= 6;
    words[std::move(word)] = payload;
  }
  const std::uint8_t flags = reader.byte();
  const bool weighted = flags & 1;
  const bool transpositions = flags & 2;
  const std::u32string prefix = read_text(reader, std::size(kAlphabet), 8);
  // Small distances, where the band is narrow, and sometimes one beyond
  // any word.
  const std::uint8_t distance_byte = reader.byte();
  const std::uint64_t max_dist = distance_byte < 250 ? distance_byte % 4 : distance_byte;
  const std::uint8_t limit_byte = reader.byte();
  const std::optional<std::uint64_t> limit =
      limit_byte == 0 ? std::nullopt : std::optional<std::uint64_t>((limit_byte - 1) % 12);

  const Trie trie = build_trie(words);
  require(trie.is_tree() && trie.runs_sorted(), "a built trie is not tree-shaped and sorted");
  const CompactTrieArrays arrays = fold(trie);
  const CompactTrie folded(arrays.spans());
  const std::vector<Payload> best = best_payloads_below(folded);
  require(complete(folded, PerFolded(folded, best), prefix, max_dist, limit, weighted,
                   transpositions) ==
              reference(words, prefix, max_dist, limit, weighted, transpositions),
          "complete differs from the reference");
}

}  // namespace kelvaro::fuzz
