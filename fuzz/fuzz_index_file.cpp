// An index file as the loader reads it, and lookups on whatever it accepts.
//
// The input is the raw bytes of an index file of version 2 (the layout is
// in src/format/index_file.h). Its last four bytes are first replaced by
// the CRC-32C of the rest, as if a damaged file had been signed again:
// otherwise nearly every mutation would stop at the checksum. The file is
// then checked by the loader itself (read_checked_index_file). Whatever
// passes is searched in place, as a mapped file is, and no lookup on it may
// fail, loop or read outside the sections. For the lookups each section is
// copied into a buffer of its own, so that a read past one is a read past
// its buffer. The queries are a few fixed ones and the first words of
// the word tables, whole and with their first character left out.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "bits/crc32c.h"
#include "checks.h"
#include "codec/byte_reader.h"
#include "entry_points.h"
#include "format/index_file.h"
#include "format/index_image.h"
#include "format/word_table.h"
#include "index/word_index.h"
#include "prefix/utf8.h"

namespace kelvaro::fuzz {
namespace {

// Whatever the file holds, the package makes each match's text a str, so
// it must be UTF-8, and a limit holds.
void check_matches(const std::vector<Match>& matches, std::optional<std::uint64_t> limit) {
  require(!limit || matches.size() <= *limit, "a lookup returned more than its limit");
  for (const Match& match : matches)
    require(is_well_formed_utf8(
                {reinterpret_cast<const std::uint8_t*>(match.text.data()), match.text.size()}),
            "a match whose text is not UTF-8");
}

void check_lookups(const WordIndex& index, std::u32string_view query) {
  index.get(query);
  for (std::uint64_t max_dist = 0; max_dist <= 2; ++max_dist) {
    check_matches(index.search(query, max_dist, std::nullopt, false, false), std::nullopt);
    check_matches(index.search(query, max_dist, std::nullopt, true, true), std::nullopt);
    check_matches(index.search(query, max_dist, 1, false, true), 1);
    check_matches(index.search(query, max_dist, 2, true, false), 2);
    check_matches(index.suggest(query, max_dist, 3), 3);
    check_matches(index.complete(query, max_dist, 3, max_dist == 1), 3);
  }
}

// A copy of `section` in a buffer of its own, 8-byte aligned.
std::vector<std::uint64_t> own_copy(std::span<const std::uint8_t> section) {
  std::vector<std::uint64_t> copy((section.size() + 7) / 8);
  if (!section.empty()) std::memcpy(copy.data(), section.data(), section.size());
  return copy;
}

std::span<const std::uint8_t> bytes_of(const std::vector<std::uint64_t>& words, std::size_t size) {
  return {reinterpret_cast<const std::uint8_t*>(words.data()), size};
}

}  // namespace

void run(std::span<const std::uint8_t> input) {
  if (input.size() < kFileHeaderSize + kFileChecksumSize) return;
  std::vector<std::uint64_t> file = own_copy(input);
  const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(file.data()), input.size());
  const std::size_t body = bytes.size() - kFileChecksumSize;
  const std::uint32_t checksum = crc32c(bytes.first(body));
  std::memcpy(bytes.data() + body, &checksum, kFileChecksumSize);
  const std::variant<CheckedIndexFile, std::string> read = read_checked_index_file(bytes);
  const CheckedIndexFile* checked = std::get_if<CheckedIndexFile>(&read);
  if (checked == nullptr) return;

  // The accepted sections, each in a buffer of its own, read again there.
  const IndexFile& sections = checked->file;
  const std::vector<std::uint64_t> image = own_copy(sections.tries);
  const std::variant<ImageParts, std::string> again =
      read_image(bytes_of(image, sections.tries.size()));
  const ImageParts* parts = std::get_if<ImageParts>(&again);
  require(parts != nullptr, "the image read differently from its own buffer");
  const std::vector<std::uint8_t> words(sections.words.begin(), sections.words.end());
  const std::vector<std::uint8_t> keys(sections.spelling_keys.begin(),
                                       sections.spelling_keys.end());
  const std::vector<std::uint8_t> spellings(sections.spelling_words.begin(),
                                            sections.spelling_words.end());

  const CompactTrie forward(parts->forward);
  std::optional<CompactTrie> backward;
  WordIndex::Saved saved;
  if (parts->backward.has_value()) {
    backward.emplace(*parts->backward);
    saved = {&*backward,   parts->best_forward, std::nullopt, parts->weighted_words,
             parts->pairs, parts->near};
  }
  saved.sounds = parts->sounds;
  const WordIndex index(forward, keys, spellings, sections.weighted, saved);

  for (const std::u32string_view query : {U"", U"ab", U"\u00e9a"}) check_lookups(index, query);
  for (const std::vector<std::uint8_t>* table : {&words, &keys}) {
    for (std::uint32_t i = 0; i < 2 && i < word_table_count(*table); ++i) {
      const std::u32string word = utf8::decode(word_table_word(*table, i));
      check_lookups(index, word);
      if (!word.empty()) check_lookups(index, std::u32string_view(word).substr(1));
    }
  }
  forward.unpacked();
  index.backward().unpacked();
}

}  // namespace kelvaro::fuzz
