// Ctrl-C during a long native call: the hook that the core's loops call now
// and then (prefix/interrupt.h), answering a pending signal the way the
// interpreter would, with its handler's exception, usually KeyboardInterrupt.
//
// With the interpreter lock held the hook simply asks the interpreter.
// Work that runs without the lock (WithoutGil) cannot: on the main thread,
// the only one where Python runs signal handlers, the hook takes the lock
// back for a moment every few milliseconds to ask, and if a handler raised,
// leaves its exception pending on the thread and stops the work with
// Interrupted. Other threads never take the lock back: no handler would run
// there anyway.
#pragma once

#include <chrono>

#include "lib/py_error.h"
#include "lib/py_ref.h"
#include "prefix/interrupt.h"

namespace kelvaro::py {

// Installs the hook; each extension module calls it when it initialises.
void install_interrupt_hook() noexcept;

// Releases the interpreter lock for its lifetime, and takes it back when it
// ends, on the way out of an error too. Nothing between may touch a Python
// object.
class WithoutGil {
 public:
  WithoutGil();
  ~WithoutGil();
  WithoutGil(const WithoutGil&) = delete;
  WithoutGil& operator=(const WithoutGil&) = delete;

  // For a thread that waits on others: whether a signal handler has raised
  // since the last look (without the few milliseconds' wait between looks).
  // Throws Interrupted if so.
  static void poll();

  // The lock taken back for a while, on a thread inside a WithoutGil:
  // for handing on results while other threads still work. A PyError must
  // not leave it (its references need the lock to go): `run` makes one the
  // pending exception and throws Interrupted instead.
  template <typename Work>
  static void with_gil(Work&& work) {
    Regained regained;
    try {
      work();
    } catch (PyError& error) {
      std::move(error).restore();
      throw Interrupted();
    }
  }

  struct Released {
    PyThreadState* state;
    bool main_thread;
    std::chrono::steady_clock::time_point last_check;
  };

 private:
  class Regained {
   public:
    Regained();
    ~Regained();
    Regained(const Regained&) = delete;
    Regained& operator=(const Regained&) = delete;

   private:
    Released* released_;
  };

  Released released_;
  Released* previous_;
};

// What work() returns, computed without the interpreter lock.
template <typename Work>
auto without_gil(Work&& work) {
  WithoutGil unlocked;
  return work();
}

}  // namespace kelvaro::py
