// Recycler: storage handed back and forth within one search.
//
// A search makes a few arrays for every node it enters (each child's copy of
// its parent's row and its own path text) and drops them soon after, all of
// a handful of sizes. Through the general-purpose heap each of them would be
// a malloc and a free; here a freed block goes onto a free list of its size
// class and the next array of that class takes it back, so a search reaches
// the heap only while its deepest path is still growing.
//
// Every array still owns its block outright while it holds it: recycling
// changes where storage comes from, never who may use it.
//
// A recycler counts the arrays and handles that refer to it and lives until
// the last of them is gone, so an array that outlives the search that made it
// stays valid. The count is not atomic: a recycler and everything that refers
// to it belong to one thread.
//
// A short search would otherwise take every block it uses from the heap and
// give them all back at its end, so each thread keeps the free lists of its
// last recycler, up to kSpareBytes of blocks, for the next one to start with.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <new>
#include <utility>

namespace kelvaro {

class Recycler {
 public:
  // Blocks are 2^kSmallestClass to 2^kLargestClass bytes; larger requests
  // go straight to the heap and back.
  static constexpr std::size_t kSmallestClass = 4;
  static constexpr std::size_t kLargestClass = 20;
  // The most storage a thread keeps on free lists between searches.
  static constexpr std::size_t kSpareBytes = std::size_t{1} << 20;

  Recycler(const Recycler&) = delete;
  Recycler& operator=(const Recycler&) = delete;

  // A recycler with one reference, the caller's: the thread's spare if it
  // has one, else a new one.
  static Recycler* create() {
    Recycler* spare = std::exchange(spare_slot().recycler, nullptr);
    if (spare == nullptr) return new Recycler();
    spare->references_ = 1;
    return spare;
  }

  void add_reference() noexcept { ++references_; }
  void drop_reference() noexcept {
    if (--references_ == 0) [[unlikely]]
      destroy(this);
  }

  // A block of at least `bytes` bytes, which must be given back to this
  // recycler with the same `bytes`.
  void* allocate(std::size_t bytes) {
    const std::size_t size_class = class_of(bytes);
    if (size_class > kLargestClass) [[unlikely]]
      return ::operator new(bytes);
    FreeBlock*& head = free_lists_[size_class];
    if (head == nullptr) return ::operator new (std::size_t{1} << size_class);
    free_bytes_ -= std::size_t{1} << size_class;
    return std::exchange(head, head->next);
  }

  void deallocate(void* block, std::size_t bytes) noexcept {
    const std::size_t size_class = class_of(bytes);
    if (size_class > kLargestClass) [[unlikely]]
      return ::operator delete(block);
    FreeBlock*& head = free_lists_[size_class];
    head = ::new (block) FreeBlock{head};
    free_bytes_ += std::size_t{1} << size_class;
  }

 private:
  struct FreeBlock {
    FreeBlock* next;
  };

  // Where a thread keeps its spare recycler; it deletes the spare when the
  // thread ends.
  struct SpareSlot {
    Recycler* recycler = nullptr;
    ~SpareSlot() { delete recycler; }
  };
  static SpareSlot& spare_slot() noexcept {
    thread_local SpareSlot slot;
    return slot;
  }

  Recycler() = default;
  ~Recycler() { trim(0); }

  // Out of line: the last reference goes once per search. The recycler
  // becomes the thread's spare unless the thread has one already.
  [[gnu::noinline]] static void destroy(Recycler* recycler) noexcept {
    Recycler*& spare = spare_slot().recycler;
    if (spare != nullptr) {
      delete recycler;
      return;
    }
    recycler->trim(kSpareBytes);
    spare = recycler;
  }

  // Gives blocks back to the heap, largest first, until at most `bytes`
  // bytes are left on the free lists.
  void trim(std::size_t bytes) noexcept {
    for (std::size_t size_class = kLargestClass + 1; size_class-- > kSmallestClass;) {
      FreeBlock*& head = free_lists_[size_class];
      while (head != nullptr && free_bytes_ > bytes) {
        ::operator delete(std::exchange(head, head->next));
        free_bytes_ -= std::size_t{1} << size_class;
      }
    }
  }

  // The smallest class whose blocks hold `bytes`.
  static std::size_t class_of(std::size_t bytes) noexcept {
    return bytes <= (std::size_t{1} << kSmallestClass) ? kSmallestClass : std::bit_width(bytes - 1);
  }

  std::size_t references_ = 1;
  std::size_t free_bytes_ = 0;
  std::array<FreeBlock*, kLargestClass + 1> free_lists_{};
};

// One counted reference to a new Recycler.
class RecyclerHandle {
 public:
  RecyclerHandle() : recycler_(Recycler::create()) {}
  RecyclerHandle(const RecyclerHandle& other) noexcept : recycler_(other.recycler_) {
    recycler_->add_reference();
  }
  RecyclerHandle& operator=(const RecyclerHandle& other) noexcept {
    other.recycler_->add_reference();
    recycler_->drop_reference();
    recycler_ = other.recycler_;
    return *this;
  }
  ~RecyclerHandle() { recycler_->drop_reference(); }

  Recycler* get() const noexcept { return recycler_; }

 private:
  Recycler* recycler_;
};

}  // namespace kelvaro
