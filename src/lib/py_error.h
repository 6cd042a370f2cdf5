// PyError: a Python exception on its way out of the module.
//
// Ordinary failures (argument binding, conversions, a C-API call that set an
// exception) are thrown as PyError and caught only by the calling frame,
// which makes it the pending exception. Internal errors travel separately as
// kelvaro::InternalError and become PanicException.
#pragma once

#include <string>

#include <string_view>

#include "lib/py_ref.h"

namespace kelvaro::py {

class PyError {
 public:
  // An error the module raises itself: an exception of `type` whose one
  // argument is `message`.
  PyError(PyObject* type, std::string_view message);
  PyError(PyObject* type, PyRef message);

  // An error carried by an exception instance.
  static PyError from_instance(PyRef instance);

  // Takes over the pending exception after a C-API call reported failure;
  // SystemError "attempted to fetch exception but none was set" when there
  // is none.
  static PyError fetch();

  // Makes this the pending exception.
  void restore() &&;

  bool is_exactly(PyObject* type) const { return type_.get() == type; }

  // The exception instance, created now if there was none yet.
  PyRef instance();

 private:
  enum class Form { message, fetched, instance };
  PyError(Form form, PyRef type, PyRef value, PyRef traceback);

  Form form_;
  PyRef type_;
  PyRef value_;
  PyRef traceback_;
};

// Throws PyError::fetch() when a C-API call returned null.
inline PyRef checked(PyObject* result) {
  if (result == nullptr) [[unlikely]]
    throw PyError::fetch();
  return PyRef::steal(result);
}

// Throws PyError::fetch() when a C-API call returned its failure value -1.
inline void checked_status(int status) {
  if (status == -1) [[unlikely]]
    throw PyError::fetch();
}

// Throws the TypeError or ValueError with `message`.
[[noreturn]] inline void throw_type_error(const std::string& message) {
  throw PyError(PyExc_TypeError, message);
}
[[noreturn]] inline void throw_value_error(const std::string& message) {
  throw PyError(PyExc_ValueError, message);
}

}  // namespace kelvaro::py
