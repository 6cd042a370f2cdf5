#include "format/index_sections.h"

#include <algorithm>
#include <utility>

#include "bits/little_endian.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

constexpr std::size_t kWordSize = 4;

// Collects texts joined by newlines, remembering where each ends so that a
// text that holds a newline itself can still be told apart at the end.
class Joiner {
 public:
  void add(std::string_view text) {
    if (!ends_.empty()) text_.push_back('\n');
    text_.append(text);
    ends_.push_back(text_.size());
    separated_ = separated_ && text.find('\n') == std::string_view::npos;
  }

  JoinedText finish() && {
    if (separated_) return {std::move(text_), std::nullopt};
    std::string text;
    std::vector<std::uint32_t> lengths;
    lengths.reserve(ends_.size());
    std::size_t start = 0;
    for (std::size_t end : ends_) {
      std::string_view piece(text_.data() + start, end - start);
      text.append(piece);
      lengths.push_back(static_cast<std::uint32_t>(std::count_if(
          piece.begin(), piece.end(), [](char byte) { return (byte & 0xC0) != 0x80; })));
      start = end + 1;
    }
    return {std::move(text), std::move(lengths)};
  }

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
  bool separated_ = true;
};

bool is_uncased_ascii(std::string_view word) {
  return std::all_of(word.begin(), word.end(), [](char byte) {
    return static_cast<unsigned char>(byte) < 0x80 && !(byte >= 'A' && byte <= 'Z');
  });
}

}  // namespace

WordTableView::WordTableView(std::span<const std::uint8_t> table)
    : table_(table),
      count_(le::load_u32(table.data())),
      text_(table.data() + kWordSize * (std::size_t{count_} + 2)) {}

std::string_view WordTableView::operator[](std::uint32_t index) const {
  const std::uint8_t* offsets = table_.data() + kWordSize;
  const std::uint32_t start = le::load_u32(offsets + kWordSize * index);
  const std::uint32_t end = le::load_u32(offsets + kWordSize * (std::size_t{index} + 1));
  return {reinterpret_cast<const char*>(text_) + start, end - start};
}

std::optional<std::string> index_sections_problem(const Trie& trie, const WordTableView& words,
                                                  const WordTableView& spelling_keys,
                                                  const WordTableView& spelling_words,
                                                  WordsWanted wanted, WordsAndKeys& out) {
  if (spelling_keys.size() != spelling_words.size()) return "its spelling tables differ in length";
  const auto& shifts = trie.node_shifts();
  const auto& chars = trie.node_chars();
  const auto& payloads = trie.node_payloads();
  const std::size_t nodes = shifts.size();
  Joiner word_texts, key_texts;

  // A walk in preorder, children in character order, which is the order of
  // the keys' code points: each entry is a node and the length its parent's
  // path text had. An explicit stack, since a trie can be a million deep.
  std::vector<std::pair<NodeId, std::size_t>> stack{{0, 0}};
  std::string key;
  std::uint32_t word = 0, spelling = 0;
  while (!stack.empty()) {
    const auto [node, parent_length] = stack.back();
    stack.pop_back();
    key.resize(parent_length);
    if (node != 0) utf8::append(key, chars[node].value());
    if (payloads[node].has_value()) {
      if (word == words.size()) return "the trie holds more words than its word table";
      std::string_view spelled = key;
      if (spelling < spelling_keys.size() && spelling_keys[spelling] == key)
        spelled = spelling_words[spelling++];
      if (words[word] != spelled)
        return "word " + std::to_string(word) + " is not the word the trie holds there";
      if (wanted == WordsWanted::kEvery ||
          (wanted == WordsWanted::kCased &&
           (spelled.data() != key.data() || !is_uncased_ascii(key)))) {
        word_texts.add(spelled);
        key_texts.add(key);
        ++out.count;
      }
      ++word;
    }
    // The shape check guarantees the run holds the ids start + 1 .. end.
    const std::size_t start = shifts[node];
    const std::size_t end = node + 1 < nodes ? shifts[node + 1] : nodes - 1;
    for (std::size_t child = end; child > start; --child)
      stack.emplace_back(static_cast<NodeId>(child), key.size());
  }
  if (word != words.size()) return "its word table holds more words than the trie";
  if (spelling != spelling_keys.size())
    return "its spelling tables list a key the trie does not hold";
  out.words = std::move(word_texts).finish();
  out.keys = std::move(key_texts).finish();
  return std::nullopt;
}

}  // namespace kelvaro
