// AnyValue: one value of any type, kept together with what knows its type.
//
// A State holds values of types that only its agent knows, and hands each
// back only as the type it was stored as. The holder keeps the value inside
// itself when it fits (std::vector and std::u32string do), so storing one
// allocates nothing beyond what the value itself owns; larger values, and
// values whose move may throw, are boxed on the heap.
//
// The type is identified by the address of a per-type table that also knows
// how to move and destroy the value: asking for another type compares two
// pointers. The table is an inline variable, so the linker keeps one copy of
// it per type across the whole module.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace kelvaro {

namespace any_value_detail {

struct ValueOps {
  // Move-constructs the value at `to` from the one at `from`, then destroys
  // the one at `from`.
  void (*relocate)(void* from, void* to) noexcept;
  void (*destroy)(void* value) noexcept;
};

// Room for a std::vector or a std::u32string; rarer over-aligned types are
// boxed rather than making every entry larger.
inline constexpr std::size_t kInlineSize = 32;
inline constexpr std::size_t kInlineAlign = alignof(void*);

template <typename T>
inline constexpr bool kStoredInline =
    sizeof(T) <= kInlineSize &&
    alignof(T) <= kInlineAlign&& std::is_nothrow_move_constructible_v<T>;

template <typename T>
void relocate_inline(void* from, void* to) noexcept {
  T* source = std::launder(static_cast<T*>(from));
  ::new (to) T(std::move(*source));
  source->~T();
}

template <typename T>
void destroy_inline(void* value) noexcept {
  std::launder(static_cast<T*>(value))->~T();
}

// A boxed value is held through a pointer to a heap T; moving it moves the
// pointer.
template <typename T>
void relocate_boxed(void* from, void* to) noexcept {
  ::new (to) T*(*std::launder(static_cast<T**>(from)));
}

template <typename T>
void destroy_boxed(void* value) noexcept {
  delete *std::launder(static_cast<T**>(value));
}

template <typename T>
inline constexpr ValueOps kOps = kStoredInline<T> ? ValueOps{relocate_inline<T>, destroy_inline<T>}
                                                  : ValueOps{relocate_boxed<T>, destroy_boxed<T>};

}  // namespace any_value_detail

class AnyValue {
 public:
  AnyValue() = default;
  AnyValue(const AnyValue&) = delete;
  AnyValue& operator=(const AnyValue&) = delete;
  AnyValue(AnyValue&& other) noexcept {
    if (other.ops_ == nullptr) return;
    other.ops_->relocate(other.storage_, storage_);
    ops_ = std::exchange(other.ops_, nullptr);
  }
  AnyValue& operator=(AnyValue&&) = delete;
  ~AnyValue() { reset(); }

  // Destroys the value held, if any, and holds `value` instead.
  template <typename T>
  void emplace(T&& value) {
    using Stored = std::remove_cvref_t<T>;
    reset();
    if constexpr (any_value_detail::kStoredInline<Stored>) {
      ::new (static_cast<void*>(storage_)) Stored(std::forward<T>(value));
    } else {
      ::new (static_cast<void*>(storage_)) Stored*(new Stored(std::forward<T>(value)));
    }
    ops_ = &any_value_detail::kOps<Stored>;
  }

  // The value if it is exactly a T, else nullptr.
  template <typename T>
  const T* get_if() const noexcept {
    static_assert(std::is_same_v<T, std::remove_cvref_t<T>>,
                  "values are stored and looked up by their plain object type");
    if (ops_ != &any_value_detail::kOps<T>) return nullptr;
    if constexpr (any_value_detail::kStoredInline<T>) {
      return std::launder(reinterpret_cast<const T*>(storage_));
    } else {
      return *std::launder(reinterpret_cast<T* const*>(storage_));
    }
  }

 private:
  void reset() noexcept {
    if (ops_ != nullptr) ops_->destroy(storage_);
    ops_ = nullptr;
  }

  const any_value_detail::ValueOps* ops_ = nullptr;
  alignas(any_value_detail::kInlineAlign) std::byte storage_[any_value_detail::kInlineSize];
};

}  // namespace kelvaro
