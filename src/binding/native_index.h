// kelvaro._native_index.NativeIndex: the index as one native object.
//
// It is made from the image of an index file (bytes, or a memoryview of a
// mapped file, read in place) and the normalize function, checks the image
// once, and owns the WordIndex that answers every lookup. Its methods
// (lookups.h) take their arguments once, apply the normalisation, run
// without the interpreter lock, and return finished lists of kelvaro.Match.
// kelvaro.Index is its Python subclass, which adds building, files,
// pickling and the rest.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/buffer_hold.h"
#include "format/index_file.h"
#include "index/word_index.h"
#include "lib/py_ref.h"

namespace kelvaro::py {

// What a NativeIndex holds. The tries and the word tables are read in
// place from the image, which the buffer holds still; an image that is not
// 8-byte aligned, as the arrays need, is copied once.
struct IndexState {
  std::unique_ptr<BufferHold> buffer;
  std::vector<std::uint64_t> aligned_copy;
  IndexFile file;
  CompactTrie forward;
  std::optional<CompactTrie> backward;
  PyRef normalize;  // None for none
  PyRef trie;       // the PrefixSearch that `trie` gives, once asked for
  std::unique_ptr<WordIndex> index;
};

// The type object, made on first need (the module's initialisation) and
// kept in the module's cells.
PyTypeObject* native_index_type();

// The state of a NativeIndex, or TypeError for one whose making failed.
const IndexState& state_of(PyObject* self);
// The same for an argument that must be an index, or TypeError.
const IndexState& index_argument(PyObject* object);

// The key of a word, query or prefix: the str itself, or what the index's
// normalize function makes of it. `name` names the argument in messages.
std::u32string key_of(const IndexState& state, PyObject* text, std::string_view name);

// The matches as a list of kelvaro.Match with the words as they were
// given; a stored key's word as it was given.
PyRef matches_to_py(const WordIndex& index, const std::vector<Match>& matches);
PyRef spelling_to_py(const WordIndex& index, std::string_view key);

}  // namespace kelvaro::py
