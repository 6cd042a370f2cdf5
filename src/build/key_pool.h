// Distinct keys in order, back to back in one buffer.
//
// The builder walks its keys level by level, once per character position;
// with the keys in one buffer in the order it walks them, each pass reads
// memory front to back instead of chasing every key to wherever the
// caller's text put it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvaro {

class KeyPool {
 public:
  // The keys keys[order[0]], keys[order[1]], ...
  KeyPool(std::span<const std::string_view> keys, std::span<const std::uint32_t> order);

  std::size_t size() const { return starts_.size() - 1; }
  std::string_view key(std::uint32_t i) const {
    return std::string_view(bytes_).substr(starts_[i], starts_[i + 1] - starts_[i]);
  }
  std::vector<std::string_view> keys() const;

 private:
  std::string bytes_;
  std::vector<std::uint32_t> starts_;
};

}  // namespace kelvaro
