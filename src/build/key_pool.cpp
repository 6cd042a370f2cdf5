#include "build/key_pool.h"

namespace kelvaro {

KeyPool::KeyPool(std::span<const std::string_view> keys, std::span<const std::uint32_t> order) {
  std::size_t total = 0;
  for (std::uint32_t position : order) total += keys[position].size();
  bytes_.reserve(total);
  starts_.reserve(order.size() + 1);
  for (std::uint32_t position : order) {
    starts_.push_back(static_cast<std::uint32_t>(bytes_.size()));
    bytes_.append(keys[position]);
  }
  starts_.push_back(static_cast<std::uint32_t>(bytes_.size()));
}

std::vector<std::string_view> KeyPool::keys() const {
  std::vector<std::string_view> views(size());
  for (std::uint32_t i = 0; i < views.size(); ++i) views[i] = key(i);
  return views;
}

}  // namespace kelvaro
