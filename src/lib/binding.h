// Argument binding: from the interpreter's vectorcall arguments to one slot
// per parameter, with the interpreter's own wording for every mistake.
#pragma once

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "lib/py_error.h"

namespace kelvaro::py {

// Every callable of the modules has at most ten parameters.
inline constexpr std::size_t kMaxParameters = 10;

// A callable's parameters: the first `positional` may come by position,
// the rest by keyword only, and the first `required` must be given; by
// default all of them are both. Mistakes are told in Python's own words,
// which differ between the two shapes: a function whose parameters are all
// required is told as a Python function is ("takes 2 positional arguments
// but 3 were given"), one with optional parameters as a builtin is ("takes
// at most 3 positional arguments (4 given)").
struct FunctionDescription {
  static constexpr std::size_t kAll = kMaxParameters + 1;

  const char* class_name;  // null for module functions
  const char* function_name;
  std::span<const char* const> parameters;
  std::size_t positional = kAll;
  std::size_t required = kAll;

  std::size_t positional_count() const { return std::min(positional, parameters.size()); }
  std::size_t required_count() const { return std::min(required, parameters.size()); }
  bool all_required() const {
    return positional_count() == parameters.size() && required_count() == parameters.size();
  }
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
