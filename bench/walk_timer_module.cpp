// _walk_timer: the benchmark's view of kelvaro's C++ core, as a Python
// module of its own.
//
// The typed walk and the general engine answer the same lookups; timing both
// from C++, without any Python in between, says what the typed walk itself
// gains. The module also says what each of a trie's arrays costs, since the
// size of a vector is known here and nowhere else.
//
//   load(bs) -> trie                 bs: bytes from PrefixSearch.to_bytes()
//   time_walks(trie, queries, max_dist, limit, repeats)
//       -> [(typed_ns, general_ns)]  the fastest of `repeats` runs of each
//   time_index(trie, kind, queries, max_dist, limit, weighted, repeats)
//       -> [ns]                      an index's lookup alone, per query: kind
//                                    "search", "suggest" or "complete", run
//                                    by a WordIndex over the trie folded as
//                                    an index folds it, with the sound-alike
//                                    table an index built with sounds=True
//                                    has: the package's call minus Python
//   memory(trie) -> {array: bytes}   the trie's arrays, the index's folded
//                                    forward and reversed tries, and the
//                                    largest value below each folded node,
//                                    which an index's tables add
//
// Built for the benchmark only; it checks no more than it must.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "build/reversed_trie.h"
#include "codec/trie_codec.h"
#include "folded/best_payloads.h"
#include "index/word_index.h"
#include "lib/py_ref.h"
#include "prefix/internal_error.h"
#include "prefix/queries.h"
#include "prefix/utf8.h"
#include "search/completion.h"
#include "search/sound_table.h"

