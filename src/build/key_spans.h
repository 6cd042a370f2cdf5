// The keys of one build, cut out of one UTF-8 text.
//
// Python hands the builder all keys joined into one str, plus the length of
// each key in characters unless newlines can separate them. That costs one
// join (and one array) on every interpreter, where a C-API call per key
// would cost far more on some.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kelvaro {

// The keys as views into `text`, which must be well-formed UTF-8; nothing
// when the lengths do not add up to exactly the characters of `text`.
std::optional<std::vector<std::string_view>> split_keys(
    std::string_view text, std::span<const std::uint32_t> char_lengths);

// The keys of a text that joins them with newlines, when none of them holds
// one: a join that Python makes without even an array of lengths.
std::vector<std::string_view> split_lines(std::string_view text);

// The keys of a text that holds them back to back, key i ending at ends[i].
std::vector<std::string_view> split_at(std::string_view text, std::span<const std::size_t> ends);

}  // namespace kelvaro
