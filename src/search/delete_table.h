// The words within two edits of a typed word, found by what is left of
// them after deleting characters rather than by a walk.
//
// A stored word is within two edits of a typed text, a swap of neighbours
// counting as one, only if deleting at most two characters from each makes
// the same text: a substitution is a deletion from both, a letter left out
// or typed too many a deletion from one, and a swap a deletion of the same
// letter from both. So every text made by deleting up to two characters of
// a stored word is filed under its hash, and a lookup hashes the same
// deletions of the typed text: about thirty lookups for a word of eight
// letters, where a walk of the trie at two edits visits thousands of nodes.
// Words filed under a hash may be further away (or collide), so the caller
// measures each.
//
// The table costs about fifty entries of four or five bytes per word of
// nine letters, so an index keeps one only for the few words that
// suggestions look through first (the words with a weight of a dictionary
// with counts for its common words), or for the words of a dictionary.
//
//   buckets: the hash's top `bits` bits choose a bucket; bucket b's entries
//            are entries[bucket_starts[b]] .. [bucket_starts[b+1]], each
//            with the hash's next bits as a tag, which turns away nearly
//            every word of another deletion in the bucket before it is
//            read. Tagged, the entries are word numbers and the tags eight
//            bits each in `tags`, about two entries a bucket; packed (no
//            tags), an entry holds the word number in its top bits and the
//            tag in the rest, 32 bits in all, about eight entries a bucket,
//            which takes half the memory for a few more entries read
//   words:   word i is the UTF-8 bytes texts[text_ends[i-1]] .. [text_ends[i]]
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvaro {

// How many characters a lookup may delete: the table finds what is within
// this many edits.
inline constexpr std::size_t kDeleteReach = 2;

struct DeleteTableSpans {
  std::span<const std::uint32_t> bucket_starts;  // 2^bits + 1
  std::span<const std::uint32_t> entries;
  std::span<const std::uint8_t> tags;        // one per entry, or none when packed
  std::span<const std::uint32_t> text_ends;  // one per word
  std::span<const std::uint8_t> texts;

  std::size_t bytes() const {
    return bucket_starts.size_bytes() + entries.size_bytes() + tags.size_bytes() +
           text_ends.size_bytes() + texts.size_bytes();
  }
};

struct DeleteTableArrays {
  std::vector<std::uint32_t> bucket_starts;
  std::vector<std::uint32_t> entries;
  std::vector<std::uint8_t> tags;
  std::vector<std::uint32_t> text_ends;
  std::vector<std::uint8_t> texts;

  DeleteTableSpans spans() const { return {bucket_starts, entries, tags, text_ends, texts}; }
};

enum class DeleteLayout { tagged, packed };

// The table of `words`, each well-formed UTF-8, at most kMostPackedWords of
// them when packed. Interruptible.
DeleteTableArrays make_delete_table(std::span<const std::string_view> words,
                                    DeleteLayout layout = DeleteLayout::tagged);

// A packed entry keeps at least eight bits of tag.
inline constexpr std::size_t kMostPackedWords = std::size_t{1} << 24;

// What is wrong with a table read from outside, or nothing: after this, no
// lookup reads outside it, and every word decodes.
std::optional<std::string> delete_table_problem(const DeleteTableSpans& spans);

class DeleteTable {
 public:
  // `spans` must have passed delete_table_problem, or come from
  // make_delete_table.
  explicit DeleteTable(const DeleteTableSpans& spans);

  // The longest text a lookup takes: a longer one has hundreds of
  // deletions, and a walk does better.
  static constexpr std::size_t kLongestTyped = 24;

  // Whether a lookup of `typed` within `max_dist` is one this table
  // answers: max_dist within its reach, and a text short enough that its
  // deletions stay few.
  static bool answers(std::u32string_view typed, std::uint64_t max_dist);

  // Calls each(number, word) once for every word filed under a deletion of
  // up to max_dist characters of `typed` (answers() must hold): every word
  // within max_dist edits among them. The word is valid during the call.
  void for_each_near(std::u32string_view typed, std::uint64_t max_dist,
                     const std::function<void(std::uint32_t, std::u32string_view)>& each) const;

  const DeleteTableSpans& spans() const { return spans_; }

 private:
  DeleteTableSpans spans_;
  unsigned bits_ = 0;
  // Packed: the bits of each entry below its word number, or 0 when tagged.
  unsigned tag_bits_ = 0;
};

}  // namespace kelvaro
