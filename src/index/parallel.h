// Running a batch of independent items on several threads.
//
// The items are cut into small chunks, claimed from one counter, so that a
// few slow items do not leave the other threads idle. The calling thread
// works too, and it alone hands the finished chunks on, in order, to
// `consume` (which turns them into the caller's results): it hands on
// whatever is finished whenever it can, and claims a chunk of its own
// only when nothing is, so that handing on overlaps with the other
// threads' work instead of waiting for all of it. While it waits, it calls
// `poll` every few milliseconds, so that the caller can notice an
// interruption. The first failure, of any thread, of consume or of poll,
// cancels every other thread (see InterruptCheck) and is rethrown in the
// caller once all have stopped.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "prefix/interrupt.h"

namespace kelvaro {

template <typename Work, typename Consume, typename Poll>
void run_in_parallel(std::size_t count, unsigned threads, Work&& work, Consume&& consume,
                     Poll&& poll) {
  if (count == 0) return;
  // Chunks small enough to share out unevenly sized items and to hand on
  // results early, large enough that the counter is not fought over.
  const std::size_t chunk =
      std::clamp<std::size_t>(count / (std::size_t{std::max(threads, 1u)} * 16), 1, 64);
  const std::size_t chunks = (count + chunk - 1) / chunk;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> cancelled{false};
  const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[chunks]);
  for (std::size_t i = 0; i < chunks; ++i) done[i].store(false, std::memory_order_relaxed);
  std::mutex mutex;
  std::condition_variable progress;
  std::exception_ptr failure;
  unsigned running = 0;

  const auto fail = [&](std::exception_ptr error) {
    std::lock_guard lock(mutex);
    // The first failure is the one to report; the threads it cancelled
    // report only that.
    if (!failure) failure = error;
    cancelled.store(true);
    progress.notify_all();
  };
  // Claims and works one chunk; false when none is left.
  const auto work_one = [&] {
    const std::size_t claimed = next.fetch_add(1);
    if (claimed >= chunks) return false;
    const std::size_t end = std::min(count, (claimed + 1) * chunk);
    // Every item counts as some work, however little its own loops count.
    InterruptCheck interrupts;
    for (std::size_t i = claimed * chunk; i < end; ++i) {
      interrupts.tick();
      work(i);
    }
    {
      std::lock_guard lock(mutex);
      done[claimed].store(true, std::memory_order_release);
    }
    progress.notify_all();
    return true;
  };
  InterruptCheck::ThreadState& state = InterruptCheck::thread_state();
  const InterruptCheck::ThreadState saved = state;
  state.cancelled = &cancelled;

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
        InterruptCheck::ThreadState& mine = InterruptCheck::thread_state();
        mine.core_thread = true;
        mine.cancelled = &cancelled;
        try {
          while (!cancelled.load(std::memory_order_relaxed) && work_one()) {
          }
        } catch (...) {
          fail(std::current_exception());
        }
        std::lock_guard lock(mutex);
        --running;
        progress.notify_all();
      });
    } catch (...) {
      // No more threads to be had: those already started, and this one,
      // do the work.
      std::lock_guard lock(mutex);
      --running;
      break;
    }
  }

  // The caller: hands on finished chunks in order, works when it can.
  try {
    for (std::size_t handed = 0; handed < chunks && !cancelled.load();) {
      if (done[handed].load(std::memory_order_acquire)) {
        consume(handed * chunk, std::min(count, (handed + 1) * chunk));
        ++handed;
        continue;
      }
      if (work_one()) continue;
      // Nothing to claim: wait for the next chunk in order.
      std::unique_lock lock(mutex);
      if (!progress.wait_for(lock, std::chrono::milliseconds(10), [&] {
            return done[handed].load(std::memory_order_acquire) || cancelled.load();
          })) {
        lock.unlock();
        poll();
      }
    }
  } catch (...) {
    fail(std::current_exception());
  }
  {
    std::unique_lock lock(mutex);
    while (running > 0) {
      if (progress.wait_for(lock, std::chrono::milliseconds(10), [&] { return running == 0; }))
        break;
      lock.unlock();
      try {
        poll();
      } catch (...) {
        fail(std::current_exception());
      }
      lock.lock();
    }
  }
  for (std::thread& thread : pool) thread.join();
  state = saved;
  if (failure) std::rethrow_exception(failure);
}

}  // namespace kelvaro
