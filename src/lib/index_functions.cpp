#include "lib/index_functions.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "builder/reversed_trie.h"
#include "builder/word_table.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/prefix_search.h"
#include "prefix/queries.h"
#include "search/completion.h"
#include "search/split_search.h"
#include "search/suggestions.h"

namespace kelvaro::py {
namespace {

constexpr const char* kPrepareParameters[] = {"trie"};
constexpr const char* kSearchParameters[] = {"trie",     "tables", "query",
                                             "max_dist", "limit",  "transpositions"};
constexpr const char* kSuggestParameters[] = {"trie",     "tables", "word",
                                              "max_dist", "limit",  "weighted"};
constexpr const char* kCompleteParameters[] = {"trie",  "tables",   "prefix",        "max_dist",
                                               "limit", "weighted", "transpositions"};

constexpr const char* kSpellParameters[] = {"keys_table", "words_table", "keys"};

constexpr FunctionDescription kPrepare{nullptr, "prepare", kPrepareParameters};
constexpr FunctionDescription kSpell{nullptr, "spell", kSpellParameters};
constexpr FunctionDescription kSearch{nullptr, "search", kSearchParameters};
constexpr FunctionDescription kSuggest{nullptr, "suggest", kSuggestParameters};
constexpr FunctionDescription kComplete{nullptr, "complete", kCompleteParameters};

// What an index's searches need besides its trie, made once per index: the
// trie of the reversed keys, and the heaviest payload at or below each node
// of the index's trie (4 bytes a node), which completion walks by and
// suggestions prune by.
struct LookupTables {
  Trie backward;
  std::vector<Payload> best_forward;
};

constexpr const char* kTablesName = "kelvaro._builder.LookupTables";

// The trie of a PrefixSearch. Both extension modules are built from the
// same sources, so this one reads the object as _kelvaro lays it out; the
// type is checked against _kelvaro's own. Borrowed: valid while the object
// is, which the caller's argument keeps alive for the call.
const Trie& trie_of(PyObject* object) {
  PyRef type = imported_prefix_search_type();
  if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(type.get())))
    throw downcast_error(object, "PrefixSearch");
  const Trie* trie = reinterpret_cast<PrefixSearchObject*>(object)->trie;
  if (trie == nullptr)
    throw PyError(PyExc_TypeError,
                  "PrefixSearch object was not created by from_internal_data or from_bytes");
  return *trie;
}

void release_tables(PyObject* capsule) {
  run_in_frame_without_result(
      [&] { delete static_cast<LookupTables*>(PyCapsule_GetPointer(capsule, kTablesName)); });
}

const LookupTables* tables_of(PyObject* object) {
  if (object == Py_None) return nullptr;
  if (!PyCapsule_IsValid(object, kTablesName)) throw downcast_error(object, "LookupTables");
  return static_cast<const LookupTables*>(PyCapsule_GetPointer(object, kTablesName));
}

// The tables, which suggest and complete cannot do without, for a trie that
// prepare accepted.
const LookupTables& required_tables(PyObject* object, const Trie& trie) {
  const LookupTables* tables = tables_of(object);
  if (tables == nullptr) throw downcast_error(object, "LookupTables");
  if (tables->best_forward.size() != trie.node_payloads().size() || !trie.siblings_distinct())
    throw PyError(PyExc_ValueError, "the tables were made for another trie");
  return *tables;
}

bool to_bool(PyObject* object) {
  if (!PyBool_Check(object)) throw downcast_error(object, "PyBool");
  return object == Py_True;
}

PyObject* prepare(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kPrepare, args, nargs, kwnames);
    const Trie& trie = trie_of(slots[0]);
    if (!trie.is_sound()) throw PyError(PyExc_ValueError, "the trie is not an index trie");
    auto tables = std::make_unique<LookupTables>();
    tables->backward = reversed_trie(trie);
    tables->best_forward = best_payloads_below(trie);
    PyRef capsule = checked(PyCapsule_New(tables.get(), kTablesName, release_tables));
    tables.release();
    return capsule;
  });
}

// The one place that chooses how an index is searched.
std::vector<Match> search_index(const Trie& trie, const LookupTables* tables,
                                std::u32string_view query, std::uint64_t max_dist,
                                std::optional<std::uint64_t> limit, bool transpositions) {
  // With the reversed trie at hand, and a query long enough for each piece
  // to be longer than its share of the edits: the split search.
  if (tables != nullptr && can_split(trie, tables->backward) &&
      split_pays(query.size(), max_dist, limit))
    return split_search(trie, tables->backward, query, max_dist, limit, transpositions);
  // Otherwise the plain walk, which every index trie allows.
  if (trie.is_sound()) return walk_sound_trie(trie, query, max_dist, limit, transpositions);
  if (!transpositions) return fuzzy_match(trie, std::u32string(query), max_dist, limit);
  throw PyError(PyExc_ValueError, "the trie is not an index trie");
}

