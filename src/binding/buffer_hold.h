// A bytes-like object's memory, held for as long as this lives: the
// exporter (bytes, a memoryview of a mapped file) keeps it in place and
// unchanged until release, on error paths too.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "lib/py_error.h"

namespace kelvaro::py {

class BufferHold {
 public:
  // Throws PyError when `object` exports no buffer as
  // `flags` ask for (PyBUF_STRIDES | PyBUF_FORMAT: with its items' format
  // and its layout, which may have gaps).
  explicit BufferHold(PyObject* object, int flags = PyBUF_SIMPLE) {
    if (PyObject_GetBuffer(object, &view_, flags) != 0) throw PyError::fetch();
  }
  ~BufferHold() { PyBuffer_Release(&view_); }
  BufferHold(const BufferHold&) = delete;
  BufferHold& operator=(const BufferHold&) = delete;

  // The object whose memory this is. Borrowed: held as long as this lives.
  PyObject* exporter() const { return view_.obj; }

  std::span<const std::uint8_t> bytes() const {
    return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }
  bool read_only() const { return view_.readonly != 0; }
  // (PyPy declares the view it reads without const.)
  bool contiguous() const {
    return PyBuffer_IsContiguous(const_cast<Py_buffer*>(&view_), 'C') != 0;
  }
  // The bytes of a buffer that is not read-only.
  std::span<std::uint8_t> writable_bytes() const {
    return {static_cast<std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }
  // The struct format of an item, as PyBUF_FORMAT asks for ("B" without).
  std::string_view format() const { return view_.format != nullptr ? view_.format : "B"; }
  std::size_t item_size() const { return static_cast<std::size_t>(view_.itemsize); }

 private:
  Py_buffer view_{};
};

}  // namespace kelvaro::py
