#include "format/index_file.h"

#include <array>
#include <cstring>

#include "bits/crc32c.h"
#include "bits/little_endian.h"
#include "codec/byte_reader.h"
#include "format/word_table.h"

namespace kelvaro {
namespace {

constexpr std::uint8_t kMagic[8] = {0x89, 'K', 'V', 'X', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kSections = 5;
constexpr std::uint32_t kKnownFlags = kFlagWeighted | kFlagWordsInTrie;

std::uint64_t load_u64(const std::uint8_t* bytes) {
  return std::uint64_t{le::load_u32(bytes)} | std::uint64_t{le::load_u32(bytes + 4)} << 32;
}

void store_u64(std::uint64_t value, std::uint8_t* out) {
  le::store_u32(static_cast<std::uint32_t>(value), out);
  le::store_u32(static_cast<std::uint32_t>(value >> 32), out + 4);
}

std::uint64_t padding(std::uint64_t size) {
  return (8 - size % 8) % 8;
}

std::string hex(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return "0x" + digits;
}

}  // namespace

std::variant<IndexFile, std::string> read_index_file(std::span<const std::uint8_t> file) {
  if (file.size() < kFileHeaderSize + kFileChecksumSize ||
      std::memcmp(file.data(), kMagic, sizeof kMagic) != 0)
    return std::string("not a kelvaro index");
  const std::uint8_t* header = file.data();
  IndexFile read;
  read.version = le::load_u32(header + 8);
  const std::uint32_t flags = le::load_u32(header + 12);
  read.file_size = load_u64(header + 16);
  if (read.file_size != file.size()) return std::string("corrupted: its size disagrees");
  // The version says which checksum to verify (a version this kelvaro does
  // not know may end in either), and nothing more is believed until one
  // matches.
  const std::span<const std::uint8_t> body = file.first(file.size() - kFileChecksumSize);
  const std::uint32_t checksum = le::load_u32(file.data() + body.size());
  const bool current = read.version != 1 && crc32c(body) == checksum;
  if (!current && !(read.version != kFormatVersion && crc32(body) == checksum))
    return std::string("corrupted: checksum mismatch");
  if (read.version < 1 || read.version > kFormatVersion) {
    std::string refusal =
        "index format version " + std::to_string(read.version) + " is not supported";
    if (read.version > kFormatVersion) refusal += " (written by a newer kelvaro)";
    return refusal + "; this kelvaro reads versions 1 to " + std::to_string(kFormatVersion);
  }
  if ((flags & ~kKnownFlags) != 0)
    return "uses features this kelvaro does not know (flags " + hex(flags) + ")";
  read.weighted = (flags & kFlagWeighted) != 0;
  read.words_in_trie = (flags & kFlagWordsInTrie) != 0;
  read.word_count = load_u64(header + 24);
  read.node_count = load_u64(header + 32);
  // Sizes are summed with room to spare: five sizes below 2^60 cannot wrap,
  // and any one above makes the sum disagree with a real file's size.
  std::uint64_t sizes[kSections], end = kFileHeaderSize;
  for (std::size_t i = 0; i < kSections; ++i) {
    sizes[i] = load_u64(header + 40 + 8 * i);
    if (sizes[i] >= std::uint64_t{1} << 60)
      return std::string("malformed: its sections do not add up to its size");
    end += sizes[i] + (read.version >= 2 ? padding(sizes[i]) : 0);
  }
  if (end + kFileChecksumSize != read.file_size)
    return std::string("malformed: its sections do not add up to its size");
  std::span<const std::uint8_t> sections[kSections];
  std::size_t offset = kFileHeaderSize;
  for (std::size_t i = 0; i < kSections; ++i) {
    sections[i] = body.subspan(offset, sizes[i]);
    offset += sizes[i] + (read.version >= 2 ? padding(sizes[i]) : 0);
  }
  if (!is_well_formed_utf8(sections[0]))
    return std::string("malformed: its normalization is not UTF-8");
  read.normalization =
      std::string_view(reinterpret_cast<const char*>(sections[0].data()), sections[0].size());
  read.tries = sections[1];
  read.words = sections[2];
  read.spelling_keys = sections[3];
  read.spelling_words = sections[4];
  // The image opens with its count of tries and the forward trie's count
  // of nodes, which the header repeats: checked here, so that whatever
  // reads the header alone tells no count the tries do not hold. (The
  // image's own count is checked against its arrays when it is read.)
  if (read.version >= 2) {
    if (read.tries.size() < 16) return std::string("malformed: it is cut short");
    if (load_u64(read.tries.data() + 8) != read.node_count)
      return std::string("malformed: its node counts disagree");
  }
  return read;
}

std::variant<IndexFile, std::string> checked_word_tables(IndexFile file) {
  if (file.words_in_trie && !file.words.empty())
    return std::string("it holds a word table but reads its words from the trie");
  for (const std::span<const std::uint8_t> table : {file.spelling_keys, file.spelling_words})
    if (auto problem = word_table_problem(table)) return "the word table is malformed: " + *problem;
  if (!file.words_in_trie)
    if (auto problem = word_table_problem(file.words))
      return "the word table is malformed: " + *problem;
  const std::uint32_t spellings = word_table_count(file.spelling_keys);
  if (spellings != word_table_count(file.spelling_words))
    return std::string("its spelling tables disagree");
  if (!file.words_in_trie && word_table_count(file.words) != file.word_count)
    return std::string("its word counts disagree");
  if (file.normalization.empty() && spellings > 0)
    return std::string("it lists spellings but has no normalization");
  return file;
}

std::variant<CheckedIndexFile, std::string> read_checked_index_file(
    std::span<const std::uint8_t> bytes) {
  std::variant<IndexFile, std::string> file = read_index_file(bytes);
  if (const std::string* problem = std::get_if<std::string>(&file)) return *problem;
  if (std::get<IndexFile>(file).version != kFormatVersion)
    return "index format version " + std::to_string(std::get<IndexFile>(file).version) +
           " is read by Index.load, not held as it is";
  file = checked_word_tables(std::get<IndexFile>(file));
  if (const std::string* problem = std::get_if<std::string>(&file)) return "malformed: " + *problem;
  CheckedIndexFile checked{std::get<IndexFile>(file), {}};
  std::variant<ImageParts, std::string> tries = read_image(checked.file.tries);
  if (const std::string* problem = std::get_if<std::string>(&tries))
    return "malformed: " + *problem;
  checked.tries = std::get<ImageParts>(tries);
  if (checked.tries.forward.payloads.size() != checked.file.word_count)
    return std::string("malformed: its word count disagrees");
  return checked;
}

static std::array<std::span<const std::uint8_t>, kSections> sections_of(const IndexFile& file) {
  return {std::span<const std::uint8_t>(
              reinterpret_cast<const std::uint8_t*>(file.normalization.data()),
              file.normalization.size()),
          file.tries, file.words, file.spelling_keys, file.spelling_words};
}

std::uint64_t index_file_size(const IndexFile& file) {
  std::uint64_t size = kFileHeaderSize + kFileChecksumSize;
  for (const auto& section : sections_of(file)) size += section.size() + padding(section.size());
  return size;
}

void write_index_file(const IndexFile& file, std::span<std::uint8_t> into) {
  const auto sections = sections_of(file);
  const std::uint64_t size = into.size();
  std::uint8_t* out = into.data();
  std::memset(out, 0, size);
  std::memcpy(out, kMagic, sizeof kMagic);
  le::store_u32(kFormatVersion, out + 8);
  le::store_u32((file.weighted ? kFlagWeighted : 0) | (file.words_in_trie ? kFlagWordsInTrie : 0),
                out + 12);
  store_u64(size, out + 16);
  store_u64(file.word_count, out + 24);
  store_u64(file.node_count, out + 32);
  std::size_t offset = kFileHeaderSize;
  for (std::size_t i = 0; i < kSections; ++i) {
    store_u64(sections[i].size(), out + 40 + 8 * i);
    if (!sections[i].empty()) std::memcpy(out + offset, sections[i].data(), sections[i].size());
    offset += sections[i].size() + padding(sections[i].size());
  }
  le::store_u32(crc32c(std::span<const std::uint8_t>(out, offset)), out + offset);
}

}  // namespace kelvaro
