// Running a batch of independent items on several threads.
//
// The items are claimed in small chunks from one counter, so that a few
// slow items do not leave the other threads idle, and each item's result
// goes to its own slot: the results come out in the items' order whatever
// thread computed them. The calling thread works too, and once the items
// run out it waits for the others, calling `poll` every few milliseconds
// so that the caller can notice an interruption and cancel the rest. The
// first failure, of any thread or of poll, cancels every other thread (see
// InterruptCheck) and is rethrown in the caller once all have stopped.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "prefix/interrupt.h"

namespace kelvaro {

template <typename Work, typename Poll>
void run_in_parallel(std::size_t count, unsigned threads, Work&& work, Poll&& poll) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> cancelled{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::exception_ptr failure;
  unsigned running = 0;
  // Chunks small enough to share out unevenly sized items, large enough
  // that the counter is not fought over.
  const std::size_t chunk =
      std::clamp<std::size_t>(count / (std::size_t{std::max(threads, 1u)} * 16), 1, 64);
  const auto fail = [&](std::exception_ptr error) {
    std::lock_guard lock(mutex);
    // The first failure is the one to report; the threads it cancelled
    // report only that.
    if (!failure) failure = error;
    cancelled.store(true);
  };
  const auto claim_and_work = [&] {
    InterruptCheck::ThreadState& state = InterruptCheck::thread_state();
    const InterruptCheck::ThreadState saved = state;
    state.cancelled = &cancelled;
    try {
      while (!cancelled.load(std::memory_order_relaxed)) {
        const std::size_t begin = next.fetch_add(chunk);
        if (begin >= count) break;
        const std::size_t end = std::min(count, begin + chunk);
        for (std::size_t i = begin; i < end; ++i) work(i);
      }
    } catch (...) {
      fail(std::current_exception());
    }
    state = saved;
  };

  if (count == 0) return;
  const std::size_t chunks = (count + chunk - 1) / chunk;
  const unsigned helpers = static_cast<unsigned>(std::min<std::size_t>(threads, chunks)) - 1;
  std::vector<std::thread> pool;
  pool.reserve(helpers);
  for (unsigned i = 0; i < helpers; ++i) {
    {
      std::lock_guard lock(mutex);
      ++running;
    }
    try {
      pool.emplace_back([&] {
        InterruptCheck::thread_state().core_thread = true;
        claim_and_work();
        std::lock_guard lock(mutex);
        --running;
        finished.notify_all();
      });
    } catch (...) {
      // No more threads to be had: those already started, and this one,
      // do the work.
      std::lock_guard lock(mutex);
      --running;
      break;
    }
  }
  claim_and_work();
  std::unique_lock lock(mutex);
  while (running > 0) {
    if (finished.wait_for(lock, std::chrono::milliseconds(10), [&] { return running == 0; })) break;
    lock.unlock();
    try {
      poll();
    } catch (...) {
      fail(std::current_exception());
    }
    lock.lock();
  }
  lock.unlock();
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvaro
