#include "binding/native_index.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "format/word_table.h"
#include "format/index_image.h"
#include "index/parallel.h"
#include "index/word_index.h"
#include "lib/binding.h"
#include "binding/buffer_hold.h"
#include "binding/builder_functions.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "lib/prefix_search.h"
#include "prefix/utf8.h"

namespace kelvaro::py {
namespace {

// ---------------------------------------------------------------------------
// The object.

// What a NativeIndex holds. The tries are read in place from the image,
// whose exporter (bytes, or a memoryview of a mapped file) the buffer
// holds still; an image that is not 8-byte aligned, as the arrays need, is
// copied once. The WordIndex borrows the tries and the spelling tables.
struct IndexState {
  // The buffer holds its exporter alive too.
  std::unique_ptr<BufferHold> image;
  std::vector<std::uint64_t> aligned_copy;
  CompactTrie forward;
  std::optional<CompactTrie> backward;
  std::unique_ptr<BufferHold> spelling_keys;
  std::unique_ptr<BufferHold> spelling_words;
  PyRef normalize;  // None for none
  PyRef parts;      // whatever the package keeps beside it
  PyRef trie;       // the PrefixSearch that `trie` gives, once asked for
  std::unique_ptr<WordIndex> index;
};

struct NativeIndexObject {
  PyObject_HEAD
      // Owned; null only in an object whose construction failed.
      IndexState* state;
};

// kelvaro.Match, given by the package at import; held for the process.
PyObject* match_type = nullptr;

[[noreturn]] void throw_type_error(const std::string& message) {
  throw PyError(PyExc_TypeError, message);
}

[[noreturn]] void throw_value_error(const std::string& message) {
  throw PyError(PyExc_ValueError, message);
}

// type(object).__name__, as Python's own messages name a type.
std::string type_name(PyObject* object) {
  // Interned once: the interpreter's cache of type attributes keeps the
  // names it is asked for, and a fresh name per call would pile up there.
  static PyObject* const attribute = PyUnicode_InternFromString("__name__");
  if (attribute == nullptr) throw PyError::fetch();
  PyRef name = checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)), attribute));
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) throw PyError::fetch();
  return std::string(text, static_cast<std::size_t>(size));
}

const IndexState& state_of(PyObject* self) {
  const IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state;
  if (state == nullptr)
    throw_type_error("the index was not made by Index.from_words or Index.load");
  return *state;
}

// ---------------------------------------------------------------------------
// Arguments: bound once, with defaults and keyword-only parameters.

struct Signature {
  const char* name;
  std::span<const char* const> parameters;
  std::size_t positional;  // how many may come by position
  std::size_t required;    // how many must be given
};

using Slots = std::array<PyObject*, 8>;

Slots bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Slots slots{};
  // Made only for a message: a call that binds well pays nothing for it.
  const auto name = [&] { return std::string(signature.name) + "()"; };
  if (static_cast<std::size_t>(nargs) > signature.positional)
    throw_type_error(name() + " takes at most " + std::to_string(signature.positional) +
                     " positional argument" + (signature.positional == 1 ? "" : "s") + " (" +
                     std::to_string(nargs) + " given)");
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    std::size_t i = 0;
    while (i < signature.parameters.size() &&
           PyUnicode_CompareWithASCIIString(keyword, signature.parameters[i]) != 0)
      ++i;
    if (i == signature.parameters.size()) {
      PyRef text = checked(PyObject_Str(keyword));
      throw PyError(PyExc_TypeError,
                    checked(PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'",
                                                 name().c_str(), text.get())));
    }
    if (slots[i] != nullptr)
      throw_type_error(name() + " got multiple values for argument '" + signature.parameters[i] +
                       "'");
    slots[i] = args[nargs + k];
  }
  for (std::size_t i = 0; i < signature.required; ++i)
    if (slots[i] == nullptr)
      throw_type_error(name() + " missing required argument '" + signature.parameters[i] +
                       "' (pos " + std::to_string(i + 1) + ")");
  return slots;
}

