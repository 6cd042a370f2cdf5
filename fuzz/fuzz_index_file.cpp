// An index file as the loader reads it, and lookups on whatever it accepts.
//
// The input is the raw bytes of an index file of version 2 (the layout is
// in src/kelvaro/_storage.py). Its last four bytes are first replaced by
// the CRC-32C of the rest, as if a damaged file had been signed again:
// otherwise nearly every mutation would stop at the checksum. The file is
// then checked as the loader checks it: the header, the sections adding up
// to its size, the image by read_image and the word tables by
// word_table_problem. Whatever passes is searched in place, as a mapped
// file is, and no lookup on it may fail, loop or read outside the sections.
// Each section gets a buffer of its own, so that a read past one is a read
// past its buffer. The queries are a few fixed ones and the first words of
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
#include "format/index_image.h"
#include "format/word_table.h"
#include "index/word_index.h"
#include "prefix/utf8.h"

namespace kelvaro::fuzz {
namespace {

constexpr std::uint8_t kMagic[8] = {0x89, 'K', 'V', 'X', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kHeaderSize = 80;
constexpr std::size_t kChecksumSize = 4;
constexpr std::uint32_t kWeighted = 1;

std::uint64_t u64_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint64_t value;
  std::memcpy(&value, bytes.data() + at, 8);
  return value;
}

std::uint32_t u32_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

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

}  // namespace

void run(std::span<const std::uint8_t> input) {
  if (input.size() < kHeaderSize + kChecksumSize) return;
  std::vector<std::uint8_t> file(input.begin(), input.end());
  const std::size_t body = file.size() - kChecksumSize;
  const std::uint32_t checksum = crc32c(std::span(file).first(body));
  std::memcpy(file.data() + body, &checksum, kChecksumSize);

  const std::span<const std::uint8_t> bytes(file);
  if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0 || u32_at(bytes, 8) != 2) return;
  const std::uint32_t flags = u32_at(bytes, 12);
  const std::uint64_t word_count = u64_at(bytes, 24);
  if ((flags & ~kWeighted) != 0 || u64_at(bytes, 16) != file.size()) return;
  // Each section starts 8-byte aligned; they and the header fill the body.
  std::span<const std::uint8_t> sections[5];
  std::size_t at = kHeaderSize;
  for (std::size_t i = 0; i < 5; ++i) {
    const std::uint64_t size = u64_at(bytes, 40 + 8 * i);
    if (size > body - at) return;
    sections[i] = bytes.subspan(at, size);
    at += size;
    const std::size_t padding = (8 - at % 8) % 8;
    if (padding > body - at) return;
    at += padding;
  }
  if (at != body) return;

  std::vector<std::uint64_t> image((sections[1].size() + 7) / 8);
  if (!sections[1].empty()) std::memcpy(image.data(), sections[1].data(), sections[1].size());
  const std::variant<ImageParts, std::string> read =
      read_image({reinterpret_cast<const std::uint8_t*>(image.data()), sections[1].size()});
  const ImageParts* parts = std::get_if<ImageParts>(&read);
  if (parts == nullptr) return;
  std::vector<std::uint8_t> tables[3];
  for (std::size_t i = 0; i < 3; ++i) {
    tables[i].assign(sections[2 + i].begin(), sections[2 + i].end());
    if (word_table_problem(tables[i]).has_value()) return;
  }
  const auto& [words, keys, spellings] = tables;
  if (word_table_count(keys) != word_table_count(spellings) ||
      word_table_count(words) != word_count || parts->forward.payloads.size() != word_count)
    return;

  const CompactTrie forward(parts->forward);
  std::optional<CompactTrie> backward;
  WordIndex::Saved saved;
  if (parts->backward.has_value()) {
    backward.emplace(*parts->backward);
    saved = {&*backward, parts->best_forward, std::nullopt, parts->weighted_words};
  }
  saved.sounds = parts->sounds;
  const WordIndex index(forward, keys, spellings, word_count, (flags & kWeighted) != 0, saved);

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
