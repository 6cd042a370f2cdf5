#include "text/text_index.h"

#include "prefix/tree_walk.h"
#include "text/tokenizer.h"

namespace kelvaro::text {
namespace {

std::u32string plain(std::u32string_view slice) {
  std::u32string key(slice);
  for (char32_t& ch : key)
    if (is_apostrophe(ch)) ch = U'\'';
  return key;
}

std::optional<Known> stored(const IndexTries& tries, std::u32string&& key) {
  if (key.empty()) return std::nullopt;
  if (const std::optional<Payload> payload = payload_of(tries, key))
    return Known{std::move(key), *payload};
  return std::nullopt;
}

std::optional<Known> find_exactly(const TextIndex& index, TextViews views, std::size_t start,
                                  std::size_t end) {
  const std::size_t length = end - start;
  std::u32string folded = plain(views.folded.substr(start, length));
  if (index.normalized) return stored(index.tries, std::move(folded));
  std::u32string written = plain(views.written.substr(start, length));
  if (std::optional<Known> found = stored(index.tries, std::u32string(written))) return found;
  if (written == folded) return std::nullopt;
  // Capitalised: the first letter as written, the rest folded.
  std::u32string capitalised = folded;
  capitalised[0] = written[0];
  if (std::optional<Known> found = stored(index.tries, std::move(folded))) return found;
  if (capitalised != written) return stored(index.tries, std::move(capitalised));
  return std::nullopt;
}

}  // namespace

std::optional<Payload> payload_of(const IndexTries& tries, std::u32string_view key) {
  if (key.empty()) return std::nullopt;
  const auto node = find_exact(tries.forward, key);
  if (!node.has_value()) return std::nullopt;
  return tries.forward.payload(*node);
}

std::u32string typed_key(TextViews views, std::size_t start, std::size_t end) {
  return plain(views.folded.substr(start, end - start));
}

std::optional<Known> find_word(const TextIndex& index, TextViews views, std::size_t start,
                               std::size_t end) {
  if (std::optional<Known> found = find_exactly(index, views, start, end)) return found;
  // "dog's" is "dog" with a possessive.
  if (end - start > 2 && views.written[end - 1] == U's' && is_apostrophe(views.written[end - 2]))
    return find_exactly(index, views, start, end - 2);
  return std::nullopt;
}

}  // namespace kelvaro::text
