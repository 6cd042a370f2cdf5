// The calling frame: every entry from the interpreter into the module runs
// its body inside one of these.
//
// The body either returns its result or throws. A PyError becomes the
// pending exception; an InternalError becomes PanicException. By the time
// the frame sees either, unwinding has already released everything the body
// had built, so no entry needs cleanup code of its own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

#include "lib/panic.h"
#include "lib/py_error.h"
#include "prefix/internal_error.h"
#include "prefix/interrupt.h"

namespace kelvaro::py {

// For entries that return an object: the body returns a PyRef, and the entry
// returns it as a new reference, or null with an exception set.
template <typename Body>
PyObject* run_in_frame(Body&& body) noexcept {
  try {
    return std::forward<Body>(body)().release();
  } catch (PyError& error) {
    std::move(error).restore();
  } catch (const InternalError& error) {
    raise_panic(error.message());
  } catch (const Interrupted&) {
    // A signal handler raised while the work ran without the interpreter
    // lock, and its exception is pending already.
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    // Storage that cannot even be sized.
    report_failure("capacity overflow");
    raise_panic("capacity overflow");
  } catch (...) {
    report_failure("unexpected exception in native code");
    raise_panic("unexpected exception in native code");
  }
  return nullptr;
}

// For entries that cannot report a failure, such as the release of an object.
template <typename Body>
void run_in_frame_without_result(Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::abort();
  }
}

}  // namespace kelvaro::py