// The characters of a str, lone surrogates included: no stored key holds
// one, so a surrogate is a character that matches nothing, and every
// distance comes out as it should.
std::u32string chars_of(PyObject* str) {
#if !defined(PYPY_VERSION) && PY_VERSION_HEX < 0x030C0000
  // CPython: straight from the str's own storage, with no encoded copy.
  if (PyUnicode_IS_READY(str)) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
    const int kind = PyUnicode_KIND(str);
    const void* data = PyUnicode_DATA(str);
    std::u32string chars(static_cast<std::size_t>(length), U'\0');
    for (Py_ssize_t i = 0; i < length; ++i)
      chars[static_cast<std::size_t>(i)] = PyUnicode_READ(kind, data, i);
    return chars;
  }
#endif
  Py_ssize_t size;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size))
    return utf8::decode(std::string_view(utf8, static_cast<std::size_t>(size)));
  // A str with a lone surrogate has no UTF-8 form; UTF-32 keeps it.
  PyErr_Clear();
  PyRef wide = checked(PyUnicode_AsEncodedString(str, "utf-32-le", "surrogatepass"));
  const auto* bytes = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(wide.get()));
  std::u32string chars(static_cast<std::size_t>(PyBytes_GET_SIZE(wide.get())) / 4, U'\0');
  for (std::size_t i = 0; i < chars.size(); ++i)
    chars[i] = static_cast<char32_t>(bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                                     bytes[4 * i + 3] << 24);
  return chars;
}

// The key of a word, query or prefix: the str itself, or what the index's
// normalize function makes of it. `name` names the argument in messages.
std::u32string key_of(const IndexState& state, PyObject* text, std::string_view name) {
  if (!PyUnicode_Check(text))
    throw_type_error(std::string(name) + " must be a str, not " + type_name(text));
  if (state.normalize.get() == Py_None) return chars_of(text);
  PyRef key = checked(PyObject_CallOneArg(state.normalize.get(), text));
  if (!PyUnicode_Check(key.get())) {
    PyRef shown = checked(PyObject_Repr(text));
    throw PyError(PyExc_TypeError,
                  checked(PyUnicode_FromFormat("normalize(%U) returned %s, not str", shown.get(),
                                               type_name(key.get()).c_str())));
  }
  return chars_of(key.get());
}

// A count (max_dist, limit): an int of 0 or more, not a bool; anything
// beyond 64 bits is as good as infinite.
std::uint64_t count_of(PyObject* object, const char* name) {
  if (PyBool_Check(object)) throw_type_error(std::string(name) + " must be an int, not bool");
  PyRef number = PyRef::steal(PyNumber_Index(object));
  if (!number) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyError::fetch();
    PyErr_Clear();
    throw_type_error(std::string(name) + " must be an int, not " + type_name(object));
  }
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(number.get(), &overflow);
  if (small == -1 && PyErr_Occurred()) throw PyError::fetch();
  if (overflow < 0 || (overflow == 0 && small < 0)) {
    PyRef text = checked(PyObject_Str(number.get()));
    throw PyError(PyExc_ValueError,
                  checked(PyUnicode_FromFormat("%s must be 0 or more, not %U", name, text.get())));
  }
  if (overflow == 0) return static_cast<std::uint64_t>(small);
  const unsigned long long large = PyLong_AsUnsignedLongLong(number.get());
  if (large == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::numeric_limits<std::uint64_t>::max();
  }
  return large;
}

std::uint64_t count_or(PyObject* object, const char* name, std::uint64_t otherwise) {
  return object == nullptr ? otherwise : count_of(object, name);
}

std::optional<std::uint64_t> limit_or(PyObject* object, std::optional<std::uint64_t> otherwise) {
  if (object == nullptr) return otherwise;
  if (object == Py_None) return std::nullopt;
  return count_of(object, "limit");
}

bool flag_or(PyObject* object, const char* name, bool otherwise) {
  if (object == nullptr) return otherwise;
  if (!PyBool_Check(object))
    throw_type_error(std::string(name) + " must be True or False, not " + type_name(object));
  return object == Py_True;
}

