// The builder's functions of kelvaro._native_index: building an index's
// trie and word tables, and checking a saved index's sections before
// anything trusts them.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// build_index, index_file, read_file_header, sound_key, check_index, and
// the closing sentinel.
extern PyMethodDef builder_functions[6];

}  // namespace kelvaro::py
