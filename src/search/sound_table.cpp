#include "search/sound_table.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "build/reversed_trie.h"
#include "build/trie_builder.h"
#include "prefix/interrupt.h"
#include "prefix/tree_walk.h"
#include "search/sound_key.h"

namespace kelvaro {

SoundTableSpans SoundTableArrays::spans() const {
  return {keys.spans(), word_starts, text_ends, texts};
}

SoundTableArrays make_sound_table(const CompactTrie& forward) {
  std::vector<std::pair<std::string, std::string>> keyed;
  for_each_key(forward, [&](std::u32string_view word, Payload) {
    if (std::optional<std::string> key = sound_key(word))
      keyed.emplace_back(std::move(*key), std::string(word.begin(), word.end()));
  });
  std::sort(keyed.begin(), keyed.end());
  SoundTableArrays table;
  std::vector<std::string_view> keys;
  std::vector<Payload> ordinals;
  for (const auto& [key, word] : keyed) {
    if (keys.empty() || keys.back() != key) {
      ordinals.push_back(static_cast<Payload>(keys.size()));
      keys.push_back(key);
      table.word_starts.push_back(static_cast<std::uint32_t>(table.text_ends.size()));
    }
    table.texts.insert(table.texts.end(), word.begin(), word.end());
    table.text_ends.push_back(static_cast<std::uint32_t>(table.texts.size()));
  }
  table.word_starts.push_back(static_cast<std::uint32_t>(table.text_ends.size()));
  table.keys = compact(build_trie(keys, ordinals).trie);
  return table;
}

std::optional<std::string> sound_table_problem(const SoundTableSpans& spans) {
  if (std::optional<std::string> problem = view_problem(spans.keys))
    return "sound keys: " + *problem;
  const std::size_t keys = spans.keys.payloads.size();
  const auto increasing = [](std::span<const std::uint32_t> values) {
    return std::is_sorted(values.begin(), values.end());
  };
  if (spans.word_starts.size() != keys + 1 || spans.word_starts.front() != 0 ||
      spans.word_starts.back() != spans.text_ends.size() || !increasing(spans.word_starts))
    return std::string("sound table: word starts do not cover its words");
  if (!increasing(spans.text_ends) ||
      (!spans.text_ends.empty() && spans.text_ends.back() != spans.texts.size()))
    return std::string("sound table: text ends do not cover its texts");
  for (const Payload ordinal : spans.keys.payloads)
    if (ordinal >= keys) return std::string("sound table: a key's ordinal is out of range");
  return std::nullopt;
}

SoundTable::SoundTable(const SoundTableSpans& spans) : spans_(spans), keys_(spans.keys) {}

void SoundTable::for_each_sounding(const std::string& key,
                                   const std::function<void(std::u32string_view)>& each) const {
  if (keys_.empty() || key.empty()) return;
  const auto node = find_exact(keys_, std::u32string(key.begin(), key.end()));
  if (!node) return;
  const Payload ordinal = *keys_.payload(*node);
  // One buffer for every word: the caller turns most of them away. A
  // common key can stand for thousands of words, each looked up by the
  // caller: about a node a character.
  std::u32string word;
  InterruptCheck interrupts;
  for (std::uint32_t i = spans_.word_starts[ordinal]; i < spans_.word_starts[ordinal + 1]; ++i) {
    const std::uint32_t start = i == 0 ? 0 : spans_.text_ends[i - 1];
    const std::uint32_t end = spans_.text_ends[i];
    interrupts.tick(1 + std::min(end - start, std::uint32_t{1} << 20));
    word.assign(spans_.texts.begin() + start, spans_.texts.begin() + end);
    each(word);
  }
}

}  // namespace kelvaro
