// A bytes-like object's memory, held for as long as this lives: the
// exporter (bytes, a memoryview of a mapped file) keeps it in place and
// unchanged until release, on error paths too.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "lib/py_error.h"

namespace kelvaro::py {

class BufferHold {
 public:
  // Throws PyError when `object` exports no contiguous buffer.
  explicit BufferHold(PyObject* object) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) != 0) throw PyError::fetch();
  }
  ~BufferHold() { PyBuffer_Release(&view_); }
  BufferHold(const BufferHold&) = delete;
  BufferHold& operator=(const BufferHold&) = delete;

  // The object whose memory this is. Borrowed: held as long as this lives.
  PyObject* exporter() const { return view_.obj; }

  std::span<const std::uint8_t> bytes() const {
    return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
};

}  // namespace kelvaro::py
