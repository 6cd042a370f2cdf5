#include "lib/interrupts.h"

#include "lib/py_error.h"

namespace kelvaro::py {
namespace {

// How often a thread without the lock takes it back to look for signals.
constexpr auto kSignalInterval = std::chrono::milliseconds(10);

// The calling thread's released lock, while it has one.
thread_local WithoutGil::Released* released = nullptr;

// The thread that runs signal handlers, found when the hook is installed.
unsigned long main_thread = 0;

void find_main_thread() {
  PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
  PyRef main = threading
                   ? PyRef::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                   : PyRef();
  PyRef ident = main ? PyRef::steal(PyObject_GetAttrString(main.get(), "ident")) : PyRef();
  if (ident) main_thread = PyLong_AsUnsignedLong(ident.get());
  // Without it, no thread takes the lock back; Ctrl-C then waits for the
  // call's end, as it would in any native call.
  if (PyErr_Occurred()) PyErr_Clear();
}

// Takes the lock back, asks, and gives it up again. The handler's exception,
// if any, stays pending on this thread for the call to report.
void look_for_signals(WithoutGil::Released& record) {
  record.last_check = std::chrono::steady_clock::now();
  PyEval_RestoreThread(record.state);
  const int status = PyErr_CheckSignals();
  record.state = PyEval_SaveThread();
  if (status != 0) throw Interrupted();
}

// Runs the handlers of pending signals (on the main thread only, where
// Python runs them); one that raises abandons the native call, which unwinds
// as any other failure does and leaves every object as it was.
void check_signals() {
  WithoutGil::Released* record = released;
  if (record == nullptr) {
    if (PyErr_CheckSignals() != 0) throw PyError::fetch();
    return;
  }
  if (!record->main_thread) return;
  if (std::chrono::steady_clock::now() - record->last_check < kSignalInterval) return;
  look_for_signals(*record);
}

}  // namespace

void install_interrupt_hook() noexcept {
  if (main_thread == 0) find_main_thread();
  InterruptCheck::install(check_signals);
}

WithoutGil::WithoutGil() : previous_(released) {
  released_.main_thread = main_thread != 0 && PyThread_get_thread_ident() == main_thread;
  released_.last_check = std::chrono::steady_clock::now();
  released_.state = PyEval_SaveThread();
  released = &released_;
}

WithoutGil::~WithoutGil() {
  released = previous_;
  PyEval_RestoreThread(released_.state);
}

WithoutGil::Regained::Regained() : released_(released) {
  PyEval_RestoreThread(released_->state);
  // Looking for signals needs the lock only on the way in; Python code run
  // meanwhile looks for them itself.
  released = nullptr;
}

WithoutGil::Regained::~Regained() {
  released_->state = PyEval_SaveThread();
  released = released_;
}

void WithoutGil::poll() {
  WithoutGil::Released* record = released;
  if (record != nullptr && record->main_thread) look_for_signals(*record);
}

}  // namespace kelvaro::py
