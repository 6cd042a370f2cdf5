// The text functions of kelvaro.Index (check, segment, correct), as
// functions of kelvaro._native_index: they take the index and the whole
// text, so that a text costs one call whatever its number of words, and
// work without the interpreter lock.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// check_text, segment_text, correct_text, and the closing sentinel.
extern PyMethodDef text_functions[4];

}  // namespace kelvaro::py
