#include "binding/arguments.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "lib/conversions.h"
#include "lib/module_cells.h"
#include "lib/py_error.h"

namespace kelvaro::py {

std::string type_name(PyObject* object) {
  PyRef name = checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                        interned(module_cells().name_name, "__name__")));
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) throw PyError::fetch();
  return std::string(text, static_cast<std::size_t>(size));
}

std::uint64_t to_count(PyObject* object, const char* name) {
  if (PyBool_Check(object)) throw_type_error(std::string(name) + " must be an int, not bool");
  PyRef number = PyRef::steal(PyNumber_Index(object));
  if (!number) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyError::fetch();
    PyErr_Clear();
    throw_type_error(std::string(name) + " must be an int, not " + type_name(object));
  }
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
  if (small == -1 && PyErr_Occurred()) throw PyError::fetch();
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    PyRef text = checked(PyObject_Str(number.get()));
    throw PyError(PyExc_ValueError,
                  checked(PyUnicode_FromFormat("%s must be 0 or more, not %U", name, text.get())));
  }
  if (overflow == 0) return static_cast<std::uint64_t>(small);
  const unsigned long long large = PyLong_AsUnsignedLongLong(number.get());
  if (large == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::numeric_limits<std::uint64_t>::max();
  }
  return large;
}

std::uint64_t count_or(PyObject* object, const char* name, std::uint64_t otherwise) {
  return object == nullptr ? otherwise : to_count(object, name);
}

std::optional<std::uint64_t> limit_or(PyObject* object, std::optional<std::uint64_t> otherwise) {
  if (object == nullptr) return otherwise;
  if (object == Py_None) return std::nullopt;
  return to_count(object, "limit");
}

bool flag_or(PyObject* object, const char* name, bool otherwise) {
  if (object == nullptr) return otherwise;
  if (!PyBool_Check(object))
    throw_type_error(std::string(name) + " must be True or False, not " + type_name(object));
  return object == Py_True;
}

unsigned threads_of(PyObject* object) {
  if (object == nullptr || object == Py_None)
    return std::max(1u, std::thread::hardware_concurrency());
  if (PyBool_Check(object) || !PyLong_Check(object))
    throw_type_error("threads must be an int or None, not " + type_name(object));
  const long long threads = PyLong_AsLongLong(object);
  if (threads == -1 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PyError::fetch();
    PyErr_Clear();
    return 1024;
  }
  if (threads < 1) throw_value_error("threads must be 1 or more, not " + std::to_string(threads));
  // More threads than this only take turns.
  return static_cast<unsigned>(std::min<long long>(threads, 1024));
}

double suspects_of(PyObject* object) {
  if (object == nullptr || object == Py_None) return 0.0;
  if (PyBool_Check(object) || !(PyLong_Check(object) || PyFloat_Check(object)))
    throw_type_error("suspects must be a number or None, not " + type_name(object));
  const double ratio = PyFloat_AsDouble(object);
  if (ratio == -1.0 && PyErr_Occurred()) throw PyError::fetch();
  if (ratio > 0 && std::isfinite(ratio)) return ratio;
  PyRef shown = checked(PyObject_Repr(object));
  throw PyError(PyExc_ValueError,
                checked(PyUnicode_FromFormat(
                    "suspects must be a finite number above 0, or None, not %U", shown.get())));
}

}  // namespace kelvaro::py
