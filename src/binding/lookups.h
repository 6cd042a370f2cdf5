// The lookups of a NativeIndex: get, search, suggest, complete, their batch
// forms and `in`. Each binds and converts its arguments once, runs the
// WordIndex's answer without the interpreter lock (a batch on a pool of
// threads), and returns finished Python objects.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// The lookup methods, with their closing sentinel.
extern PyMethodDef lookup_methods[];

// `word in index`: 1 or 0, or -1 with an exception set.
int contains(PyObject* self, PyObject* word);

}  // namespace kelvaro::py
