// State: the per-node store of typed values under string keys.
//
// Every node that a traversal visits carries one State, and a State is
// created, moved and destroyed for every child entered, so the store is built
// for a handful of short keys and values of a few words:
//
//   - The map is a flat array searched linearly. With three or four keys a
//     comparison of lengths and bytes beats hashing.
//   - The first few entries live inside the State, so making a State and
//     filling it with rows and paths allocates nothing but what they own,
//     and moving it touches only the entries in use.
//   - Keys are short names, kept inline in their entry.
//   - Rows of distances and path texts, which the matcher keeps in every
//     node, are held in the entry itself. std::any would keep each on the
//     heap, as it does any value larger than a pointer, and so double the
//     allocations per node; values of other types do go into a std::any.
//
// A value comes back only as the type it was stored as. As std::any
// requires, its type must be copyable, but the State never copies one: a copy
// would duplicate every row and path held in it, which is exactly the cost
// the traversal is designed to avoid, so States are moved, never copied.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace kelvaro {

namespace state_detail {

// The State's own copy of a key's bytes: inline up to kInline bytes, which
// every key of the system fits, and on the heap beyond.
class Key {
 public:
  explicit Key(std::string_view text) : size_(text.size()) {
    if (size_ <= kInline) {
      copy_short(text.data(), size_, inline_);
    } else {
      heap_ = new char[size_];
      std::memcpy(heap_, text.data(), size_);
    }
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  // The inline bytes and the heap pointer share storage, so copying the
  // storage whole moves either.
  Key(Key&& other) noexcept : size_(std::exchange(other.size_, 0)) {
    std::memcpy(inline_, other.inline_, kInline);
  }
  Key& operator=(Key&&) = delete;
  ~Key() {
    if (size_ > kInline) delete[] heap_;
  }

  // Compares with the length of `text`, which is a constant wherever the
  // key is one, so that the comparison of bytes compiles to a few loads.
  bool operator==(std::string_view text) const noexcept {
    return size_ == text.size() && std::memcmp(bytes(), text.data(), text.size()) == 0;
  }

 private:
  static constexpr std::size_t kInline = 16;

  const char* bytes() const noexcept { return size_ > kInline ? heap_ : inline_; }

  // A key is copied for every value put in a State; a call to memcpy with
  // a length known only at run time would cost more than the copy itself.
  static void copy_short(const char* from, std::size_t size, char* to) noexcept {
    if (size >= 8) {
      copy_word<8>(from, to);
      copy_word<8>(from + size - 8, to + size - 8);
    } else if (size >= 4) {
      copy_word<4>(from, to);
      copy_word<4>(from + size - 4, to + size - 4);
    } else {
      for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
    }
  }
  template <std::size_t Width>
  static void copy_word(const char* from, char* to) noexcept {
    char word[Width];
    std::memcpy(word, from, Width);
    std::memcpy(to, word, Width);
  }

  std::size_t size_;
  union {
    char inline_[kInline];
    char* heap_;
  };
};

using Value = std::variant<std::monostate, std::vector<std::uint64_t>, std::u32string, std::any>;

struct Entry {
  explicit Entry(std::string_view key_text) : key(key_text) {}
  Entry(Entry&&) noexcept = default;

  Key key;
  Value value;
};

}  // namespace state_detail

class State {
 public:
  // Whether a T is held in its entry rather than boxed by std::any.
  template <typename T>
  static constexpr bool kHeldInEntry =
      std::is_same_v<T, std::vector<std::uint64_t>> || std::is_same_v<T, std::u32string>;

  // User-provided, so that value-initialising a State does not first zero
  // its inline entries.
  State() noexcept {}
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  State(State&& other) noexcept { take_from(other); }
  State& operator=(State&& other) noexcept {
    if (this != &other) {
      clear();
      take_from(other);
    }
    return *this;
  }
  ~State() { clear(); }

  // Stores `value` under `key`, replacing whatever the key held before,
  // whatever its type. The value is taken by value, so a copy of something
  // held in this very State is complete before any entry changes.
  template <typename T>
  void put(std::string_view key, T value) {
    state_detail::Entry* entry = find(key);
    if (entry == nullptr) entry = append(key);
    if constexpr (kHeldInEntry<T>) {
      entry->value.emplace<T>(std::move(value));
    } else {
      entry->value.emplace<std::any>(std::in_place_type<T>, std::move(value));
    }
  }

  // The value under `key` if it is exactly a T; nullptr for a missing key or
  // a value of another type.
  template <typename T>
  const T* get(std::string_view key) const noexcept {
    static_assert(std::is_same_v<T, std::remove_cvref_t<T>>,
                  "values are stored and looked up by their plain object type");
    const state_detail::Entry* entry = find(key);
    if (entry == nullptr) return nullptr;
    if constexpr (kHeldInEntry<T>) {
      return std::get_if<T>(&entry->value);
    } else {
      const std::any* boxed = std::get_if<std::any>(&entry->value);
      return boxed == nullptr ? nullptr : std::any_cast<T>(boxed);
    }
  }

  bool empty() const noexcept { return inline_count_ == 0; }

 private:
  // The matcher keeps three keys per node; one more leaves room for other
  // agents before entries spill to the heap.
  static constexpr std::size_t kInlineEntries = 4;

  const state_detail::Entry* find(std::string_view key) const noexcept {
    for (std::size_t i = 0; i < inline_count_; ++i) {
      if (inline_[i].key == key) return &inline_[i];
    }
    for (const state_detail::Entry& entry : spilled_) {
      if (entry.key == key) return &entry;
    }
    return nullptr;
  }
  state_detail::Entry* find(std::string_view key) noexcept {
    return const_cast<state_detail::Entry*>(std::as_const(*this).find(key));
  }

  // Small enough to be inlined where the key is a constant, so that copying
  // the key's bytes compiles to a few moves.
  state_detail::Entry* append(std::string_view key) {
    if (inline_count_ < kInlineEntries) [[likely]] {
      auto* entry = std::construct_at(&inline_[inline_count_], key);
      ++inline_count_;
      return entry;
    }
    return &spill(key);
  }
  state_detail::Entry& spill(std::string_view key) { return spilled_.emplace_back(key); }

  // Expects this State to be empty.
  void take_from(State& other) noexcept {
    for (std::size_t i = 0; i < other.inline_count_; ++i) {
      std::construct_at(&inline_[i], std::move(other.inline_[i]));
      std::destroy_at(&other.inline_[i]);
    }
    inline_count_ = std::exchange(other.inline_count_, 0);
    spilled_.swap(other.spilled_);
  }

  void clear() noexcept {
    for (std::size_t i = 0; i < inline_count_; ++i) std::destroy_at(&inline_[i]);
    inline_count_ = 0;
    spilled_.clear();
  }

  // The count first, next to the first entries, which are all that most
  // States use. Only the first inline_count_ entries are constructed: a
  // union leaves its members to the State, which constructs an entry only
  // when a key first needs it.
  std::size_t inline_count_ = 0;
  std::vector<state_detail::Entry> spilled_;
  union {
    state_detail::Entry inline_[kInlineEntries];
  };
};

}  // namespace kelvaro
