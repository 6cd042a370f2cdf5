// The module-level objects of kelvaro._native_index, all in one place: made
// or imported once, when the module is initialised, and kept for the life of
// the process, so that no call looks one up again.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

struct ModuleState {
  // NativeIndex, the index type (native_index.h).
  PyTypeObject* index_type = nullptr;
  // kelvaro.Match, the class of every lookup's results: a tuple subclass
  // defined in Python (kelvaro/_match.py), which imports nothing of the
  // package, so that this module can import it while the package loads.
  PyTypeObject* match_type = nullptr;
  // _kelvaro.PrefixSearch, whose instances Index.trie hands out: imported,
  // so that both modules use the one type.
  PyTypeObject* prefix_search_type = nullptr;
  // "__name__", interned: a name made afresh for each lookup would stay
  // referenced from the interpreter's type attribute cache.
  PyObject* name_attribute = nullptr;
};

// The state; filled by init_module_state before anything reads it.
// Borrowed references, all of them.
const ModuleState& module_state();

// Fills the state, or throws PyError. Called once, from the module's
// initialisation, with the interpreter lock held.
void init_module_state(PyTypeObject* index_type);

}  // namespace kelvaro::py
