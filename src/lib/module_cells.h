// The process-wide objects of _kelvaro, all in one place: each filled once,
// on first need, under the interpreter lock, and kept for the life of the
// process. (PanicException's cell lives in the small shared library that
// both modules load, so that the process has one such type, not one per
// module.)
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

struct ModuleCells {
  // _kelvaro itself: a second initialisation returns the same module.
  PyObject* module = nullptr;
  // The PrefixSearch type.
  PyTypeObject* prefix_search = nullptr;
  // Attribute names, interned: a name made afresh for each lookup stays
  // referenced from the interpreter's type attribute cache, in a slot
  // chosen by its address, until another lookup evicts it.
  PyObject* all_name = nullptr;
  PyObject* name_name = nullptr;
  PyObject* qualname_name = nullptr;
};

inline ModuleCells& module_cells() {
  static ModuleCells cells;
  return cells;
}

}  // namespace kelvaro::py
