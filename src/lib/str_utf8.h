// The UTF-8 form of a str, as the interpreter keeps it with the object.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// The UTF-8 bytes of `str` (a str or a subclass of it) and their number, or
// null with the interpreter's exception pending when it has no UTF-8 form.
// The bytes belong to the str and live as long as it does.
//
// PyPy reports the size of an ASCII str subclass from the subclass's
// __len__, which may say anything, while the bytes it hands out are the
// true ones; trusting that size would read past them. For a subclass the
// size is therefore taken from an encoded copy, which PyPy makes from the
// characters themselves.
inline const char* str_utf8(PyObject* str, Py_ssize_t& size) {
  const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
#ifdef PYPY_VERSION
  if (utf8 != nullptr && !PyUnicode_CheckExact(str)) {
    PyRef copy = PyRef::steal(PyUnicode_AsUTF8String(str));
    if (!copy) return nullptr;
    size = PyBytes_GET_SIZE(copy.get());
  }
#endif
  return utf8;
}

}  // namespace kelvaro::py
