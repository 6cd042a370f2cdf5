// The builder's functions of kelvaro._native_index: building an index's
// trie and word tables, and checking a saved index's sections before
// anything trusts them.
#pragma once

#include <cstdint>
#include <span>

#include "lib/py_ref.h"

namespace kelvaro::py {

// An image of an index's tries (index/index_image.h) as bytes.
PyRef image_to_py(std::span<const std::uint64_t> image);

// check_word_tables, crc32c, build_index, check_index, and the closing
// sentinel.
extern PyMethodDef builder_functions[6];

}  // namespace kelvaro::py
