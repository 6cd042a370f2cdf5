// Argument binding: from the interpreter's vectorcall arguments to one slot
// per parameter, with the interpreter's own wording for every mistake.
#pragma once

#include <array>
#include <span>
#include <string>

#include "lib/py_error.h"

namespace kelvaro::py {

// Every callable of the modules has at most ten parameters, all required,
// all accepted by position or by keyword.
inline constexpr std::size_t kMaxParameters = 10;

struct FunctionDescription {
  const char* class_name;  // null for module functions
  const char* function_name;
  std::span<const char* const> parameters;

  // "PrefixSearch.fuzzy_match()" or "from_bytes()", as messages begin.
  std::string display_name() const;
};

// Method tables store every entry as a PyCFunction; the METH_FASTCALL and
// METH_KEYWORDS flags tell the interpreter the entry's real signature.
// (PyPy declares that signature with a non-const argument array.)
using FastcallEntry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
inline PyCFunction fastcall_entry(FastcallEntry entry) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// Borrowed references to the argument objects, one per parameter.
using ArgumentSlots = std::array<PyObject*, kMaxParameters>;

// Fills one slot per parameter or throws the TypeError of the first mistake.
ArgumentSlots bind_arguments(const FunctionDescription& function, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames);

// The error to raise when converting the argument `parameter` failed: a
// TypeError is renamed "argument '<parameter>': <message>", keeping its
// cause; anything else passes unchanged.
PyError argument_error(const char* parameter, PyError error);

// Converts the argument of parameter `index` with `convert`, reporting a
// failure through argument_error.
template <typename Convert>
auto convert_argument(const FunctionDescription& function, const ArgumentSlots& slots,
                      std::size_t index, Convert&& convert) {
  try {
    return convert(slots[index]);
  } catch (PyError& error) {
    throw argument_error(function.parameters[index], std::move(error));
  }
}

}  // namespace kelvaro::py
