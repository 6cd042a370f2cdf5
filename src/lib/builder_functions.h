// The functions of kelvaro._builder, the native helpers of the kelvaro
// package: building an index's trie and word tables, and checking a saved
// index's sections before anything trusts them.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// build_index, check_trie, check_word_table, check_index, and the closing
// sentinel.
extern PyMethodDef builder_functions[5];

}  // namespace kelvaro::py
