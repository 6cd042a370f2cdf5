// The methods of PrefixSearch, in the order of the class's method table.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// fuzzy_match, exact_match, get_children, get_payload, to_bytes, and the
// closing sentinel.
extern PyMethodDef prefix_search_methods[6];

}  // namespace kelvaro::py
