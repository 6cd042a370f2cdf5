// The searches of kelvaro.Index, as functions of kelvaro._builder: they take
// the index's PrefixSearch and the lookup tables that prepare() makes for
// it, so that _kelvaro's own surface stays what it is.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

// prepare, search, suggest, complete, and the closing sentinel.
extern PyMethodDef index_functions[5];

}  // namespace kelvaro::py
