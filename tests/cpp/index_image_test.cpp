#include "format/index_image.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bits/crc32c.h"
#include "build/trie_builder.h"
#include "codec/byte_reader.h"
#include "format/word_table.h"
#include "search/sound_key.h"
#include "search/sound_table.h"

namespace kelvaro {
namespace {

TEST(Crc32c, FastPathAgreesWithTheTable) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32c(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
            0xE3069283u);
  std::mt19937 random(3);
  std::vector<std::uint8_t> data(40000);
  for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
  for (const std::size_t size : {0, 1, 7, 8, 12287, 12288, 12289, 24576 + 13, 40000}) {
    const std::span<const std::uint8_t> part(data.data() + 1, size - (size == 40000));
    const std::uint32_t seed = static_cast<std::uint32_t>(random());
    EXPECT_EQ(crc32c(part, seed), crc32c_portable(part, seed)) << size;
    // Continuing a checksum is checksumming the whole.
    const std::size_t cut = part.size() / 3;
    EXPECT_EQ(crc32c(part.subspan(cut), crc32c(part.first(cut))), crc32c(part));
  }
}

TEST(WordTable, WholeTextCheckAgreesWithWordByWord) {
  std::mt19937 random(5);
  const std::vector<std::uint8_t> pieces = {'a',  'b',  0xC3, 0xA9, 0xE4,
                                            0xB8, 0x80, 0xF0, 0x80, 0xFF};
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::uint8_t> text(random() % 24);
    for (auto& byte : text) byte = pieces[random() % pieces.size()];
    std::vector<std::uint32_t> cuts = {0};
    for (std::size_t i = random() % 4; i-- > 0;)
      cuts.push_back(static_cast<std::uint32_t>(random() % (text.size() + 1)));
    cuts.push_back(static_cast<std::uint32_t>(text.size()));
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::uint8_t> offsets(4 * cuts.size());
    bool each = true;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
      for (int b = 0; b < 4; ++b)
        offsets[4 * i + b] = static_cast<std::uint8_t>(cuts[i] >> (8 * b));
      if (i > 0)
        each = each &&
               is_well_formed_utf8(std::span(text).subspan(cuts[i - 1], cuts[i] - cuts[i - 1]));
    }
    ASSERT_EQ(words_well_formed(text, offsets.data(), cuts.size() - 1), each);
  }
}

TEST(IndexImage, ReadsBackWhatItWrote) {
  const std::vector<std::string_view> keys = {"ab", "abc", "b", "\u00e9t\u00e9", "fone", "phone"};
  const CompactTrieArrays forward = compact(build_trie(keys, {}).trie);
  const CompactTrieSpans spans = forward.spans();
  const SoundTableArrays sounds = make_sound_table(CompactTrie(spans));
  const SoundTableSpans sound_spans = sounds.spans();
  const std::vector<Payload> best(forward.label_end.size(), 1);
  for (const bool with_tables : {false, true}) {
    const std::vector<std::uint64_t> image =
        write_image(forward.spans(), with_tables ? &spans : nullptr,
                    with_tables ? std::span<const Payload>(best) : std::span<const Payload>(),
                    with_tables ? &sound_spans : nullptr);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(image.data()),
                                              image.size() * 8);
    const auto read = read_image(bytes);
    ASSERT_TRUE(std::holds_alternative<ImageParts>(read));
    const ImageParts& parts = std::get<ImageParts>(read);
    EXPECT_EQ(parts.backward.has_value(), with_tables);
    EXPECT_EQ(parts.sounds.has_value(), with_tables);
    EXPECT_TRUE(std::equal(parts.forward.payloads.begin(), parts.forward.payloads.end(),
                           forward.payloads.begin(), forward.payloads.end()));
    // Any image cut short is refused, never read past its end, but for one
    // cut right before the sound table, which images written before there
    // was one end at. (A file's section sizes and checksum catch that cut.)
    const std::size_t without_sounds =
        8 * write_image(spans, with_tables ? &spans : nullptr,
                        with_tables ? std::span<const Payload>(best) : std::span<const Payload>(),
                        nullptr)
                .size();
    for (std::size_t size = 0; size < bytes.size(); size += 8)
      EXPECT_EQ(std::holds_alternative<std::string>(read_image(bytes.first(size))),
                size != without_sounds || !with_tables);
  }
}

TEST(SoundTable, FindsTheWordsOfAKeyAndRefusesForgedOnes) {
  const std::vector<std::string_view> keys = {"fone",          "phone", "pone",
                                              "\u00e9t\u00e9", "h",     "Knight"};
  const CompactTrieArrays forward = compact(build_trie(keys, {}).trie);
  SoundTableArrays arrays = make_sound_table(CompactTrie(forward.spans()));
  // Words of other alphabets, or of no sound, have no key.
  EXPECT_EQ(arrays.text_ends.size(), 4u);
  const SoundTable table(arrays.spans());
  std::vector<std::u32string> found;
  table.for_each_sounding(*sound_key(U"fown"),
                          [&](std::u32string_view word) { found.emplace_back(word); });
  EXPECT_EQ(found, (std::vector<std::u32string>{U"fone", U"phone"}));
  found.clear();
  table.for_each_sounding("NT", [&](std::u32string_view word) { found.emplace_back(word); });
  EXPECT_EQ(found, (std::vector<std::u32string>{U"Knight"}));
  EXPECT_FALSE(sound_table_problem(arrays.spans()));
  // Word starts or text ends that do not cover their words are refused.
  arrays.word_starts.back() += 1;
  EXPECT_TRUE(sound_table_problem(arrays.spans()));
  arrays.word_starts.back() -= 1;
  arrays.text_ends.back() += 1;
  EXPECT_TRUE(sound_table_problem(arrays.spans()));
}

}  // namespace
}  // namespace kelvaro