// How many threads a batch may use: all the machine's cores by default.
unsigned threads_of(PyObject* object) {
  if (object == nullptr || object == Py_None)
    return std::max(1u, std::thread::hardware_concurrency());
  if (PyBool_Check(object) || !PyLong_Check(object))
    throw_type_error("threads must be an int or None, not " + type_name(object));
  const long long threads = PyLong_AsLongLong(object);
  if (threads == -1 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PyError::fetch();
    PyErr_Clear();
    return 1024;
  }
  if (threads < 1) throw_value_error("threads must be 1 or more, not " + std::to_string(threads));
  // More threads than this only take turns.
  return static_cast<unsigned>(std::min<long long>(threads, 1024));
}

// The keys of a batch, each converted as the single call converts its
// argument, errors naming the query's position.
std::vector<std::u32string> keys_of(const IndexState& state, PyObject* queries, const char* name) {
  if (PyUnicode_Check(queries))
    throw_type_error(std::string(name) + " must be an iterable of str, not a single str");
  PyRef iterator = PyRef::steal(PyObject_GetIter(queries));
  if (!iterator) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyError::fetch();
    PyErr_Clear();
    throw_type_error(std::string(name) + " must be iterable, not " + type_name(queries));
  }
  std::vector<std::u32string> keys;
  for (std::size_t i = 0;; ++i) {
    PyRef query = PyRef::steal(PyIter_Next(iterator.get()));
    if (!query) {
      if (PyErr_Occurred()) throw PyError::fetch();
      break;
    }
    const std::string position = std::string(name) + "[" + std::to_string(i) + "]";
    if (!PyUnicode_Check(query.get()))
      throw_type_error(position + " must be a str, not " + type_name(query.get()));
    try {
      keys.push_back(key_of(state, query.get(), position));
    } catch (PyError& error) {
      // normalize's own failures, told with the query's position.
      PyRef instance = error.instance();
      PyRef text = checked(PyObject_Str(instance.get()));
      throw PyError(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())),
                    checked(PyUnicode_FromFormat("%s: %U", position.c_str(), text.get())));
    }
  }
  return keys;
}

// ---------------------------------------------------------------------------
// Results.

PyRef new_match(PyRef word, PyRef value, PyRef distance) {
#ifdef PYPY_VERSION
  return checked(
      PyObject_CallFunctionObjArgs(match_type, word.get(), value.get(), distance.get(), nullptr));
#else
  // Match is a tuple subclass without a dict: made as tuple.__new__ makes
  // its instances, without a call through Python.
  auto* type = reinterpret_cast<PyTypeObject*>(match_type);
  PyRef match = checked(type->tp_alloc(type, 3));
  PyTuple_SET_ITEM(match.get(), 0, word.release());
  PyTuple_SET_ITEM(match.get(), 1, value.release());
  PyTuple_SET_ITEM(match.get(), 2, distance.release());
  // A str and two ints can be part of no cycle: the collector need never
  // look at it (it would find as much on its first pass and stop looking).
  PyObject_GC_UnTrack(match.get());
  return match;
#endif
}

PyRef matches_to_py(const IndexState& state, const std::vector<Match>& matches) {
  return py::matches_to_py(*state.index, matches);
}

PyRef value_to_py(std::optional<Payload> value, PyObject* otherwise) {
  return value.has_value() ? u32_to_py(*value) : PyRef::borrow(otherwise);
}

// Holds off the cyclic garbage collector for its lifetime, if it was on.
class PausedCollector {
 public:
#if !defined(PYPY_VERSION) && PY_VERSION_HEX >= 0x030A0000
  PausedCollector() : was_on_(PyGC_Disable() == 1) {}
  ~PausedCollector() {
    if (was_on_) PyGC_Enable();
  }

 private:
  bool was_on_;
#else
  PausedCollector() = default;
#endif
  PausedCollector(const PausedCollector&) = delete;
  PausedCollector& operator=(const PausedCollector&) = delete;
};

// Runs work(i) for every key without the interpreter lock, over `threads`
// threads, while this thread, with the lock, hands each finished range on
// to consume(begin, end).
template <typename Work, typename Consume>
void run_batch(std::size_t count, unsigned threads, Work&& work, Consume&& consume) {
  WithoutGil unlocked;
  run_in_parallel(
      count, threads, work,
      [&](std::size_t begin, std::size_t end) {
        WithoutGil::with_gil([&] { consume(begin, end); });
      },
      [] { WithoutGil::poll(); });
}

