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

#include <string_view>
#include <vector>

#include "index/word_index.h"
#include "lib/py_ref.h"

namespace kelvaro::py {

// The type object, created on first need. Throws PyError when it cannot be.
PyTypeObject* native_index_type();

// The class of the matches that lookups return (kelvaro.Match), given once
// by the package when it is imported.
extern PyMethodDef set_match_type_definition;

// For the other native functions of an index (running text): the WordIndex
// of a NativeIndex, borrowed from it, valid while the object lives; the
// matches as a list of kelvaro.Match with the words as they were given; a
// stored key's word as it was given.
const WordIndex& word_index_of(PyObject* index);
PyRef matches_to_py(const WordIndex& index, const std::vector<Match>& matches);
PyRef spelling_to_py(const WordIndex& index, std::string_view key);

}  // namespace kelvaro::py
