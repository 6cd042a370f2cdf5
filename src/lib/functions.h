// The module functions, in the order they are added to the module.
#pragma once

#include "lib/py_ref.h"

namespace kelvaro::py {

extern PyMethodDef from_internal_data_definition;
extern PyMethodDef from_bytes_definition;

}  // namespace kelvaro::py