// ---------------------------------------------------------------------------
// The methods.

constexpr const char* kGetParameters[] = {"word", "default"};
constexpr const char* kSearchParameters[] = {"query", "max_dist", "limit", "sorted",
                                             "transpositions"};
constexpr const char* kSuggestParameters[] = {"word", "max_dist", "limit"};
constexpr const char* kCompleteParameters[] = {"prefix", "max_dist", "limit", "transpositions"};
constexpr const char* kGetManyParameters[] = {"words", "default", "threads"};
constexpr const char* kSearchManyParameters[] = {"queries", "max_dist",       "limit",
                                                 "sorted",  "transpositions", "threads"};
constexpr const char* kSuggestManyParameters[] = {"words", "max_dist", "limit", "threads"};
constexpr const char* kCompleteManyParameters[] = {"prefixes", "max_dist", "limit",
                                                   "transpositions", "threads"};

constexpr Signature kGet{"get", kGetParameters, 2, 1};
constexpr Signature kSearch{"search", kSearchParameters, 3, 1};
constexpr Signature kSuggest{"suggest", kSuggestParameters, 3, 1};
constexpr Signature kComplete{"complete", kCompleteParameters, 3, 1};
constexpr Signature kGetMany{"get_many", kGetManyParameters, 2, 1};
constexpr Signature kSearchMany{"search_many", kSearchManyParameters, 3, 1};
constexpr Signature kSuggestMany{"suggest_many", kSuggestManyParameters, 3, 1};
constexpr Signature kCompleteMany{"complete_many", kCompleteManyParameters, 3, 1};

// The options of a search, as both search and search_many take them.
struct SearchOptions {
  std::uint64_t max_dist;
  std::optional<std::uint64_t> limit;
  bool sorted;
  bool transpositions;
};

SearchOptions search_options(const Slots& slots) {
  return {count_or(slots[1], "max_dist", 1), limit_or(slots[2], std::nullopt),
          flag_or(slots[3], "sorted", false), flag_or(slots[4], "transpositions", false)};
}

// An exact lookup is a descent of one binary search per character. For a
// word of up to kShortWord characters that takes less time than giving the
// interpreter lock away and taking it back, which another thread could not
// use in so short a time anyway: it keeps the lock. A longer one gives it
// away like every other lookup. The answer is the same either way.
constexpr std::size_t kShortWord = 256;

std::optional<Payload> exact_lookup(const IndexState& state, std::u32string_view key) {
  if (key.size() <= kShortWord) return state.index->get(key);
  return without_gil([&] { return state.index->get(key); });
}

PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kGet, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "word");
    return value_to_py(exact_lookup(state, key), slots[1] != nullptr ? slots[1] : Py_None);
  });
}

PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kSearch, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "query");
    const SearchOptions options = search_options(slots);
    const std::vector<Match> found = without_gil([&] {
      return state.index->search(key, options.max_dist, options.limit, options.sorted,
                                 options.transpositions);
    });
    return matches_to_py(state, found);
  });
}

PyObject* suggest(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kSuggest, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "word");
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 2);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 5);
    const std::vector<Match> found =
        without_gil([&] { return state.index->suggest(key, max_dist, limit); });
    return matches_to_py(state, found);
  });
}

PyObject* complete(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kComplete, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "prefix");
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 1);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 10);
    const bool transpositions = flag_or(slots[3], "transpositions", false);
    const std::vector<Match> found =
        without_gil([&] { return state.index->complete(key, max_dist, limit, transpositions); });
    return matches_to_py(state, found);
  });
}