PyObject* search(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kSearch, args, nargs, kwnames);
    const Trie& trie = trie_of(slots[0]);
    const LookupTables* tables = tables_of(slots[1]);
    const std::u32string query = convert_argument(kSearch, slots, 2, to_chars);
    const std::uint64_t max_dist = convert_argument(kSearch, slots, 3, to_u64);
    const std::optional<std::uint64_t> limit = convert_argument(kSearch, slots, 4, to_optional_u64);
    const bool transpositions = convert_argument(kSearch, slots, 5, to_bool);
    return list_to_py(search_index(trie, tables, query, max_dist, limit, transpositions),
                      match_to_py);
  });
}

PyObject* suggest(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kSuggest, args, nargs, kwnames);
    const Trie& trie = trie_of(slots[0]);
    const LookupTables& tables = required_tables(slots[1], trie);
    const std::u32string word = convert_argument(kSuggest, slots, 2, to_chars);
    const std::uint64_t max_dist = convert_argument(kSuggest, slots, 3, to_u64);
    const std::optional<std::uint64_t> limit =
        convert_argument(kSuggest, slots, 4, to_optional_u64);
    const bool weighted = convert_argument(kSuggest, slots, 5, to_bool);
    const IndexTries tries{trie, tables.backward, tables.best_forward};
    return list_to_py(kelvaro::suggest(tries, word, max_dist, limit, weighted), match_to_py);
  });
}

PyObject* complete(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kComplete, args, nargs, kwnames);
    const Trie& trie = trie_of(slots[0]);
    const LookupTables& tables = required_tables(slots[1], trie);
    const std::u32string prefix = convert_argument(kComplete, slots, 2, to_chars);
    const std::uint64_t max_dist = convert_argument(kComplete, slots, 3, to_u64);
    const std::optional<std::uint64_t> limit =
        convert_argument(kComplete, slots, 4, to_optional_u64);
    const bool weighted = convert_argument(kComplete, slots, 5, to_bool);
    const bool transpositions = convert_argument(kComplete, slots, 6, to_bool);
    return list_to_py(kelvaro::complete(trie, tables.best_forward, prefix, max_dist, limit,
                                        weighted, transpositions),
                      match_to_py);
  });
}

PyObject* spell(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kSpell, args, nargs, kwnames);
    const std::span<const std::uint8_t> keys = to_byte_view(slots[0]);
    const std::span<const std::uint8_t> words = to_byte_view(slots[1]);
    // The tables come from an index, which checked them whole; this is
    // only what reading them needs.
    if (!word_table_fits(keys) || !word_table_fits(words) ||
        word_table_count(keys) != word_table_count(words))
      throw PyError(PyExc_ValueError, "not the spelling tables of an index");
    if (!PyList_Check(slots[2])) throw downcast_error(slots[2], "PyList");
    const Py_ssize_t count = PyList_GET_SIZE(slots[2]);
    PyRef spelled = made(PyList_New(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      // Borrowed from the list, which the call keeps alive and nothing here
      // changes.
      PyObject* key = PyList_GET_ITEM(slots[2], i);
      const std::optional<std::string_view> word = word_beside_key(keys, words, to_utf8(key));
      PyList_SET_ITEM(spelled.get(), i,
                      (word.has_value() ? text_to_py(*word) : PyRef::borrow(key)).release());
    }
    return spelled;
  });
}

}  // namespace

IndexTries index_tries_of(PyObject* trie_object, PyObject* tables_object) {
  const Trie& trie = trie_of(trie_object);
  const LookupTables& tables = required_tables(tables_object, trie);
  return {trie, tables.backward, tables.best_forward};
}

PyMethodDef index_functions[6] = {
    {"prepare", fastcall_entry(prepare), METH_FASTCALL | METH_KEYWORDS,
     "prepare(trie)\n--\n\nThe lookup tables of an index's trie: its reversed trie."},
    {"search", fastcall_entry(search), METH_FASTCALL | METH_KEYWORDS,
     "search(trie, tables, query, max_dist, limit, transpositions)\n--\n\n"
     "(key, value, distance) of every stored key within max_dist, in the plain walk's order."},
    {"spell", fastcall_entry(spell), METH_FASTCALL | METH_KEYWORDS,
     "spell(keys_table, words_table, keys)\n--\n\n"
     "The spelling of every key: the word beside it in the tables, or the key itself."},
    {"suggest", fastcall_entry(suggest), METH_FASTCALL | METH_KEYWORDS,
     "suggest(trie, tables, word, max_dist, limit, weighted)\n--\n\n"
     "(key, value, distance) of the likeliest corrections of word, best first."},
    {"complete", fastcall_entry(complete), METH_FASTCALL | METH_KEYWORDS,
     "complete(trie, tables, prefix, max_dist, limit, weighted, transpositions)\n--\n\n"
     "(key, value, distance) of the stored keys that complete prefix within max_dist."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
