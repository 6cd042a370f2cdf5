// The index file, which is also what an index holds in memory: a mapped
// file is searched where it lies, and an index built or unpickled holds the
// same bytes. Integers are little-endian.
//
//   header    80 bytes:
//               magic            8 bytes  89 4B 56 58 0D 0A 1A 0A
//               format version   u32      2 (1 is still read)
//               flags            u32      bit 0: the values are weights
//                                         bit 1: the words section is empty
//                                         and the words are read from the
//                                         trie (see below)
//               file size        u64      every byte, checksum included
//               word count       u64
//               node count       u64
//               five section sizes, u64 each, in the order below
//   sections  normalization   its name in UTF-8 ("" for none)
//             tries           version 2: the image of the tries and their
//                             lookup tables (index_image.h), and the
//                             index's counts of word pairs, if any, as its
//                             last tagged section; version 1: the
//                             trie in the binary form of _kelvaro's to_bytes
//             words           word table of the words as given, in the
//                             order of their keys; empty with flag bit 1,
//                             since the trie holds the keys and the
//                             spelling tables what the words differ in
//             spelling keys   word table of the keys that normalization changed
//             spelling words  word table of their spellings
//   checksum  u32: version 2, CRC-32C of every byte before it; version 1, CRC-32
//
// In version 2 every section starts 8-byte aligned, zero bytes padding the
// one before it, so that the arrays of a mapped file are read in place.
//
// Every version keeps the magic number, the version, the flags and the file
// size where they are and ends in a checksum, so that a file of any version
// is checked before anything but its version is believed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "format/index_image.h"

namespace kelvaro {

inline constexpr std::uint32_t kFormatVersion = 2;
inline constexpr std::size_t kFileHeaderSize = 80;
inline constexpr std::size_t kFileChecksumSize = 4;
// A reader refuses a file with a flag it does not know, so an older kelvaro
// says so rather than read a weighted index as one without weights.
inline constexpr std::uint32_t kFlagWeighted = 1;
// The words are the trie's keys, spelled as the spelling tables say, and
// the file keeps no table of them: what kelvaro writes since the table
// came to cost an index of short keys as much again as its trie. Files
// written before, which hold the table, are read as they were.
inline constexpr std::uint32_t kFlagWordsInTrie = 2;

// What the header of an intact file says, and its sections in place.
struct IndexFile {
  std::uint32_t version = kFormatVersion;
  bool weighted = false;
  // kFlagWordsInTrie: `words` is empty.
  bool words_in_trie = false;
  std::uint64_t file_size = 0;
  std::uint64_t word_count = 0;
  std::uint64_t node_count = 0;
  std::string_view normalization;
  std::span<const std::uint8_t> tries, words, spelling_keys, spelling_words;
};

// The header and sections of `file`, whose checksum, version, flags and
// section sizes are checked; or why it is refused, as a reader is told
// ("corrupted: checksum mismatch"). The first bytes and the size are
// checked before a file is read (where a wrong size is told apart from a
// wrong checksum), so here they make it only "corrupted".
std::variant<IndexFile, std::string> read_index_file(std::span<const std::uint8_t> file);

// The word tables of a file of the current version checked for shape and
// against its header, or why they are not (a reason that follows
// "malformed: ").
std::variant<IndexFile, std::string> checked_word_tables(IndexFile file);

// A file of the current version checked whole, as an index takes it: its
// header, its word tables and the image of its tries, whose parts are read
// in place.
struct CheckedIndexFile {
  IndexFile file;
  ImageParts tries;
};

// `file`, 8-byte aligned, checked whole, or why it is refused, as a reader
// is told ("corrupted: checksum mismatch", "malformed: ...").
std::variant<CheckedIndexFile, std::string> read_checked_index_file(
    std::span<const std::uint8_t> file);

// The size in bytes of a file of the current version holding these sections.
std::uint64_t index_file_size(const IndexFile& sections);

// Writes a file of the current version holding these sections into `out`,
// whose size must be index_file_size(sections).
void write_index_file(const IndexFile& sections, std::span<std::uint8_t> out);

}  // namespace kelvaro
