// The searches of kelvaro.Index, as functions of kelvaro._builder: they take
// the index's PrefixSearch and the lookup tables that prepare() makes for
// it, so that _kelvaro's own surface stays what it is.
#pragma once

#include "lib/py_ref.h"
#include "search/suggestions.h"

namespace kelvaro::py {

// prepare, search, spell, suggest, complete, and the closing sentinel.
extern PyMethodDef index_functions[6];

// The tries of an index from its PrefixSearch and the tables that prepare
// made for it, for the other functions that search an index; borrowed from
// the two objects.
IndexTries index_tries_of(PyObject* trie, PyObject* tables);

}  // namespace kelvaro::py
