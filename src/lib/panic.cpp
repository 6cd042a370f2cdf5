#include "lib/panic.h"

#include "lib/py_ref.h"

namespace kelvaro::py {
namespace {

constexpr const char* kPanicDoc =
    "The exception raised when kelvaro's native code fails with an internal error.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that\n"
    "`except Exception` does not catch it: it typically propagates all the way up\n"
    "the stack and makes the interpreter exit.";

// Created on the first internal error and kept for the life of the process.
PyObject* panic_type = nullptr;

PyObject* get_panic_type() {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                           PyExc_BaseException, nullptr);
  }
  return panic_type;
}

}  // namespace

void raise_panic(std::string_view message) noexcept {
  PyObject* type = get_panic_type();
  if (type == nullptr) return;
  PyRef text = PyRef::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return;
  PyErr_SetObject(type, text.get());
}

}  // namespace kelvaro::py
