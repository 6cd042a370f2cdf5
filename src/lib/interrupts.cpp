#include "lib/interrupts.h"

#include "lib/py_error.h"

namespace kelvaro::py {
namespace {

// Runs the handlers of pending signals (on the main thread only, where
// Python runs them); one that raises abandons the native call, which unwinds
// as any other failure does and leaves every object as it was.
void check_signals() {
  if (PyErr_CheckSignals() != 0) throw PyError::fetch();
}

}  // namespace

void install_interrupt_hook() noexcept {
  InterruptCheck::install(check_signals);
}

}  // namespace kelvaro::py
