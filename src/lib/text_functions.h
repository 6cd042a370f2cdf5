// The text functions of kelvaro.Index (check, segment, correct), as
// functions of kelvaro._builder: like the searches (index_functions.h) they
// take the index's PrefixSearch and lookup tables, and the whole text, so
// that a text costs one call whatever its number of words.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// check_text, segment_text, correct_text, weight_stats, and the closing
// sentinel.
extern PyMethodDef text_functions[5];

}  // namespace kelvaro::py
