#include "index/leased_mapping.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#ifdef __linux__
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace kelvaro {

#ifdef __linux__
namespace {

// Every live mapping has a slot in a fixed table, which the lease-break
// handler searches by descriptor: a signal handler may not allocate, lock
// or wait, so the table is plain memory and each slot's state an atomic,
// moved on only by compare-and-swap. The handler moves a slot from leased
// to copying and on to copied; closing moves it to closing only from
// leased or copied, so it waits for a copy under way and never unmaps
// memory the handler is reading.
enum SlotState : int { kFree, kClaimed, kLeased, kCopying, kCopied, kClosing };

struct Slot {
  std::atomic<int> state{kFree};
  // Read only once the slot is leased: a free slot's is left as it was,
  // and the table starts as zeros, which cost the library no bytes.
  std::atomic<int> descriptor{0};
  // Written before the slot is leased, read only after.
  void* address = nullptr;
  std::size_t length = 0;  // whole pages
};

// More indexes than this mapped at once are read instead: as many as
// descriptors a process commonly may open, each mapping holding one.
constexpr int kSlotCount = 16384;
Slot slots[kSlotCount];
// One past the last slot ever claimed: the handler and a forked child look
// no further, so that a few mappings cost a few slots' search.
std::atomic<int> slots_used{0};

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");

std::mutex install_mutex;
// The real-time signal the kernel sends when a lease is to be broken, or 0
// when none was free to take; set once, under install_mutex.
std::atomic<int> break_signal{0};
std::size_t page_size = 4096;

// Puts a private copy of the `length` bytes at `address` over them, made
// read-only: readers see the same bytes throughout, since mremap swaps the
// pages in one step. Only system calls and memcpy: it runs in the signal
// handler and in a child just made by fork.
bool copy_in_place(void* address, std::size_t length) {
  void* copy = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (copy == MAP_FAILED) return false;
  std::memcpy(copy, address, length);
  if (mprotect(copy, length, PROT_READ) != 0 ||
      mremap(copy, length, length, MREMAP_MAYMOVE | MREMAP_FIXED, address) == MAP_FAILED) {
    munmap(copy, length);
    return false;
  }
  return true;
}

// Asks for a lease-break signal to this process on `descriptor`, then the
// lease: refused when the file is open for writing anywhere, when it is not
// ours and we may not lease others' files, or by the file system.
bool take_lease(int descriptor, int signal) {
  return fcntl(descriptor, F_SETSIG, signal) == 0 && fcntl(descriptor, F_SETOWN, getpid()) == 0 &&
         fcntl(descriptor, F_SETLEASE, F_RDLCK) == 0;
}

// A writer is waiting for the lease on info->si_fd: copy that mapping
// while its bytes are intact, then let the writer go. A copy that fails
// (no memory) keeps the lease, so that the writer waits the kernel's
// lease-break time before it goes ahead regardless.
void on_lease_break(int, siginfo_t* info, void*) {
  const int saved_errno = errno;
  const int used = slots_used.load();
  for (int index = 0; index < used; ++index) {
    Slot& slot = slots[index];
    if (slot.descriptor.load() != info->si_fd) continue;
    int expected = kLeased;
    if (!slot.state.compare_exchange_strong(expected, kCopying)) continue;
    if (copy_in_place(slot.address, slot.length)) {
      fcntl(slot.descriptor.load(), F_SETLEASE, F_UNLCK);
      slot.state.store(kCopied);
    } else {
      slot.state.store(kLeased);
    }
  }
  errno = saved_errno;
}

// Writes "/proc/self/fd/<descriptor>" into `path` without the library's
// formatting, which a child of a threaded parent may not call.
void descriptor_path(int descriptor, char (&path)[40]) {
  static const char prefix[] = "/proc/self/fd/";
  std::memcpy(path, prefix, sizeof prefix);
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + descriptor % 10);
    descriptor /= 10;
  } while (descriptor > 0);
  char* out = path + sizeof prefix - 1;
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
}

// In a child just made by fork. The parent's leases are on descriptions
// the child shares, and their signals go to the parent, which copies its
// own mapping and gives the lease up: the child's mapping would then be
// unguarded. So each mapping gets a lease of the child's own, on a
// description opened afresh, or is copied when none can be had. A copy the
// parent had under way on another thread (which does not exist here) is
// redone. Until this is done the child is guarded only by the parent's
// lease, so the parent waits for it (before_fork, after_fork_in_parent).
thread_local int fork_pipe[2] = {-1, -1};

void after_fork_in_child() {
  const int signal = break_signal.load();
  const int used = slots_used.load();
  for (int index = 0; index < used; ++index) {
    Slot& slot = slots[index];
    const int state = slot.state.load();
    if (state != kLeased && state != kCopying) continue;
    const int inherited = slot.descriptor.load();
    char path[40];
    descriptor_path(inherited, path);
    const int own = open(path, O_RDONLY | O_CLOEXEC);
    if (own >= 0 && take_lease(own, signal)) {
      slot.descriptor.store(own);
      close(inherited);
      slot.state.store(kLeased);
      continue;
    }
    if (own >= 0) close(own);
    slot.state.store(copy_in_place(slot.address, slot.length) ? kCopied : kLeased);
  }
  if (fork_pipe[1] >= 0) {
    const char done = 1;
    while (write(fork_pipe[1], &done, 1) < 0 && errno == EINTR) {
    }
    close(fork_pipe[0]);
    close(fork_pipe[1]);
  }
}

