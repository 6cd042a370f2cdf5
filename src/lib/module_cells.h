// The module-level objects of the two extension modules, all in one place:
// each filled once under the interpreter lock (when its module is
// initialised, or on first need) and kept for the life of the process, so
// that no call looks one up again. Each module has its own copy; a module
// fills only the cells it uses. (PanicException's cell lives in the small
// shared library that both modules load, so that the process has one such
// type, not one per module.)
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

struct ModuleCells {
  // _kelvaro itself: a second initialisation returns the same module.
  PyObject* module = nullptr;
  // _kelvaro.PrefixSearch: made by _kelvaro; imported by the native index,
  // whose Index.trie hands out its instances, so that both use one type.
  PyTypeObject* prefix_search = nullptr;
  // The native index's own type, NativeIndex.
  PyTypeObject* native_index = nullptr;
  // The native index's mapped file (binding/mapped_file.h).
  PyTypeObject* mapped_file = nullptr;
  // kelvaro.Match, the class of every lookup's results: a tuple subclass
  // defined in Python (kelvaro/_match.py), which imports nothing of the
  // package, so that the native index can import it while the package loads.
  PyTypeObject* match = nullptr;
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
