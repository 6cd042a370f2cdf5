// Segmentation of text against the plain version it stands in for
// (segmentation_reference.h): the same pieces, words, distances and cost,
// to the last bit, whatever the words, their weights, the pairs counted,
// the case of the text and the reach of a correction.
//
// The input is a word list over a small alphabet with capitals and both
// apostrophes, built into a weighted index trie and folded as the index
// keeps it; a weight per word; pairs of word numbers with their counts;
// a flags byte; then texts over the same alphabet, each cut from a start to
// an end with a max_dist.
//
// Input layout: the word count; per word its length and characters; a byte
// of weight per word; the pair count and per pair its two words and count;
// flags (bit 0: the index normalises, bit 1: pieces cost a space each);
// then per text its length and characters, start, end and max_dist, one
// byte each.
#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "build/trie_builder.h"
#include "checks.h"
#include "entry_points.h"
#include "fold_checks.h"
#include "index/word_index.h"
#include "input_reader.h"
#include "prefix/utf8.h"
#include "segmentation_reference.h"
#include "text/segmentation.h"

namespace kelvaro::fuzz {
namespace {

// Few letters, so that words run into each other; capitals, which the
// folded view lowers; and the typographic apostrophe, which the text
// functions read as the plain one.
constexpr char32_t kTextAlphabet[] = {U'a', U'b', U'c', U'A', U'B', U'\'', U'\u2019'};

std::u32string read_text(InputReader& reader, std::size_t longest) {
  std::u32string text;
  for (std::size_t i = reader.byte() % (longest + 1); i > 0; --i)
    text.push_back(kTextAlphabet[reader.byte() % std::size(kTextAlphabet)]);
  return text;
}

char32_t lowered(char32_t ch) {
  return ch == U'A' || ch == U'B' ? ch + (U'a' - U'A') : ch;
}

bool same_pieces(const text::Segmentation& found, const text::Segmentation& expected) {
  if (found.cost != expected.cost || found.pieces.size() != expected.pieces.size()) return false;
  for (std::size_t i = 0; i < found.pieces.size(); ++i) {
    const text::Piece& a = found.pieces[i];
    const text::Piece& b = expected.pieces[i];
    if (a.start != b.start || a.end != b.end || a.distance != b.distance ||
        a.word.has_value() != b.word.has_value())
      return false;
    if (a.word.has_value() && (a.word->key != b.word->key || a.word->payload != b.word->payload))
      return false;
  }
  return true;
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  InputReader reader(input);
  std::vector<std::string> words;
  for (std::size_t i = 1 + reader.byte() % 24; i > 0; --i) {
    const std::u32string word = read_text(reader, 6);
    if (!word.empty()) words.push_back(utf8::encode(word));
  }
  if (words.empty()) return;
  const std::vector<std::string_view> keys(words.begin(), words.end());
  std::vector<Payload> values;
  for (std::size_t i = 0; i < keys.size(); ++i) values.push_back(reader.byte());
  const BuiltTrie built = build_trie(keys, values);
  const CompactTrieArrays arrays = fold(built.trie);
  const CompactTrie forward(arrays.spans());
  const auto word_count = static_cast<std::uint32_t>(forward.payloads().size());

  std::set<std::uint64_t> pair_keys;
  for (std::size_t i = reader.byte() % 32; i > 0; --i) {
    const std::uint32_t first = reader.byte() % word_count;
    pair_keys.insert(pair_key(first, reader.byte() % word_count));
  }
  const std::vector<std::uint64_t> sorted_keys(pair_keys.begin(), pair_keys.end());
  std::vector<std::uint32_t> counts;
  for (std::size_t i = 0; i < sorted_keys.size(); ++i) counts.push_back(1 + reader.byte());
  const std::uint8_t flags = reader.byte();
  const bool normalized = flags & 1;
  const double piece_cost = flags & 2 ? text::kSpaceCost : 0;

  static const std::uint8_t kNoWords[8] = {};
  WordIndex::Saved saved;
  if (!sorted_keys.empty()) saved.pairs = PairTableSpans{sorted_keys, counts};
  const WordIndex index(forward, kNoWords, kNoWords, true, saved);
  const text::TextIndex text_index(index, normalized);
  const WordIndex::WeightTotals totals = index.weight_totals();
  text::WordCosts costs = text::WordCosts::weighted(totals.total, totals.least);
  costs.use_pairs(index.pairs());

  for (int texts = 1 + reader.byte() % 3; texts > 0; --texts) {
    const std::u32string written = read_text(reader, 24);
    std::u32string folded;
    for (const char32_t ch : written) folded.push_back(lowered(ch));
    const text::TextViews views{written, folded};
    const std::size_t start = reader.byte() % (written.size() + 1);
    const std::size_t end = start + reader.byte() % (written.size() - start + 1);
    const std::uint64_t max_dist = reader.byte() % 3;
    require(
        same_pieces(
            text::segment_span(text_index, views, start, end, costs, max_dist, piece_cost),
            reference::segment_span(text_index, views, start, end, costs, max_dist, piece_cost)),
        "the segmentation differs from the plain one");
  }
}

}  // namespace kelvaro::fuzz