// Before a fork with mappings live: a pipe on which the child says that
// its mappings are guarded. Per thread, since each thread may fork.
void before_fork() {
  fork_pipe[0] = fork_pipe[1] = -1;
  const int used = slots_used.load();
  for (int index = 0; index < used; ++index) {
    const int state = slots[index].state.load();
    if (state == kLeased || state == kCopying) {
      if (pipe2(fork_pipe, O_CLOEXEC) != 0) fork_pipe[0] = fork_pipe[1] = -1;
      return;
    }
  }
}

// fork returns in the parent once the child has its own leases or copies
// (or has died, which closes the pipe): a writer the parent lets through
// the moment after must not find the child's mapping unguarded.
void after_fork_in_parent() {
  if (fork_pipe[0] < 0) return;
  close(fork_pipe[1]);
  char done;
  while (read(fork_pipe[0], &done, 1) < 0 && errno == EINTR) {
  }
  close(fork_pipe[0]);
  fork_pipe[0] = fork_pipe[1] = -1;
}

// The signal the handler is installed for, installing it on first use in
// the highest real-time signal that nothing else handles; 0 when none is
// free, or when someone has since put another handler in its place.
int installed_signal() {
  std::lock_guard<std::mutex> lock(install_mutex);
  int signal = break_signal.load();
  if (signal == 0) {
    for (int candidate = SIGRTMAX; candidate >= SIGRTMIN && signal == 0; --candidate) {
      struct sigaction old {};
      if (sigaction(candidate, nullptr, &old) != 0) continue;
      if ((old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_sigaction = on_lease_break;
      action.sa_flags = SA_SIGINFO | SA_RESTART;
      sigemptyset(&action.sa_mask);
      if (sigaction(candidate, &action, nullptr) == 0) signal = candidate;
    }
    if (signal == 0) return 0;
    page_size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child) != 0) {
      // Without it a forked child would map unguarded: lease nothing.
      return 0;
    }
    break_signal.store(signal);
  }
  // Another handler put in ours place, or the signal blocked here (a
  // program that blocks every signal in every thread, to wait for them in
  // one): a writer would wait out the lease-break time and then go ahead.
  struct sigaction current {};
  sigset_t blocked;
  if (sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) == 0 ||
      current.sa_sigaction != on_lease_break ||
      pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, signal) != 0)
    return 0;
  return signal;
}

// Whether the file lives on a file system whose files change only through
// this kernel, which then breaks our lease first. On a network or FUSE
// file system a lease may be granted, but another machine, or the program
// behind the mount, writes without opening the file here.
bool changes_only_here(int descriptor) {
  struct statfs info {};
  if (fstatfs(descriptor, &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0xF2F52010:  // f2fs
    case 0x2FC12FC1:  // zfs
    case 0xCA451A4E:  // bcachefs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs, written through its mount
      return true;
    default:
      return false;
  }
}

int claim_slot(int descriptor, void* address, std::size_t length) {
  for (int index = 0; index < kSlotCount; ++index) {
    Slot& slot = slots[index];
    int expected = kFree;
    if (!slot.state.compare_exchange_strong(expected, kClaimed)) continue;
    slot.address = address;
    slot.length = length;
    slot.descriptor.store(descriptor);
    slot.state.store(kLeased);
    int used = slots_used.load();
    while (used <= index && !slots_used.compare_exchange_weak(used, index + 1)) {
    }
    return index;
  }
  return -1;
}

}  // namespace

std::unique_ptr<LeasedMapping> LeasedMapping::map(int descriptor, std::size_t size) {
  if (size == 0) return nullptr;
  const int signal = installed_signal();
  if (signal == 0) return nullptr;
  if (!changes_only_here(descriptor)) return nullptr;
  // A description of our own would do as well, but a duplicate keeps the
  // caller's shared flock for as long as the mapping lives.
  const int own = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return nullptr;
  const std::size_t length = (size + page_size - 1) / page_size * page_size;
  // Every page is read at once by the checksum: asking for them all in one
  // call saves a fault per page.
  void* address = mmap(nullptr, size, PROT_READ, MAP_SHARED | MAP_POPULATE, own, 0);
  if (address == MAP_FAILED) {
    close(own);
    return nullptr;
  }
  // The slot is leased before the lease is: no break can come without a
  // lease, and one that comes the moment after finds the slot ready.
  const int slot = claim_slot(own, address, length);
  if (slot < 0) {
    munmap(address, length);
    close(own);
    return nullptr;
  }
  std::unique_ptr<LeasedMapping> mapping(
      new LeasedMapping(slot, static_cast<const std::uint8_t*>(address), size));
  if (!take_lease(own, signal)) return nullptr;
  // Nothing has read the mapping yet, and from here on the file cannot
  // change unseen: a file that changed size since the caller looked is read
  // instead.
  struct stat info {};
  if (fstat(own, &info) != 0 || static_cast<std::size_t>(info.st_size) != size) return nullptr;
  return mapping;
}

LeasedMapping::~LeasedMapping() {
  Slot& slot = slots[slot_];
  for (;;) {
    int state = slot.state.load();
    if (state == kCopying) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      continue;
    }
    if (slot.state.compare_exchange_weak(state, kClosing)) break;
  }
  munmap(slot.address, slot.length);
  // Closing the descriptor gives the lease (and the flock) up.
  close(slot.descriptor.exchange(-1));
  slot.state.store(kFree);
}

bool LeasedMapping::copied() const {
  return slots[slot_].state.load() == kCopied;
}

#else

std::unique_ptr<LeasedMapping> LeasedMapping::map(int, std::size_t) {
  return nullptr;
}
LeasedMapping::~LeasedMapping() = default;
bool LeasedMapping::copied() const {
  return false;
}

#endif

}  // namespace kelvaro
