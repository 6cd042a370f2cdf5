// An index file mapped read-only in a way another program cannot pull out
// from under the index.
//
// A mapped file's pages are the file's own: a program that rewrites the
// file in place changes what the index reads (a bad offset then reads out
// of bounds), and one that truncates it makes the pages vanish (SIGBUS).
// So the file is mapped only under a read lease of our own: the kernel
// makes any process that opens the file for writing, or truncates it,
// wait until the lease is given up, and tells us with a signal first. The
// signal's handler copies the mapped bytes, still intact while the writer
// waits, into private memory put in place over the same addresses, so that
// a reader never sees a change, and then gives the lease up. Renaming
// another file over it, unlinking it and appending to it leave the mapped
// bytes as they are (opening to append breaks the lease too, which only
// costs the copy).
//
// Where no lease can be had or trusted (not Linux, a file system that
// refuses leases or whose files may change elsewhere, a network or FUSE
// one, a file that is open for writing now, no free slot), nothing is
// mapped and the caller reads the file instead.
//
// A child made by fork shares the mapping but not the lease's signal: it
// takes a lease of its own on each mapping before it returns from fork,
// or copies the mapping when it cannot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace kelvaro {

class LeasedMapping {
 public:
  // The file open read-only as `descriptor` (which stays the caller's),
  // mapped whole under a lease, provided it is still `size` bytes long
  // once leased; null when it cannot be leased, mapped or is another size.
  static std::unique_ptr<LeasedMapping> map(int descriptor, std::size_t size);

  // Waits for a copy under way, then unmaps and gives the lease up.
  ~LeasedMapping();
  LeasedMapping(const LeasedMapping&) = delete;
  LeasedMapping& operator=(const LeasedMapping&) = delete;

  std::span<const std::uint8_t> bytes() const { return {address_, size_}; }
  // Whether the bytes have been copied away from the file (a writer came,
  // or a child could not lease the file), so are no longer shared.
  bool copied() const;

 private:
  LeasedMapping(int slot, const std::uint8_t* address, std::size_t size)
      : slot_(slot), address_(address), size_(size) {}
  int slot_;
  const std::uint8_t* address_;
  std::size_t size_;
};

}  // namespace kelvaro
