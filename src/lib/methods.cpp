#include "lib/methods.h"

#include "codec/trie_codec.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/prefix_search.h"
#include "prefix/queries.h"

namespace kelvaro::py {
namespace {

constexpr const char* kClass = "PrefixSearch";
constexpr const char* kFuzzyMatchParameters[] = {"prefix", "max_dist", "limit"};
constexpr const char* kPrefixParameter[] = {"prefix"};
constexpr const char* kNodeIdParameter[] = {"node_id"};

constexpr FunctionDescription kFuzzyMatch{kClass, "fuzzy_match", kFuzzyMatchParameters};
constexpr FunctionDescription kExactMatch{kClass, "exact_match", kPrefixParameter};
constexpr FunctionDescription kGetChildren{kClass, "get_children", kNodeIdParameter};
constexpr FunctionDescription kGetPayload{kClass, "get_payload", kNodeIdParameter};

PyObject* fuzzy_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&]() -> PyRef {
    ArgumentSlots slots = bind_arguments(kFuzzyMatch, args, nargs, kwnames);
    SharedBorrow receiver(self);
    std::u32string query = convert_argument(kFuzzyMatch, slots, 0, to_chars);
    std::uint64_t max_dist = convert_argument(kFuzzyMatch, slots, 1, to_u64);
    std::optional<std::uint64_t> limit = convert_argument(kFuzzyMatch, slots, 2, to_optional_u64);
    std::vector<Match> matches =
        kelvaro::fuzzy_match(receiver.trie(), std::move(query), max_dist, limit);
    return list_to_py(matches, match_to_py);
  });
}

PyObject* exact_match(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&]() -> PyRef {
    ArgumentSlots slots = bind_arguments(kExactMatch, args, nargs, kwnames);
    SharedBorrow receiver(self);
    std::u32string query = convert_argument(kExactMatch, slots, 0, to_chars);
    std::optional<Match> match = kelvaro::exact_match(receiver.trie(), std::move(query));
    return match ? match_to_py(*match) : PyRef::borrow(Py_None);
  });
}

PyObject* get_children(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kGetChildren, args, nargs, kwnames);
    SharedBorrow receiver(self);
    NodeId node = convert_argument(kGetChildren, slots, 0, to_u32);
    Children children = receiver.trie().get_children(node);
    return list_to_py(children, [](const Child& child) {
      return tuple_to_py<2>({char_to_py(child.ch), u32_to_py(child.node)});
    });
  });
}

PyObject* get_payload(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kGetPayload, args, nargs, kwnames);
    SharedBorrow receiver(self);
    NodeId node = convert_argument(kGetPayload, slots, 0, to_u32);
    return optional_u32_to_py(receiver.trie().get_payload(node));
  });
}

// Encodes straight into the bytes object: it is made at the exact encoded
// size and filled before anyone else sees it, which both interpreters allow.
PyObject* to_bytes(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    SharedBorrow receiver(self);
    const Trie& trie = receiver.trie();
    const std::size_t size = encoded_size(trie);
    PyRef bytes = made(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    encode_trie_into(
        trie, std::span(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())), size));
    return bytes;
  });
}

}  // namespace

PyMethodDef prefix_search_methods[6] = {
    {"fuzzy_match", fastcall_entry(fuzzy_match), METH_FASTCALL | METH_KEYWORDS,
     "fuzzy_match($self, prefix, max_dist, limit)\n--\n\n"},
    {"exact_match", fastcall_entry(exact_match), METH_FASTCALL | METH_KEYWORDS,
     "exact_match($self, prefix)\n--\n\n"},
    {"get_children", fastcall_entry(get_children), METH_FASTCALL | METH_KEYWORDS,
     "get_children($self, node_id)\n--\n\n"},
    {"get_payload", fastcall_entry(get_payload), METH_FASTCALL | METH_KEYWORDS,
     "get_payload($self, node_id)\n--\n\n"},
    {"to_bytes", to_bytes, METH_NOARGS, "to_bytes($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