PyObject* get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kGetMany, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    PyObject* otherwise = slots[1] != nullptr ? slots[1] : Py_None;
    const unsigned threads = threads_of(slots[2]);
    const std::vector<std::u32string> keys = keys_of(state, slots[0], "words");
    std::vector<std::optional<Payload>> values(keys.size());
    std::vector<PyRef> found(keys.size());
    run_batch(
        keys.size(), threads, [&](std::size_t i) { values[i] = state.index->get(keys[i]); },
        [&](std::size_t begin, std::size_t end) {
          for (std::size_t i = begin; i < end; ++i) found[i] = value_to_py(values[i], otherwise);
        });
    return list_to_py(found, [](const PyRef& value) { return value; });
  });
}

// A batch of lookups, each the single call's, results in the queries' order.
template <typename Lookup>
PyRef lookup_batch(const IndexState& state, const std::vector<std::u32string>& keys,
                   unsigned threads, Lookup&& lookup) {
  std::vector<std::vector<Match>> results(keys.size());
  // Each result is made as soon as its range is done, and the outer list
  // last: a list of every result made first would be walked by each of the
  // collector's passes that the results set off. The collector waits until
  // all are made: every result is alive, and passes in between would only
  // walk them again and again.
  std::vector<PyRef> lists(keys.size());
  PausedCollector paused;
  run_batch(
      keys.size(), threads, [&](std::size_t i) { results[i] = lookup(keys[i]); },
      [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
          lists[i] = matches_to_py(state, results[i]);
          std::vector<Match>().swap(results[i]);
        }
      });
  return list_to_py(lists, [](const PyRef& list) { return list; });
}

PyObject* search_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kSearchMany, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const SearchOptions options = search_options(slots);
    const unsigned threads = threads_of(slots[5]);
    const std::vector<std::u32string> keys = keys_of(state, slots[0], "queries");
    return lookup_batch(state, keys, threads, [&](const std::u32string& key) {
      return state.index->search(key, options.max_dist, options.limit, options.sorted,
                                 options.transpositions);
    });
  });
}

PyObject* suggest_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kSuggestMany, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 2);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 5);
    const unsigned threads = threads_of(slots[3]);
    const std::vector<std::u32string> keys = keys_of(state, slots[0], "words");
    return lookup_batch(state, keys, threads, [&](const std::u32string& key) {
      return state.index->suggest(key, max_dist, limit);
    });
  });
}

PyObject* complete_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  return run_in_frame([&] {
    const Slots slots = bind(kCompleteMany, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 1);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 10);
    const bool transpositions = flag_or(slots[3], "transpositions", false);
    const unsigned threads = threads_of(slots[4]);
    const std::vector<std::u32string> keys = keys_of(state, slots[0], "prefixes");
    return lookup_batch(state, keys, threads, [&](const std::u32string& key) {
      return state.index->complete(key, max_dist, limit, transpositions);
    });
  });
}

int contains(PyObject* self, PyObject* word) {
  PyRef answer = PyRef::steal(run_in_frame([&] {
    if (!PyUnicode_Check(word)) return PyRef::borrow(Py_False);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, word, "word");
    return PyRef::borrow(exact_lookup(state, key).has_value() ? Py_True : Py_False);
  }));
  if (!answer) return -1;
  return answer.get() == Py_True;
}

// ---------------------------------------------------------------------------
// Creation and release.

