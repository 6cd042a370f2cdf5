// kelvaro._native_index.map_file: an index file mapped under a lease
// (index/leased_mapping.h), as a read-only object with the buffer
// protocol, which the index reads in place. The mapping is given up when
// the last view of it goes.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// The type of what map_file gives, made on first need (the module's
// initialisation) and kept in the module's cells.
PyTypeObject* mapped_file_type();

// map_file, and the closing sentinel.
extern PyMethodDef mapped_file_functions[2];

}  // namespace kelvaro::py
