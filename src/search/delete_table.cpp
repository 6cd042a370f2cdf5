#include "search/delete_table.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "codec/byte_reader.h"
#include "prefix/interrupt.h"
#include "prefix/utf8.h"

namespace kelvaro {
namespace {

// FNV-1a over the characters, which spreads the top bits well enough for
// buckets, in steps: a state carried over the characters, then mixed.
constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;

std::uint64_t hash_step(std::uint64_t state, char32_t ch) {
  return (state ^ ch) * 0x100000001b3ull;
}

std::uint64_t hash_end(std::uint64_t state) {
  // Mix the low bits, which the multiplications fill last, into the top.
  state ^= state >> 29;
  state *= 0xbf58476d1ce4e5b9ull;
  return state ^ (state >> 32);
}

std::uint64_t hash_of(std::u32string_view text) {
  std::uint64_t state = kHashStart;
  for (const char32_t ch : text) state = hash_step(state, ch);
  return hash_end(state);
}

// The state after the characters of text[from, to).
std::uint64_t hash_on(std::uint64_t state, std::u32string_view text, std::size_t from,
                      std::size_t to) {
  for (std::size_t k = from; k < to; ++k) state = hash_step(state, text[k]);
  return state;
}

// The distinct hashes of the texts made by deleting up to `reach` (at most
// kDeleteReach) characters of `text`: what a word is filed under, and what
// a lookup looks under. Each deletion is hashed from the state before its
// first gap, so no text is made and no prefix hashed twice.
void deletion_hashes(std::u32string_view text, std::size_t reach, std::vector<std::uint64_t>& out) {
  out.clear();
  out.push_back(hash_of(text));
  std::uint64_t before_a = kHashStart;  // the state over text[0, a)
  for (std::size_t a = 0; reach >= 1 && a < text.size(); ++a) {
    out.push_back(hash_end(hash_on(before_a, text, a + 1, text.size())));
    std::uint64_t before_b = before_a;  // the state over text[0, b) without text[a]
    for (std::size_t b = a + 1; reach >= 2 && b < text.size(); ++b) {
      out.push_back(hash_end(hash_on(before_b, text, b + 1, text.size())));
      before_b = hash_step(before_b, text[b]);
    }
    before_a = hash_step(before_a, text[a]);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

unsigned bits_for(std::size_t entries, std::size_t per_bucket) {
  const std::size_t buckets = std::max<std::size_t>(1, entries / per_bucket);
  return std::min(28u, static_cast<unsigned>(std::bit_width(buckets - 1)));
}

// The bits of a packed entry below its word number, for a table of `words`.
unsigned packed_tag_bits(std::size_t words) {
  return 32u - std::max(1u, static_cast<unsigned>(std::bit_width(words - (words > 0))));
}

unsigned bits_of(std::size_t bucket_starts) {
  return static_cast<unsigned>(std::bit_width(bucket_starts - 1) - 1);
}

std::size_t bucket_of(std::uint64_t hash, unsigned bits) {
  return bits == 0 ? 0 : static_cast<std::size_t>(hash >> (64 - bits));
}

std::uint8_t tag_of(std::uint64_t hash, unsigned bits) {
  return static_cast<std::uint8_t>(hash >> (56 - bits));
}

std::uint32_t packed_tag_of(std::uint64_t hash, unsigned bits, unsigned tag_bits) {
  return static_cast<std::uint32_t>(hash >> (64 - bits - tag_bits)) &
         ((std::uint32_t{1} << tag_bits) - 1);
}

// Asks for the cache line of `at` to be fetched, without waiting for it.
void prefetch(const void* at) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(at);
#else
  (void)at;
#endif
}

}  // namespace

DeleteTableArrays make_delete_table(std::span<const std::string_view> words, DeleteLayout layout) {
  const bool packed = layout == DeleteLayout::packed;
  DeleteTableArrays table;
  // Each word's deletions, hashed, without duplicates; then the entries
  // placed bucket by bucket, in the order of the words within each.
  struct Filed {
    std::uint64_t hash;
    std::uint32_t word;
  };
  std::vector<Filed> filed;
  std::vector<std::uint64_t> hashes;
  InterruptCheck interrupts;
  for (std::uint32_t i = 0; i < words.size(); ++i) {
    interrupts.tick();
    table.texts.insert(table.texts.end(), words[i].begin(), words[i].end());
    table.text_ends.push_back(static_cast<std::uint32_t>(table.texts.size()));
    deletion_hashes(utf8::decode(words[i]), kDeleteReach, hashes);
    for (const std::uint64_t hash : hashes) filed.push_back({hash, i});
  }
  const unsigned bits = bits_for(filed.size(), packed ? 8 : 2);
  const unsigned tag_bits = packed ? packed_tag_bits(words.size()) : 0;
  table.bucket_starts.assign((std::size_t{1} << bits) + 1, 0);
  for (const Filed& each : filed) ++table.bucket_starts[bucket_of(each.hash, bits) + 1];
  for (std::size_t b = 1; b < table.bucket_starts.size(); ++b)
    table.bucket_starts[b] += table.bucket_starts[b - 1];
  table.entries.resize(filed.size());
  if (!packed) table.tags.resize(filed.size());
  std::vector<std::uint32_t> next(table.bucket_starts.begin(), table.bucket_starts.end() - 1);
  for (const Filed& each : filed) {
    const std::uint32_t at = next[bucket_of(each.hash, bits)]++;
    if (packed) {
      table.entries[at] = each.word << tag_bits | packed_tag_of(each.hash, bits, tag_bits);
    } else {
      table.entries[at] = each.word;
      table.tags[at] = tag_of(each.hash, bits);
    }
  }
  return table;
}

std::optional<std::string> delete_table_problem(const DeleteTableSpans& spans) {
  const std::size_t buckets = spans.bucket_starts.size();
  if (buckets < 2 || !std::has_single_bit(buckets - 1) || buckets - 1 > (std::size_t{1} << 28))
    return std::string("its bucket count is not a power of two");
  if (spans.bucket_starts.front() != 0 || spans.bucket_starts.back() != spans.entries.size())
    return std::string("its buckets do not cover its entries");
  const bool packed = spans.tags.empty();
  if (!packed && spans.tags.size() != spans.entries.size())
    return std::string("its tags do not match its entries");
  const std::size_t words = spans.text_ends.size();
  if (packed && words > kMostPackedWords) return std::string("it has too many words to pack");
  if ((words > 0 ? spans.text_ends.back() : 0) != spans.texts.size())
    return std::string("its word ends do not cover its texts");
  // A packed table is an index's whole dictionary, tens of megabytes that a
  // mapped index must not read through on opening: its lookups check each
  // bucket, entry and word they read instead (for_each_near).
  if (packed) return std::nullopt;
  if (!std::is_sorted(spans.bucket_starts.begin(), spans.bucket_starts.end()))
    return std::string("its buckets do not cover its entries");
  for (const std::uint32_t word : spans.entries)
    if (word >= words) return std::string("an entry names no word");
  if (!std::is_sorted(spans.text_ends.begin(), spans.text_ends.end()))
    return std::string("its word ends do not cover its texts");
  for (std::size_t i = 0, start = 0; i < words; start = spans.text_ends[i++])
    if (!is_well_formed_utf8(spans.texts.subspan(start, spans.text_ends[i] - start)))
      return std::string("a word is not UTF-8");
  return std::nullopt;
}

DeleteTable::DeleteTable(const DeleteTableSpans& spans)
    : spans_(spans),
      bits_(bits_of(spans.bucket_starts.size())),
      tag_bits_(spans.tags.empty() ? packed_tag_bits(spans.text_ends.size()) : 0) {}

bool DeleteTable::answers(std::u32string_view typed, std::uint64_t max_dist) {
  return max_dist <= kDeleteReach && typed.size() <= kLongestTyped;
}

void DeleteTable::for_each_near(
    std::u32string_view typed, std::uint64_t max_dist,
    const std::function<void(std::uint32_t, std::u32string_view)>& each) const {
  thread_local std::vector<std::uint64_t> hashes;
  thread_local std::vector<std::uint32_t> found;
  // Not thread_local: in a shared library, reaching one is a call to the
  // runtime, for each character written to it.
  std::u32string text;
  text.reserve(4 * (typed.size() + max_dist));
  // A deletion looked up costs about a node, an entry scanned an eighth of
  // one, and a word measured about a node a character.
  InterruptCheck interrupts;
  deletion_hashes(typed, max_dist, hashes);
  interrupts.tick(static_cast<std::uint32_t>(hashes.size()));
  // The buckets lie scattered over a table of tens of megabytes, each a
  // miss of the cache: asking for all of them first lets the memory fetch
  // them together rather than one after the other.
  for (const std::uint64_t hash : hashes) prefetch(&spans_.bucket_starts[bucket_of(hash, bits_)]);
  for (const std::uint64_t hash : hashes) {
    const std::uint32_t first = spans_.bucket_starts[bucket_of(hash, bits_)];
    if (first < spans_.entries.size()) prefetch(&spans_.entries[first]);
  }
  found.clear();
  for (const std::uint64_t hash : hashes) {
    const std::size_t bucket = bucket_of(hash, bits_);
    const std::uint32_t first = spans_.bucket_starts[bucket],
                        end = spans_.bucket_starts[bucket + 1];
    // Bounds that a packed table read from outside was not checked for.
    if (first > end || end > spans_.entries.size()) continue;
    interrupts.tick(1 + (end - first) / 8);
    if (tag_bits_ == 0) {
      const std::uint8_t tag = tag_of(hash, bits_);
      for (std::uint32_t e = first; e < end; ++e)
        if (spans_.tags[e] == tag) found.push_back(spans_.entries[e]);
    } else {
      const std::uint32_t tag = packed_tag_of(hash, bits_, tag_bits_);
      const std::uint32_t mask = (std::uint32_t{1} << tag_bits_) - 1;
      for (std::uint32_t e = first; e < end; ++e)
        if ((spans_.entries[e] & mask) == tag) found.push_back(spans_.entries[e] >> tag_bits_);
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  const std::size_t words = spans_.text_ends.size();
  // The same for the words' ends and then their texts.
  for (const std::uint32_t word : found)
    if (word < words) prefetch(&spans_.text_ends[word == 0 ? 0 : word - 1]);
  for (const std::uint32_t word : found) {
    if (word >= words) break;
    const std::uint32_t start = word == 0 ? 0 : spans_.text_ends[word - 1];
    if (start < spans_.texts.size()) prefetch(&spans_.texts[start]);
  }
  for (const std::uint32_t word : found) {
    if (word >= words) break;  // sorted: the rest are out of range too
    const std::uint32_t start = word == 0 ? 0 : spans_.text_ends[word - 1];
    if (start > spans_.text_ends[word] || spans_.text_ends[word] > spans_.texts.size()) continue;
    const std::size_t size = spans_.text_ends[word] - start;
    interrupts.tick(1 + static_cast<std::uint32_t>(std::min<std::size_t>(size, 1u << 20)));
    // A word of too few bytes, or of too many to be short enough even in
    // characters of four bytes, differs in length by more than max_dist.
    if (size + max_dist < typed.size() || size > 4 * (typed.size() + max_dist)) continue;
    const auto bytes = spans_.texts.subspan(start, size);
    if (tag_bits_ != 0 && !is_well_formed_utf8(bytes)) continue;
    const std::string_view utf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    text.clear();
    for (std::size_t pos = 0; pos < utf8.size();) text.push_back(utf8::decode_next(utf8, pos));
    each(word, text);
  }
}

}  // namespace kelvaro