// NativeIndex(image, spelling_keys, spelling_words, word_count, weighted,
// normalize, parts)
PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_in_frame([&] {
    PyObject *image, *keys, *words, *normalize, *parts;
    unsigned long long word_count;
    int weighted;
    static const char* names[] = {"image",    "spelling_keys", "spelling_words", "word_count",
                                  "weighted", "normalize",     "parts",          nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOOKpOO:NativeIndex", const_cast<char**>(names),
                                     &image, &keys, &words, &word_count, &weighted, &normalize,
                                     &parts))
      throw PyError::fetch();
    if (normalize != Py_None && !PyCallable_Check(normalize))
      throw_type_error("normalize must be a callable or None, not " + type_name(normalize));
    auto state = std::make_unique<IndexState>();
    state->image = std::make_unique<BufferHold>(image);
    std::span<const std::uint8_t> bytes = state->image->bytes();
    if (reinterpret_cast<std::uintptr_t>(bytes.data()) % 8 != 0) {
      state->aligned_copy.resize((bytes.size() + 7) / 8);
      if (!bytes.empty()) std::memcpy(state->aligned_copy.data(), bytes.data(), bytes.size());
      bytes = std::span(reinterpret_cast<const std::uint8_t*>(state->aligned_copy.data()),
                        bytes.size());
    }
    std::variant<ImageParts, std::string> read = without_gil([&] { return read_image(bytes); });
    if (const std::string* problem = std::get_if<std::string>(&read))
      throw_value_error("not the image of an index: " + *problem);
    const ImageParts& image_parts = std::get<ImageParts>(read);
    if (image_parts.forward.payloads.size() != word_count)
      throw_value_error("not the image of an index: its word count disagrees");
    state->forward = CompactTrie(image_parts.forward);
    WordIndex::Saved saved;
    if (image_parts.backward) {
      state->backward.emplace(*image_parts.backward);
      saved = {&*state->backward, image_parts.best_forward, std::nullopt,
               image_parts.weighted_words};
    }
    saved.sounds = image_parts.sounds;
    state->spelling_keys = std::make_unique<BufferHold>(keys);
    state->spelling_words = std::make_unique<BufferHold>(words);
    state->normalize = PyRef::borrow(normalize);
    state->parts = PyRef::borrow(parts);
    const std::span<const std::uint8_t> key_table = state->spelling_keys->bytes();
    const std::span<const std::uint8_t> word_table = state->spelling_words->bytes();
    if (!word_table_fits(key_table) || !word_table_fits(word_table) ||
        word_table_count(key_table) != word_table_count(word_table))
      throw_value_error("not the spelling tables of an index");
    state->index = std::make_unique<WordIndex>(state->forward, key_table, word_table, word_count,
                                               weighted != 0, saved);
    PyRef object = checked(type->tp_alloc(type, 0));
    reinterpret_cast<NativeIndexObject*>(object.get())->state = state.release();
    return object;
  });
}

void release(PyObject* self) {
  PyObject_GC_UnTrack(self);
  run_in_frame_without_result([&] {
    auto* object = reinterpret_cast<NativeIndexObject*>(self);
    delete std::exchange(object->state, nullptr);
  });
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

// The normalize function and the package's parts may refer back to the
// index (a closure, say), so the collector must see them.
int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (const IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state) {
    Py_VISIT(state->normalize.get());
    Py_VISIT(state->parts.get());
  }
  return 0;
}

int clear(PyObject* self) {
  if (IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state) {
    // A cleared index answers nothing more, but never crashes: the words'
    // references go last, with the rest.
    state->normalize = PyRef::borrow(Py_None);
    state->parts = PyRef::borrow(Py_None);
  }
  return 0;
}

PyObject* get_parts(PyObject* self, void*) {
  return run_in_frame([&] { return PyRef(state_of(self).parts); });
}

PyObject* get_normalize(PyObject* self, void*) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    return PyRef(state.normalize);
  });
}

PyObject* get_weighted(PyObject* self, void*) {
  return run_in_frame(
      [&] { return PyRef::borrow(state_of(self).index->weighted() ? Py_True : Py_False); });
}

// _image(complete): the image of the tries as bytes; with `complete`, the
// reversed trie and the best payloads too, made now if need be (what a
// saved index stores).
PyObject* image_bytes(PyObject* self, PyObject* complete) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const int full = PyObject_IsTrue(complete);
    if (full < 0) throw PyError::fetch();
    const std::vector<std::uint64_t> image = without_gil([&] {
      const WordIndex& index = *state.index;
      const SoundTableSpans* sound_spans = index.sounds() ? &index.sounds()->spans() : nullptr;
      if (full == 0) return write_image(state.forward.spans(), nullptr, {}, sound_spans);
      const CompactTrie& backward = index.backward();
      const CompactTrieSpans reversed = backward.spans();
      const std::optional<WeightedWordsSpans> weighted = index.weighted_words();
      return write_image(state.forward.spans(), &reversed, index.best_forward(), sound_spans,
                         weighted ? &*weighted : nullptr);
    });
    return image_to_py(image);
  });
}

