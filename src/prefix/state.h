// State: the per-node store of typed values under string keys.
//
// Every node that a traversal visits carries one State, and a State is
// created, moved and destroyed for every child entered, so the store is built
// for a handful of short keys and values of a few words:
//
//   - The map is a flat array searched linearly. With three or four keys a
//     comparison of lengths and bytes beats hashing.
//   - The first few entries live inside the State, so making a State and
//     filling it allocates only what the values need (std::any keeps a
//     value larger than a pointer on the heap), and moving it touches only
//     the entries in use.
//   - Keys are short names, kept inline in their entry.
//
// A value comes back only as the type it was stored as. Values are held in
// std::any, so their type must be copyable, but the State never copies one:
// a copy would duplicate every row and path held in it, which is exactly the
// cost the traversal is designed to avoid, so States are moved, never copied.
#pragma once

#include <any>
#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvaro {

namespace state_detail {

// The State's own copy of a key's bytes: inline up to kInline bytes, which
// every key of the system fits, and on the heap beyond.
class Key {
 public:
  Key() noexcept {}
  explicit Key(std::string_view text) { assign(text); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  // The inline bytes and the heap pointer share storage, so copying the
  // storage whole moves either.
  Key(Key&& other) noexcept : size_(std::exchange(other.size_, 0)) {
    std::memcpy(inline_, other.inline_, kInline);
  }
  Key& operator=(Key&& other) noexcept {
    if (this != &other) {
      release();
      size_ = std::exchange(other.size_, 0);
      std::memcpy(inline_, other.inline_, kInline);
    }
    return *this;
  }
  ~Key() { release(); }

  // Expects the key to hold no heap bytes: a fresh or released key.
  void assign(std::string_view text) {
    size_ = text.size();
    if (size_ <= kInline) {
      copy_short(text.data(), size_, inline_);
    } else {
      heap_ = new char[size_];
      std::memcpy(heap_, text.data(), size_);
    }
  }

  void release() noexcept {
    if (size_ > kInline) delete[] heap_;
    size_ = 0;
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

  std::size_t size_ = 0;
  union {
    char inline_[kInline];
    char* heap_;
  };
};

struct Entry {
  Entry() noexcept = default;
  explicit Entry(std::string_view key_text) : key(key_text) {}

  Key key;
  std::any value;
};

}  // namespace state_detail

class State {
 public:
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

  // Stores `value` under `key`, replacing whatever the key held before,
  // whatever its type. The value is taken by value, so a copy of something
  // held in this very State is complete before any entry changes.
  template <typename T>
  void put(std::string_view key, T value) {
    state_detail::Entry* entry = find(key);
    if (entry == nullptr) entry = append(key);
    entry->value.emplace<T>(std::move(value));
  }

  // The value under `key` if it is exactly a T; nullptr for a missing key or
  // a value of another type.
  template <typename T>
  const T* get(std::string_view key) const noexcept {
    static_assert(std::is_same_v<T, std::remove_cvref_t<T>>,
                  "values are stored and looked up by their plain object type");
    const state_detail::Entry* entry = find(key);
    return entry == nullptr ? nullptr : std::any_cast<T>(&entry->value);
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
      state_detail::Entry& entry = inline_[inline_count_];
      entry.key.assign(key);
      ++inline_count_;
      return &entry;
    }
    return &spill(key);
  }
  state_detail::Entry& spill(std::string_view key) { return spilled_.emplace_back(key); }

  // Expects this State to be empty. Leaves `other` empty; a moved-from
  // std::any need not be, so each is reset, and nothing taken lingers there.
  void take_from(State& other) noexcept {
    for (std::size_t i = 0; i < other.inline_count_; ++i) {
      inline_[i].key = std::move(other.inline_[i].key);
      inline_[i].value = std::move(other.inline_[i].value);
      other.inline_[i].value.reset();
    }
    inline_count_ = std::exchange(other.inline_count_, 0);
    spilled_.swap(other.spilled_);
  }

  void clear() noexcept {
    for (std::size_t i = 0; i < inline_count_; ++i) {
      inline_[i].key.release();
      inline_[i].value.reset();
    }
    inline_count_ = 0;
    spilled_.clear();
  }

  // The count first, next to the first entries, which are all that most
  // States use. Entries past the count hold no key bytes and no value.
  std::size_t inline_count_ = 0;
  std::vector<state_detail::Entry> spilled_;
  std::array<state_detail::Entry, kInlineEntries> inline_;
};

}  // namespace kelvaro
