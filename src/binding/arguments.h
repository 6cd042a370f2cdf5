// The arguments of the package's native calls: each converted and checked
// once, here, with the package's own wording ("max_dist must be an int, not
// bool"), which follows Python's rather than _kelvaro's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/py_ref.h"

namespace kelvaro::py {

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
