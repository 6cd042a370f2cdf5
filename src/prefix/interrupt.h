// Interrupting long loops of the core.
//
// A lookup over a large trie, or the decoding or building of one, can run
// for seconds, and the person waiting must be able to stop it. The core knows
// nothing of who calls it, so whoever embeds it installs a hook, once, that
// checks whether the work should stop and throws if so; the exception then
// unwinds through the core like any other, releasing everything the
// operation built. Loops count their work with an InterruptCheck and call
// the hook every few thousand units: often enough to answer within a few
// milliseconds, rarely enough to cost nothing measurable.
//
// Work that the core spreads over threads of its own (index/parallel.h)
// never calls the hook there: those threads belong to no embedder. They
// watch a cancel flag instead, which the run raises when any part of it
// fails or the caller's thread is interrupted, and stop with Interrupted.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>

namespace kelvaro {

// A loop stopped because its run was cancelled. Whoever cancelled it knows
// why, and reports that instead.
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "interrupted"; }
};

class InterruptCheck {
 public:
  using Hook = void (*)();

  // Counts on the calling thread's count, which it must be used on (each
  // loop makes its own, on the thread that runs it).
  InterruptCheck() : countdown_(&thread_countdown()) {}

  // Installs the hook for every loop of the core that runs on this side of
  // the module boundary. Null turns checking off.
  static void install(Hook hook) noexcept { hook_ = hook; }

  // Counts `units` of work (each about as costly as visiting a node).
  void tick(std::uint32_t units = 1) {
    if (*countdown_ <= units) [[unlikely]] {
      *countdown_ = kInterval;
      check();
      return;
    }
    *countdown_ -= units;
  }

  // The state of the calling thread, while a parallel run uses it: the run's
  // cancel flag, and whether the thread is one the core started (no hook).
  struct ThreadState {
    const std::atomic<bool>* cancelled = nullptr;
    bool core_thread = false;
  };
  static ThreadState& thread_state() {
    static thread_local ThreadState state;
    return state;
  }

 private:
  static void check() {
    const ThreadState& state = thread_state();
    if (state.cancelled != nullptr && state.cancelled->load(std::memory_order_relaxed))
      throw Interrupted();
    if (hook_ != nullptr && !state.core_thread) hook_();
  }

  static std::uint32_t& thread_countdown() {
    static thread_local std::uint32_t countdown = kInterval;
    return countdown;
  }

  static constexpr std::uint32_t kInterval = 1u << 14;
  static inline Hook hook_ = nullptr;
  std::uint32_t* countdown_;
};

}  // namespace kelvaro
