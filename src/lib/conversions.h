// Conversions between Python objects and the system's values.
//
// From Python: each function converts one argument object or throws the
// PyError that says why it cannot (binding.h adds the parameter's name).
// To Python: each function makes a new object. A failure there is an
// internal error, "Python API call failed": the arguments were fine, and
// only the interpreter can have run out of something.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <source_location>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/py_error.h"
#include "prefix/interrupt.h"
#include "prefix/queries.h"
#include "prefix/trie.h"

namespace kelvaro::py {

// TypeError "'<type's qualified name>' object cannot be converted to '<target>'".
PyError downcast_error(PyObject* object, const char* target);

bool to_bool(PyObject* object);
std::uint32_t to_u32(PyObject* object);
std::uint64_t to_u64(PyObject* object);
std::optional<std::uint64_t> to_optional_u64(PyObject* object);

// The UTF-8 form of a str, borrowed from the str object: valid while it is.
std::string_view to_utf8(PyObject* object);
// The characters of a str: _kelvaro's argument, which must have a UTF-8
// form, so that a lone surrogate is refused as the interpreter refuses it.
std::u32string to_chars(PyObject* object);
// The characters of `str`, which must be a str, lone surrogates included:
// the index's queries and texts, where a surrogate is a character that no
// stored key holds, so every distance comes out as it should. Read from the
// str's own storage where the interpreter allows, with no encoded copy.
std::u32string str_chars(PyObject* str);

// Array arguments: any sequence but a str, read through its iterator, one
// element rule per kind.
std::vector<std::uint32_t> to_u32_array(PyObject* object);
std::vector<std::uint8_t> to_u8_array(PyObject* object);

// The contents of a bytes object, borrowed from it: valid while it is, and
// bytes never change.
std::span<const std::uint8_t> to_byte_view(PyObject* object);
std::vector<std::optional<Payload>> to_optional_u32_array(PyObject* object);
// Per str, its first character, or none for the empty str.
std::vector<OptionalChar> to_first_char_array(PyObject* object);

// The interned str of `text`, made on first need into `cell` and kept for
// the life of the process. Attribute lookups take their names from here: a
// name made afresh for each lookup stays referenced from the interpreter's
// type attribute cache, in a slot chosen by its address, until another
// lookup evicts it.
PyObject* interned(PyObject*& cell, const char* text);

// Checks the result of one of the interpreter's constructors.
PyRef made(PyObject* result, std::source_location where = std::source_location::current());

PyRef u32_to_py(std::uint32_t value);
PyRef u64_to_py(std::uint64_t value);
PyRef optional_u32_to_py(std::optional<std::uint32_t> value);
PyRef text_to_py(std::string_view utf8);
PyRef char_to_py(char32_t ch);

// A match as the tuple (text, payload, distance).
PyRef match_to_py(const Match& match);

// A tuple of elements already made, first to last. Braced initialisation
// makes them in that order: tuple_to_py<2>({first(), second()}).
template <std::size_t N>
PyRef tuple_to_py(std::array<PyRef, N>&& elements) {
  PyRef tuple = made(PyTuple_New(N));
  for (std::size_t i = 0; i < N; ++i)
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), elements[i].release());
  return tuple;
}

// A list made at its final length, one element per item of `items`.
template <typename Items, typename ToPy>
PyRef list_to_py(const Items& items, ToPy to_py) {
  PyRef list = made(PyList_New(static_cast<Py_ssize_t>(items.size())));
  // A long text's findings or a batch's results take a while to make, and
  // Ctrl-C may stop it halfway: the list's empty slots are released as such.
  InterruptCheck interrupts;
  Py_ssize_t index = 0;
  for (const auto& item : items) {
    interrupts.tick(8);
    PyList_SET_ITEM(list.get(), index++, to_py(item).release());
  }
  return list;
}

// ---------------------------------------------------------------------------
// The kelvaro package's arguments: each checked once, here, in the
// package's own wording ("max_dist must be an int, not bool"), which
// follows Python's rather than _kelvaro's.

// type(object).__name__, as Python's own messages name a type.
std::string type_name(PyObject* object);

// A count (max_dist, limit): an int of 0 or more, not a bool; anything
// beyond 64 bits is as good as infinite. `name` names it in messages.
std::uint64_t to_count(PyObject* object, const char* name);
// The same for an argument that may be left out (null), with its default.
std::uint64_t count_or(PyObject* object, const char* name, std::uint64_t otherwise);
// A limit: a count, or None for none.
std::optional<std::uint64_t> limit_or(PyObject* object, std::optional<std::uint64_t> otherwise);
// True or False, nothing else.
bool flag_or(PyObject* object, const char* name, bool otherwise);
// How many threads a batch may use: all the machine's cores by default.
unsigned threads_of(PyObject* object);
// A ratio of how much commoner a word must be: a finite number above 0, or
// None for none (0).
double suspects_of(PyObject* object);

}  // namespace kelvaro::py
