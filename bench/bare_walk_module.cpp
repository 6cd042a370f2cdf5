// _bare_walk: the benchmark's floor, as a Python module of its own.
//
// It holds a trie decoded from kelvaro's saved form and answers the same
// fuzzy lookups as PrefixSearch.fuzzy_match with the bare walk of
// bare_walk.h, returning the same list of tuples, so that the benchmark can
// time both from Python in the same way. time_walks also times the bare walk
// and kelvaro's own search in C++, without any Python in between.
//
//   load(bs) -> trie                       bs: bytes from PrefixSearch.to_bytes()
//   fuzzy_match(trie, query, max_dist, limit) -> [(text, payload, distance)]
//   visited(trie, query, max_dist, limit) -> int   nodes the search visits
//   time_walks(trie, queries, max_dist, limit, repeats)
//       -> [(bare_ns, kelvaro_ns, visited)]     the fastest of `repeats` runs each
//
// Built for the benchmark only; it trusts its arguments more than kelvaro
// does and checks no trie.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bare_walk.h"
#include "codec/trie_codec.h"
#include "lib/py_ref.h"
#include "prefix/queries.h"
#include "prefix/internal_error.h"
#include "prefix/utf8.h"

namespace kelvaro::bench {
namespace {

using py::PyRef;

constexpr const char* kCapsuleName = "_bare_walk.trie";

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

bool parse_limit(PyObject* object, std::optional<std::uint64_t>& limit) {
  if (object == Py_None) return true;
  const unsigned long long value = PyLong_AsUnsignedLongLong(object);
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  limit = value;
  return true;
}

// (capsule, query, max_dist, limit) as the three lookups take them.
struct Lookup {
  const Trie* trie;
  std::u32string query;
  std::uint64_t max_dist;
  std::optional<std::uint64_t> limit;
};

bool parse_lookup(PyObject* args, Lookup& lookup) {
  PyObject* capsule;
  PyObject* query;
  unsigned long long max_dist;
  PyObject* limit;
  if (!PyArg_ParseTuple(args, "OUKO", &capsule, &query, &max_dist, &limit)) return false;
  lookup.trie = trie_of(capsule);
  lookup.max_dist = max_dist;
  return lookup.trie != nullptr && parse_query(query, lookup.query) &&
         parse_limit(limit, lookup.limit);
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

PyObject* fuzzy_match(PyObject*, PyObject* args) {
  Lookup lookup;
  if (!parse_lookup(args, lookup)) return nullptr;
  BareWalk walk(*lookup.trie, lookup.query, lookup.max_dist, lookup.limit);
  walk.run();
  const std::vector<MatchRecord>& records = walk.results();
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::optional<Payload> payload = lookup.trie->node_payloads()[records[i].node];
    PyObject* match = Py_BuildValue("(s#kK)", records[i].text.data(),
                                    static_cast<Py_ssize_t>(records[i].text.size()),
                                    static_cast<unsigned long>(payload.value_or(0)),
                                    static_cast<unsigned long long>(records[i].distance));
    if (match == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), match);
  }
  return list.release();
}

PyObject* visited(PyObject*, PyObject* args) {
  Lookup lookup;
  if (!parse_lookup(args, lookup)) return nullptr;
  BareWalk walk(*lookup.trie, lookup.query, lookup.max_dist, lookup.limit);
  walk.run();
  return PyLong_FromSize_t(walk.visited());
}

template <typename Run>
std::uint64_t fastest_ns(int repeats, Run run) {
  std::uint64_t best = UINT64_MAX;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    run();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    best = std::min<std::uint64_t>(
        best, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
  }
  return best;
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
  std::optional<std::uint64_t> limit;
  if (trie == nullptr || !parse_limit(limit_object, limit)) return nullptr;
  const Py_ssize_t count = PyList_GET_SIZE(queries);
  PyRef out = PyRef::steal(PyList_New(count));
  if (!out) return nullptr;
  for (Py_ssize_t i = 0; i < count; ++i) {
    std::u32string query;
    if (!parse_query(PyList_GET_ITEM(queries, i), query)) return nullptr;
    std::size_t nodes = 0;
    // Alternately, so that both see the same state of the machine.
    std::uint64_t bare_ns = UINT64_MAX;
    std::uint64_t kelvaro_ns = UINT64_MAX;
    for (int r = 0; r < repeats; ++r) {
      bare_ns = std::min(bare_ns, fastest_ns(1, [&] {
                           BareWalk walk(*trie, query, max_dist, limit);
                           walk.run();
                           nodes = walk.visited();
                         }));
      kelvaro_ns = std::min(kelvaro_ns, fastest_ns(1, [&] {
                              try {
                                kelvaro::fuzzy_match(*trie, query, max_dist, limit);
                              } catch (const InternalError&) {
                              }
                            }));
    }
    PyObject* row =
        Py_BuildValue("(KKn)", static_cast<unsigned long long>(bare_ns),
                      static_cast<unsigned long long>(kelvaro_ns), static_cast<Py_ssize_t>(nodes));
    if (row == nullptr) return nullptr;
    PyList_SET_ITEM(out.get(), i, row);
  }
  return out.release();
}

PyMethodDef methods[] = {
    {"load", load, METH_VARARGS, "load(bs) -> trie"},
    {"fuzzy_match", fuzzy_match, METH_VARARGS, "fuzzy_match(trie, query, max_dist, limit)"},
    {"visited", visited, METH_VARARGS, "visited(trie, query, max_dist, limit)"},
    {"time_walks", time_walks, METH_VARARGS, "time_walks(trie, queries, max_dist, limit, repeats)"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_bare_walk", nullptr, -1, methods, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace kelvaro::bench

PyMODINIT_FUNC PyInit__bare_walk() {
  return PyModule_Create(&kelvaro::bench::module);
}
