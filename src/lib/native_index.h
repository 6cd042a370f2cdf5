// kelvaro._native_index.NativeIndex: the index as one native object.
//
// It owns the index's trie (through the _kelvaro.PrefixSearch that holds
// it), the spelling tables and the lookup tables (a WordIndex), and the
// normalize function. Its methods take their arguments once, apply the
// normalisation, run the lookup without the interpreter lock, and return
// the finished list of kelvaro.Match; the batch methods do the same for
// many queries over a pool of threads. kelvaro.Index is its Python
// subclass, which adds building, files, pickling and the rest.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// The type object, created on first need. Throws PyError when it cannot be.
PyTypeObject* native_index_type();

// The class of the matches that lookups return (kelvaro.Match), given once
// by the package when it is imported.
extern PyMethodDef set_match_type_definition;

}  // namespace kelvaro::py
