#include "format/index_image.h"

#include <bit>
#include <cstring>
#include <system_error>
#include <thread>

namespace kelvaro {

static_assert(std::endian::native == std::endian::little,
              "index images are read in place, as little-endian arrays");

namespace {

class Writer {
 public:
  void number(std::uint64_t value) { words_.push_back(value); }
  template <typename T>
  void array(std::span<const T> values) {
    number(values.size());
    const std::size_t bytes = values.size_bytes();
    const std::size_t start = words_.size();
    words_.resize(start + (bytes + 7) / 8, 0);
    if (bytes > 0) std::memcpy(words_.data() + start, values.data(), bytes);
  }
  std::vector<std::uint64_t> take() { return std::move(words_); }

 private:
  std::vector<std::uint64_t> words_;
};

void write_trie(Writer& out, const CompactTrieSpans& t) {
  out.number(t.node_count);
  out.number(t.height);
  out.number(t.rank_width);
  out.array(t.alphabet);
  out.array(t.ranks);
  out.array(t.ends);
  out.array(t.label_end);
  out.array(t.first_child);
  out.array(t.reach);
  out.array(t.has_word);
  out.array(t.payloads);
}

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool number(std::uint64_t& value) {
    if (bytes_.size() - at_ < 8) return false;
    std::memcpy(&value, bytes_.data() + at_, 8);
    at_ += 8;
    return true;
  }
  template <typename T>
  bool array(std::span<const T>& out) {
    std::uint64_t count;
    if (!number(count) || count > (bytes_.size() - at_) / sizeof(T)) return false;
    out = std::span<const T>(reinterpret_cast<const T*>(bytes_.data() + at_), count);
    const std::uint64_t padded = (count * sizeof(T) + 7) / 8 * 8;
    if (padded > bytes_.size() - at_) return false;
    at_ += padded;
    return true;
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

std::optional<std::string> read_trie(Reader& in, CompactTrieSpans& t) {
  std::uint64_t width;
  if (!in.number(t.node_count) || !in.number(t.height) || !in.number(width))
    return "it is cut short";
  if (width > 4) return "its characters have no valid width";
  t.rank_width = static_cast<std::uint32_t>(width);
  if (!in.array(t.alphabet) || !in.array(t.ranks) || !in.array(t.ends) || !in.array(t.label_end) ||
      !in.array(t.first_child) || !in.array(t.reach) || !in.array(t.has_word) ||
      !in.array(t.payloads))
    return "it is cut short";
  return std::nullopt;
}

// Both tries checked for shape; a large reversed trie on a thread of its
// own, which halves the time a big index takes to open. The forward
// trie's problem, if both have one, is the one told.
std::optional<std::string> shape_problem(const ImageParts& parts) {
  constexpr std::size_t kWorthAThread = std::size_t{1} << 20;  // folded nodes
  std::optional<std::string> backward_problem;
  std::thread other;
  const bool aside = parts.backward && parts.backward->label_end.size() >= kWorthAThread;
  if (aside) {
    try {
      other = std::thread([&] { backward_problem = view_problem(*parts.backward); });
    } catch (const std::system_error&) {
      // No thread to be had: the same check, in turn.
    }
  }
  std::optional<std::string> forward_problem = view_problem(parts.forward);
  if (other.joinable())
    other.join();
  else if (parts.backward)
    backward_problem = view_problem(*parts.backward);
  if (forward_problem) return "its trie: " + *forward_problem;
  if (backward_problem) return "its reversed trie: " + *backward_problem;
  return std::nullopt;
}

void write_delete_table(Writer& out, const DeleteTableSpans& table) {
  out.array(table.bucket_starts);
  out.array(table.entries);
  out.array(table.tags);
  out.array(table.text_ends);
  out.array(table.texts);
}

bool read_delete_table(Reader& in, DeleteTableSpans& table) {
  return in.array(table.bucket_starts) && in.array(table.entries) && in.array(table.tags) &&
         in.array(table.text_ends) && in.array(table.texts);
}

}  // namespace

std::vector<std::uint64_t> write_image(const CompactTrieSpans& forward,
                                       const CompactTrieSpans* backward,
                                       std::span<const Payload> best_forward,
                                       const SoundTableSpans* sounds,
                                       const WeightedWordsSpans* weighted_words,
                                       const PairTableSpans* pairs, const DeleteTableSpans* near) {
  Writer out;
  out.number(backward != nullptr ? 2 : 1);
  write_trie(out, forward);
  if (backward != nullptr) write_trie(out, *backward);
  out.array(best_forward);
  if (sounds != nullptr) {
    out.number(1);
    write_trie(out, sounds->keys);
    out.array(sounds->word_starts);
    out.array(sounds->text_ends);
    out.array(sounds->texts);
  }
  if (weighted_words != nullptr) {
    out.number(2);
    write_trie(out, weighted_words->forward);
    write_trie(out, weighted_words->backward);
    out.array(weighted_words->best);
    write_delete_table(out, weighted_words->near);
  }
  if (pairs != nullptr && !pairs->keys.empty()) {
    out.number(3);
    out.array(pairs->keys);
    out.array(pairs->counts);
  }
  if (near != nullptr && backward != nullptr) {
    out.number(4);
    write_delete_table(out, *near);
  }
  return out.take();
}

std::span<const std::uint8_t> aligned(std::span<const std::uint8_t> bytes,
                                      std::vector<std::uint64_t>& copy) {
  if (reinterpret_cast<std::uintptr_t>(bytes.data()) % 8 == 0) return bytes;
  copy.resize((bytes.size() + 7) / 8);
  if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
  return {reinterpret_cast<const std::uint8_t*>(copy.data()), bytes.size()};
}

std::variant<ImageParts, std::string> read_image(std::span<const std::uint8_t> image) {
  if (reinterpret_cast<std::uintptr_t>(image.data()) % 8 != 0) return "it is not aligned";
  Reader in(image);
  std::uint64_t tries;
  if (!in.number(tries)) return "it is cut short";
  if (tries != 1 && tries != 2) return "it holds no valid number of tries";
  ImageParts parts;
  if (auto problem = read_trie(in, parts.forward)) return "its trie: " + *problem;
  if (tries == 2) {
    parts.backward.emplace();
    if (auto problem = read_trie(in, *parts.backward)) return "its reversed trie: " + *problem;
  }
  if (!in.array(parts.best_forward)) return "it is cut short";
  if (!parts.best_forward.empty() && parts.best_forward.size() != parts.forward.label_end.size())
    return "its table of best payloads does not match its trie";
  if (parts.backward.has_value() != !parts.best_forward.empty())
    return "it holds the reversed trie without its table, or the other way round";
  std::uint64_t tag = 0;
  while (!in.done()) {
    // Each section at most once, in order.
    const std::uint64_t last = tag;
    if (!in.number(tag) || tag <= last || tag > 4) return "it has bytes past its end";
    if (tag == 4) {
      if (!read_delete_table(in, parts.near.emplace())) return "it is cut short";
      if (!parts.backward) return "it holds the table of deletions without the reversed trie";
    } else if (tag == 3) {
      PairTableSpans& pairs = parts.pairs.emplace();
      if (!in.array(pairs.keys) || !in.array(pairs.counts)) return "it is cut short";
    } else if (tag == 1) {
      SoundTableSpans& sounds = parts.sounds.emplace();
      if (auto problem = read_trie(in, sounds.keys)) return "its sound keys: " + *problem;
      if (!in.array(sounds.word_starts) || !in.array(sounds.text_ends) || !in.array(sounds.texts))
        return "it is cut short";
    } else {
      WeightedWordsSpans& words = parts.weighted_words.emplace();
      if (auto problem = read_trie(in, words.forward)) return "its weighted trie: " + *problem;
      if (auto problem = read_trie(in, words.backward))
        return "its reversed weighted trie: " + *problem;
      if (!in.array(words.best) || !read_delete_table(in, words.near)) return "it is cut short";
      if (words.best.size() != words.forward.label_end.size())
        return "its weighted trie's best payloads do not match it";
      if (!parts.backward) return "it holds the weighted words' tries without the reversed trie";
    }
  }
  if (auto problem = shape_problem(parts)) return *problem;
  if (parts.sounds)
    if (auto problem = sound_table_problem(*parts.sounds)) return "its " + *problem;
  if (parts.weighted_words) {
    if (auto problem = view_problem(parts.weighted_words->forward))
      return "its weighted trie: " + *problem;
    if (auto problem = view_problem(parts.weighted_words->backward))
      return "its reversed weighted trie: " + *problem;
    if (auto problem = delete_table_problem(parts.weighted_words->near))
      return "its table of deletions: " + *problem;
  }
  if (parts.near) {
    if (auto problem = delete_table_problem(*parts.near))
      return "its table of every word's deletions: " + *problem;
    if (parts.near->text_ends.size() != parts.forward.payloads.size())
      return "its table of every word's deletions does not hold its words";
  }
  // After the trie's shape, which makes its count of payloads its words'.
  if (parts.pairs)
    if (auto problem = pair_table_problem(*parts.pairs, parts.forward.payloads.size()))
      return "its word pairs: " + *problem;
  return parts;
}

}  // namespace kelvaro
