// RecycledArray: a fixed-length array of plain values that owns its storage
// and takes it from a Recycler.
//
// The matcher's rows and path texts are arrays of this kind. Each is made at
// its final length in one step (a copy of its parent's, or a copy with one
// more element), never grows, and gives its block back to the recycler when
// it is destroyed. An array made without a recycler, as tests do, uses the
// heap. Arrays are moved, never copied: a copy says where its storage comes
// from (copy_of).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

#include "prefix/recycler.h"

namespace kelvaro {

template <typename T>
class RecycledArray {
  static_assert(std::is_trivially_copyable_v<T>, "elements are copied as bytes");

 public:
  RecycledArray() = default;
  RecycledArray(std::initializer_list<T> values) : RecycledArray(nullptr, values.size()) {
    copy_in(0, values.begin(), values.size());
  }
  RecycledArray(const RecycledArray&) = delete;
  RecycledArray& operator=(const RecycledArray&) = delete;
  RecycledArray(RecycledArray&& other) noexcept
      : recycler_(std::exchange(other.recycler_, nullptr)),
        data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)) {}
  RecycledArray& operator=(RecycledArray&& other) noexcept {
    if (this != &other) {
      release();
      recycler_ = std::exchange(other.recycler_, nullptr);
      data_ = std::exchange(other.data_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  ~RecycledArray() { release(); }

  // `size` elements whose values the caller writes before reading them.
  static RecycledArray uninitialized(Recycler* recycler, std::size_t size) {
    return RecycledArray(recycler, size);
  }

  // A copy of `values`.
  static RecycledArray copy_of(Recycler* recycler, std::span<const T> values) {
    RecycledArray array(recycler, values.size());
    array.copy_in(0, values.data(), values.size());
    return array;
  }

  // A copy of `values` followed by `last`.
  static RecycledArray extended(Recycler* recycler, std::span<const T> values, T last) {
    RecycledArray array(recycler, values.size() + 1);
    array.copy_in(0, values.data(), values.size());
    array.data_[values.size()] = last;
    return array;
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  const T& back() const noexcept { return data_[size_ - 1]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  operator std::span<const T>() const noexcept { return {data_, size_}; }

  friend bool operator==(const RecycledArray& a, const RecycledArray& b) noexcept {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  // An empty array holds neither storage nor a reference to the recycler.
  RecycledArray(Recycler* recycler, std::size_t size) : size_(size) {
    if (size == 0) return;
    if (size > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = size * sizeof(T);
    data_ =
        static_cast<T*>(recycler != nullptr ? recycler->allocate(bytes) : ::operator new(bytes));
    if (recycler != nullptr) {
      recycler->add_reference();
      recycler_ = recycler;
    }
  }

  // Rows and paths are a few dozen to a few hundred bytes, copied once per
  // child entered: copying them in 16-byte pieces, the last one overlapping
  // when the size is not a multiple, beats a call to memcpy.
  void copy_in(std::size_t at, const T* values, std::size_t count) noexcept {
    copy_bytes(reinterpret_cast<const char*>(values), count * sizeof(T),
               reinterpret_cast<char*>(data_ + at));
  }
  static void copy_bytes(const char* from, std::size_t size, char* to) noexcept {
    constexpr std::size_t kPiece = 16;
    if (size < kPiece) {
      if (size >= 8) {
        copy_piece<8>(from, to);
        copy_piece<8>(from + size - 8, to + size - 8);
      } else if (size >= 4) {
        copy_piece<4>(from, to);
        copy_piece<4>(from + size - 4, to + size - 4);
      } else {
        for (std::size_t i = 0; i < size; ++i) to[i] = from[i];
      }
      return;
    }
    for (std::size_t offset = 0; offset + kPiece < size; offset += kPiece)
      copy_piece<kPiece>(from + offset, to + offset);
    copy_piece<kPiece>(from + size - kPiece, to + size - kPiece);
  }
  template <std::size_t Size>
  static void copy_piece(const char* from, char* to) noexcept {
    char piece[Size];
    std::memcpy(piece, from, Size);
    std::memcpy(to, piece, Size);
  }

  void release() noexcept {
    if (data_ == nullptr) return;
    if (recycler_ != nullptr) {
      recycler_->deallocate(data_, size_ * sizeof(T));
      recycler_->drop_reference();
    } else {
      ::operator delete(data_);
    }
    data_ = nullptr;
    size_ = 0;
    recycler_ = nullptr;
  }

  Recycler* recycler_ = nullptr;
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kelvaro
