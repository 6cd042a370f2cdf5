// The functions of kelvaro._native_index that make and read index files:
// building one from words (build_index), from its sections (index_file: an
// unpickled index, a file of the first version), reading a file's header
// (read_file_header), checking a file of the first version (check_index);
// and sound_key, the key under which a file's sound-alike table files a
// word, which the tests hold against their own.
#pragma once

#include "format/index_file.h"
#include "lib/py_ref.h"

namespace kelvaro::py {

// The index file of these sections as a bytes object.
PyRef file_to_py(const IndexFile& sections);

// build_index, index_file, read_file_header, sound_key, check_index, and
// the closing sentinel.
extern PyMethodDef file_functions[7];

}  // namespace kelvaro::py
