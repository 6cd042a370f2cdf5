#include "lib/functions.h"

#include "codec/trie_codec.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/prefix_search.h"

namespace kelvaro::py {
namespace {

constexpr const char* kFromInternalDataParameters[] = {"node_shifts", "node_strings",
                                                       "node_payloads", "child_indices"};
constexpr const char* kFromBytesParameters[] = {"bs"};

constexpr FunctionDescription kFromInternalData{nullptr, "from_internal_data",
                                                kFromInternalDataParameters};
constexpr FunctionDescription kFromBytes{nullptr, "from_bytes", kFromBytesParameters};

// Builds the trie from the caller's arrays as they are: nothing is checked
// here, and a malformed trie fails only where a later call reaches the
// broken part.
PyObject* from_internal_data(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kFromInternalData, args, nargs, kwnames);
    auto node_shifts = convert_argument(kFromInternalData, slots, 0, to_u32_array);
    auto node_chars = convert_argument(kFromInternalData, slots, 1, to_first_char_array);
    auto node_payloads = convert_argument(kFromInternalData, slots, 2, to_optional_u32_array);
    auto child_indices = convert_argument(kFromInternalData, slots, 3, to_u32_array);
    return new_prefix_search(Trie(std::move(node_shifts), std::move(node_chars),
                                  std::move(node_payloads), std::move(child_indices)));
  });
}

PyObject* from_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kFromBytes, args, nargs, kwnames);
    std::vector<std::uint8_t> bytes = convert_argument(kFromBytes, slots, 0, to_u8_array);
    return new_prefix_search(decode_trie(bytes).unwrap());
  });
}

}  // namespace

PyMethodDef from_internal_data_definition = {
    "from_internal_data", fastcall_entry(from_internal_data), METH_FASTCALL | METH_KEYWORDS,
    "from_internal_data(node_shifts, node_strings, node_payloads, child_indices)\n--\n\n"};

PyMethodDef from_bytes_definition = {"from_bytes", fastcall_entry(from_bytes),
                                     METH_FASTCALL | METH_KEYWORDS, "from_bytes(bs)\n--\n\n"};

}  // namespace kelvaro::py