// _trie(): the forward trie unfolded into a _kelvaro.PrefixSearch, made on
// first need and kept.
PyObject* unfolded_trie(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    // Kept on first need, under the interpreter lock that this holds.
    IndexState& state = const_cast<IndexState&>(state_of(self));
    if (!state.trie) {
      Trie trie = without_gil([&] { return state.forward.unpacked(); });
      PyRef type = imported_prefix_search_type();
      state.trie = adopt_trie(reinterpret_cast<PyTypeObject*>(type.get()), std::move(trie));
    }
    return PyRef(state.trie);
  });
}

// _memory(): the bytes of (the forward trie, the reversed trie, the best
// payloads, the sound table, the weighted words' tries and best payloads,
// the image in all, the lookup tables the index made itself, the
// unfolded trie if made); the reversed trie and the table count once made.
PyObject* memory(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const std::size_t image = state.image->bytes().size();
    const std::size_t made = state.index->made_table_bytes();
    const std::size_t forward = state.forward.spans().bytes();
    std::size_t backward = 0, best = 0;
    if (state.backward) {
      backward = state.backward->spans().bytes();
      best = state.forward.folded_count() * sizeof(Payload);
    } else if (made > 0) {
      backward = state.index->backward().spans().bytes();
      best = state.forward.folded_count() * sizeof(Payload);
    }
    const SoundTable* table = state.index->sounds();
    const std::size_t sounds = table ? table->spans().bytes() : 0;
    std::size_t weighted = 0;
    if (state.backward || made > 0) {
      if (const std::optional<WeightedWordsSpans> words = state.index->weighted_words())
        weighted = words->bytes();
    }
    std::size_t unfolded = 0;
    if (state.trie) {
      const Trie& trie = *reinterpret_cast<PrefixSearchObject*>(state.trie.get())->trie;
      unfolded = trie.node_shifts().size() * (4 + 4 + 8 + 4 + 4 + 2);
    }
    return tuple_to_py<8>({u64_to_py(forward), u64_to_py(backward), u64_to_py(best),
                           u64_to_py(sounds), u64_to_py(weighted), u64_to_py(image),
                           u64_to_py(made), u64_to_py(unfolded)});
  });
}