namespace kelvaro::bench {
namespace {

using py::PyRef;

constexpr const char* kCapsuleName = "_walk_timer.trie";

void destroy_trie(PyObject* capsule) {
  delete static_cast<Trie*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

const Trie* trie_of(PyObject* capsule) {
  return static_cast<const Trie*>(PyCapsule_GetPointer(capsule, kCapsuleName));
}

bool parse_query(PyObject* object, std::u32string& query) {
  Py_ssize_t size;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return false;
  query = utf8::decode(std::string_view(utf8, static_cast<std::size_t>(size)));
  return true;
}

// None, or a count of results.
bool parse_limit(PyObject* object, std::optional<std::uint64_t>& limit) {
  if (object == Py_None) return true;
  limit = PyLong_AsUnsignedLongLong(object);
  return !PyErr_Occurred();
}

PyObject* load(PyObject*, PyObject* args) {
  Py_buffer buffer;
  if (!PyArg_ParseTuple(args, "y*", &buffer)) return nullptr;
  std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(buffer.buf),
                                      static_cast<std::size_t>(buffer.len));
  DecodeResult decoded = decode_trie(bytes);
  PyBuffer_Release(&buffer);
  if (!decoded) {
    PyErr_SetString(PyExc_ValueError, decoded.error().to_string().c_str());
    return nullptr;
  }
  auto* trie = new Trie(std::move(decoded.trie()));
  PyObject* capsule = PyCapsule_New(trie, kCapsuleName, destroy_trie);
  if (capsule == nullptr) delete trie;
  return capsule;
}

template <typename Run>
std::uint64_t elapsed_ns(Run run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

PyObject* time_walks(PyObject*, PyObject* args) {
  PyObject* capsule;
  PyObject* queries;
  unsigned long long max_dist;
  PyObject* limit_object;
  int repeats;
  if (!PyArg_ParseTuple(args, "OO!KOi", &capsule, &PyList_Type, &queries, &max_dist, &limit_object,
                        &repeats)) {
    return nullptr;
  }
  const Trie* trie = trie_of(capsule);
  if (trie == nullptr) return nullptr;
  std::optional<std::uint64_t> limit;
  if (!parse_limit(limit_object, limit)) return nullptr;
  const Py_ssize_t count = PyList_GET_SIZE(queries);
  PyRef out = PyRef::steal(PyList_New(count));
  if (!out) return nullptr;
  for (Py_ssize_t i = 0; i < count; ++i) {
    std::u32string query;
    if (!parse_query(PyList_GET_ITEM(queries, i), query)) return nullptr;
    std::uint64_t typed_ns = UINT64_MAX;
    std::uint64_t general_ns = UINT64_MAX;
    std::size_t typed_found = 0;
    std::size_t general_found = 0;
    try {
      // Alternately, so that both see the same state of the machine.
      for (int r = 0; r < repeats; ++r) {
        typed_ns = std::min(typed_ns, elapsed_ns([&] {
                              typed_found = fuzzy_match(*trie, query, max_dist, limit).size();
                            }));
        general_ns = std::min(general_ns, elapsed_ns([&] {
                                general_found =
                                    general_fuzzy_match(*trie, query, max_dist, limit).size();
                              }));
      }
    } catch (const InternalError& error) {
      PyErr_SetString(PyExc_RuntimeError, error.message().c_str());
      return nullptr;
    }
    // Two engines that disagree would make the factor meaningless.
    if (typed_found != general_found) {
      PyErr_SetString(PyExc_AssertionError, "the typed walk and the general engine disagree");
      return nullptr;
    }
    PyObject* row = Py_BuildValue("(KK)", static_cast<unsigned long long>(typed_ns),
                                  static_cast<unsigned long long>(general_ns));
    if (row == nullptr) return nullptr;
    PyList_SET_ITEM(out.get(), i, row);
  }
  return out.release();
}

PyObject* time_index(PyObject*, PyObject* args) {
  PyObject* capsule;
  const char* kind;
  PyObject* queries;
  unsigned long long max_dist;
  PyObject* limit_object;
  int weighted;
  int repeats;
  if (!PyArg_ParseTuple(args, "OsO!KOpi", &capsule, &kind, &PyList_Type, &queries, &max_dist,
                        &limit_object, &weighted, &repeats))
    return nullptr;
  const Trie* trie = trie_of(capsule);
  if (trie == nullptr) return nullptr;
  std::optional<std::uint64_t> limit;
  if (!parse_limit(limit_object, limit)) return nullptr;
  // No spellings: the lookups' own work, keys as they are.
  static const std::uint8_t kNoWords[8] = {};
  const std::string_view which(kind);
  const Py_ssize_t count = PyList_GET_SIZE(queries);
  PyRef out = PyRef::steal(PyList_New(count));
  if (!out) return nullptr;
  try {
    // The index's own layout, and its sound-alike table: without the table,
    // suggest would skip the words it finds by sound and time less work
    // than the package does. The arrays outlive the index that reads them.
    const CompactTrieArrays folded = compact(*trie);
    const CompactTrie forward(folded.spans());
    const SoundTableArrays sounds = make_sound_table(forward);
    WordIndex::Saved saved;
    if (!sounds.text_ends.empty()) saved.sounds = sounds.spans();
    const WordIndex index(forward, kNoWords, kNoWords, weighted != 0, saved);
    index.search(U"warm", 1, std::nullopt, false, false);  // makes the lookup tables
    for (Py_ssize_t i = 0; i < count; ++i) {
      std::u32string query;
      if (!parse_query(PyList_GET_ITEM(queries, i), query)) return nullptr;
      std::uint64_t best = UINT64_MAX;
      for (int r = 0; r < repeats; ++r) {
        best = std::min(best, elapsed_ns([&] {
                          if (which == "suggest")
                            index.suggest(query, max_dist, limit);
                          else if (which == "complete")
                            index.complete(query, max_dist, limit, false);
                          else
                            index.search(query, max_dist, limit, false, false);
                        }));
      }
      PyObject* ns = PyLong_FromUnsignedLongLong(best);
      if (ns == nullptr) return nullptr;
      PyList_SET_ITEM(out.get(), i, ns);
    }
  } catch (const InternalError& error) {
    PyErr_SetString(PyExc_RuntimeError, error.message().c_str());
    return nullptr;
  }
  return out.release();
}

template <typename T>
std::size_t bytes_of(const std::vector<T>& v) {
  return v.capacity() * sizeof(T);
}

bool set_size(PyObject* dict, const char* name, std::size_t bytes) {
  PyRef value = PyRef::steal(PyLong_FromSize_t(bytes));
  return value && PyDict_SetItemString(dict, name, value.get()) == 0;
}

PyObject* memory(PyObject*, PyObject* args) {
  PyObject* capsule;
  if (!PyArg_ParseTuple(args, "O", &capsule)) return nullptr;
  const Trie* trie = trie_of(capsule);
  if (trie == nullptr) return nullptr;
  PyRef out = PyRef::steal(PyDict_New());
  if (!out) return nullptr;
  const std::size_t nodes = trie->node_shifts().size();
  try {
    const CompactTrieArrays folded = compact(*trie);
    const CompactTrie forward(folded.spans());
    const CompactTrieArrays reversed = reversed_trie(forward);
    const std::size_t plain_bytes =
        bytes_of(trie->node_shifts()) + bytes_of(trie->node_chars()) +
        bytes_of(trie->node_payloads()) + bytes_of(trie->child_indices()) +
        trie->run_chars().size() * sizeof(char32_t) + nodes * 2;  // two length bounds, a byte each
    const bool ok =
        set_size(out.get(), "nodes", nodes) &&
        set_size(out.get(), "node_shifts", bytes_of(trie->node_shifts())) &&
        set_size(out.get(), "node_chars", bytes_of(trie->node_chars())) &&
        set_size(out.get(), "node_payloads", bytes_of(trie->node_payloads())) &&
        set_size(out.get(), "child_indices", bytes_of(trie->child_indices())) &&
        set_size(out.get(), "run_chars", trie->run_chars().size() * sizeof(char32_t)) &&
        set_size(out.get(), "length_bounds", nodes * 2) &&
        set_size(out.get(), "forward", plain_bytes) &&
        set_size(out.get(), "index_forward", folded.bytes()) &&
        set_size(out.get(), "reversed_nodes", reversed.node_count) &&
        set_size(out.get(), "reversed", reversed.bytes()) &&
        set_size(out.get(), "best_below", best_payloads_below(forward).size() * sizeof(Payload));
    if (!ok) return nullptr;
  } catch (const InternalError& error) {
    PyErr_SetString(PyExc_RuntimeError, error.message().c_str());
    return nullptr;
  }
  return out.release();
}

PyMethodDef methods[] = {
    {"load", load, METH_VARARGS, "load(bs) -> trie"},
    {"time_walks", time_walks, METH_VARARGS,
     "time_walks(trie, queries, max_dist, limit, repeats) -> [(typed_ns, general_ns)]"},
    {"time_index", time_index, METH_VARARGS,
     "time_index(trie, kind, queries, max_dist, limit, weighted, repeats) -> [ns]"},
    {"memory", memory, METH_VARARGS, "memory(trie) -> {array: bytes}"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_walk_timer", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace kelvaro::bench

PyMODINIT_FUNC PyInit__walk_timer() {
  return PyModule_Create(&kelvaro::bench::module);
}
