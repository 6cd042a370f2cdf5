// PyRef: the one owner of a strong reference to a Python object.
//
// Every reference the module creates is held by a PyRef from the line that
// creates it, so that every path out of a function, an error or an internal
// error included, releases it exactly once.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kelvaro::py {

class PyRef {
 public:
  PyRef() = default;

  // Takes over a new reference (which may be null).
  static PyRef steal(PyObject* object) { return PyRef(object); }
  // Adds a reference of its own to a borrowed one.
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef& other) : object_(other.object_) { Py_XINCREF(object_); }
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // Hands the reference to the caller, for an API that steals it or for the
  // value an entry returns to the interpreter.
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace kelvaro::py