PyMethodDef methods[] = {
    {"_image", image_bytes, METH_O, "The image of the tries, with the lookup tables if asked."},
    {"_trie", unfolded_trie, METH_NOARGS, "The trie unfolded, made on first need."},
    {"_memory", memory, METH_NOARGS, "Bytes of the image, the tables made, the unfolded trie."},
    {"get", fastcall_entry(get), METH_FASTCALL | METH_KEYWORDS,
     "get(word, default=None)\n--\n\nThe value of `word`, or `default` when it is not stored."},
    {"search", fastcall_entry(search), METH_FASTCALL | METH_KEYWORDS,
     "search(query, max_dist=1, limit=None, *, sorted=False, transpositions=False)\n--\n\n"
     "Every stored word within `max_dist` edits (insertions, deletions,\n"
     "substitutions of one character) of `query`. With transpositions=True,\n"
     "swapping two neighbouring characters is one edit too.\n\n"
     "Results come in the order of the search's walk through the trie, which\n"
     "at every node tries first the letter that continues the query; `limit`\n"
     "keeps the first `limit` of them. With sorted=True they are ordered by\n"
     "(distance, word), and `limit` keeps the best ones."},
    {"suggest", fastcall_entry(suggest), METH_FASTCALL | METH_KEYWORDS,
     "suggest(word, max_dist=2, limit=5)\n--\n\n"
     "The likeliest corrections of `word`, best first: the stored words within\n"
     "`max_dist` edits of it, a swap of two neighbouring characters counting as\n"
     "one edit, at most `limit` of them (None: all).\n\n"
     "A stored word is its own best suggestion. The others are ranked by how\n"
     "likely the typo is (a weighted edit cost: see the README) and, in a\n"
     "weighted index, how common the word is: words with a weight before words\n"
     "without, then typo cost less the logarithm of the weight, then the\n"
     "heavier word, then the word. Without weights, by typo cost alone, then\n"
     "by word."},
    {"complete", fastcall_entry(complete), METH_FASTCALL | METH_KEYWORDS,
     "complete(prefix, max_dist=1, limit=10, *, transpositions=False)\n--\n\n"
     "The stored words that begin with `prefix`, give or take `max_dist`\n"
     "edits: a word w completes it when some beginning of w (w[:k] for k from\n"
     "0 to len(w)) is within `max_dist` edits of it, and its distance is the\n"
     "least such. With transpositions=True a swap of two neighbouring\n"
     "characters is one edit.\n\n"
     "Ordered by (distance, -value, word) in a weighted index and by\n"
     "(distance, word) otherwise, the word being its normalised form in an\n"
     "index with a normalize function; `limit` keeps the first `limit`\n"
     "(None: all)."},
    {"get_many", fastcall_entry(get_many), METH_FASTCALL | METH_KEYWORDS,
     "get_many(words, default=None, *, threads=None)\n--\n\n"
     "get for every word of `words`, in their order, on `threads` threads\n"
     "(as many as the machine has cores when None)."},
    {"search_many", fastcall_entry(search_many), METH_FASTCALL | METH_KEYWORDS,
     "search_many(queries, max_dist=1, limit=None, *, sorted=False, transpositions=False, "
     "threads=None)\n--\n\n"
     "search for every query, in the order of `queries`, on `threads` threads\n"
     "(as many as the machine has cores when None): the results of a loop of\n"
     "search, found without the interpreter lock."},
    {"suggest_many", fastcall_entry(suggest_many), METH_FASTCALL | METH_KEYWORDS,
     "suggest_many(words, max_dist=2, limit=5, *, threads=None)\n--\n\n"
     "suggest for every word, in their order, on `threads` threads."},
    {"complete_many", fastcall_entry(complete_many), METH_FASTCALL | METH_KEYWORDS,
     "complete_many(prefixes, max_dist=1, limit=10, *, transpositions=False, "
     "threads=None)\n--\n\n"
     "complete for every prefix, in their order, on `threads` threads."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getters[] = {
    {"_parts", get_parts, nullptr, "What the package keeps beside the native index.", nullptr},
    {"normalize", get_normalize, nullptr, "The function applied to every word and query, or None.",
     nullptr},
    {"weighted", get_weighted, nullptr,
     "Whether the values are weights (higher is likelier), which suggest and\n"
     "complete rank by.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("The native part of kelvaro.Index.")},
    {Py_tp_new, reinterpret_cast<void*>(create)},
    {Py_tp_dealloc, reinterpret_cast<void*>(release)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getters},
    {Py_sq_contains, reinterpret_cast<void*>(contains)},
    {0, nullptr},
};

PyType_Spec spec = {
    "kelvaro._native_index.NativeIndex",
    sizeof(NativeIndexObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    slots,
};

PyObject* set_match_type(PyObject*, PyObject* type) {
  return run_in_frame([&] {
    if (!PyType_Check(type) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), &PyTuple_Type))
      throw_type_error("Match must be a subclass of tuple");
    Py_XDECREF(match_type);
    match_type = PyRef::borrow(type).release();
    return PyRef::borrow(Py_None);
  });
}

}  // namespace

PyRef matches_to_py(const WordIndex& index, const std::vector<Match>& matches) {
  if (match_type == nullptr) throw PyError(PyExc_RuntimeError, "kelvaro.Match is not set");
  return list_to_py(matches, [&](const Match& match) {
    return new_match(spelling_to_py(index, match.text), u32_to_py(match.payload.value_or(0)),
                     u64_to_py(match.distance));
  });
}

PyRef spelling_to_py(const WordIndex& index, std::string_view key) {
  return text_to_py(index.spelling(key));
}

const WordIndex& word_index_of(PyObject* object) {
  if (!PyObject_TypeCheck(object, native_index_type())) throw downcast_error(object, "Index");
  return *state_of(object).index;
}

PyTypeObject* native_index_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = checked(PyType_FromSpec(&spec)).release();
  return reinterpret_cast<PyTypeObject*>(type);
}

PyMethodDef set_match_type_definition = {"_set_match_type", set_match_type, METH_O,
                                         "Gives the class of the matches that lookups return."};

}  // namespace kelvaro::py
