#include "binding/lookups.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "binding/native_index.h"
#include "index/parallel.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"

namespace kelvaro::py {
namespace {

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

// Methods of an index: named without their class in messages, the first
// few by position, the rest by keyword only; the first alone required.
constexpr FunctionDescription method(const char* name, std::span<const char* const> parameters,
                                     std::size_t positional) {
  return {nullptr, name, parameters, positional, 1};
}

constexpr const char* kPairCountParameters[] = {"first", "second"};
constexpr FunctionDescription kGet = method("get", kGetParameters, 2);
constexpr FunctionDescription kPairCount{nullptr, "pair_count", kPairCountParameters, 2, 2};
constexpr const char* kWordNumberParameters[] = {"word"};
constexpr FunctionDescription kWordNumber{nullptr, "_word_number", kWordNumberParameters, 1, 1};
constexpr FunctionDescription kSearch = method("search", kSearchParameters, 3);
constexpr FunctionDescription kSuggest = method("suggest", kSuggestParameters, 3);
constexpr FunctionDescription kComplete = method("complete", kCompleteParameters, 3);
constexpr FunctionDescription kGetMany = method("get_many", kGetManyParameters, 2);
constexpr FunctionDescription kSearchMany = method("search_many", kSearchManyParameters, 3);
constexpr FunctionDescription kSuggestMany = method("suggest_many", kSuggestManyParameters, 3);
constexpr FunctionDescription kCompleteMany = method("complete_many", kCompleteManyParameters, 3);

// The options of a search, as both search and search_many take them.
struct SearchOptions {
  std::uint64_t max_dist;
  std::optional<std::uint64_t> limit;
  bool sorted;
  bool transpositions;
};

SearchOptions search_options(const ArgumentSlots& slots) {
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
    const ArgumentSlots slots = bind_arguments(kGet, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "word");
    return value_to_py(exact_lookup(state, key), slots[1] != nullptr ? slots[1] : Py_None);
  });
}

PyObject* search(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kSearch, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "query");
    const SearchOptions options = search_options(slots);
    const std::vector<Match> found = without_gil([&] {
      return state.index->search(key, options.max_dist, options.limit, options.sorted,
                                 options.transpositions);
    });
    return matches_to_py(*state.index, found);
  });
}

PyObject* suggest(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kSuggest, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "word");
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 2);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 5);
    const std::vector<Match> found =
        without_gil([&] { return state.index->suggest(key, max_dist, limit); });
    return matches_to_py(*state.index, found);
  });
}

PyObject* complete(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kComplete, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "prefix");
    const std::uint64_t max_dist = count_or(slots[1], "max_dist", 1);
    const std::optional<std::uint64_t> limit = limit_or(slots[2], 10);
    const bool transpositions = flag_or(slots[3], "transpositions", false);
    const std::vector<Match> found =
        without_gil([&] { return state.index->complete(key, max_dist, limit, transpositions); });
    return matches_to_py(*state.index, found);
  });
}

PyObject* get_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kGetMany, args, nargs, kwnames);
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
          lists[i] = matches_to_py(*state.index, results[i]);
          std::vector<Match>().swap(results[i]);
        }
      });
  return list_to_py(lists, [](const PyRef& list) { return list; });
}

PyObject* search_many(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kSearchMany, args, nargs, kwnames);
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
    const ArgumentSlots slots = bind_arguments(kSuggestMany, args, nargs, kwnames);
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
    const ArgumentSlots slots = bind_arguments(kCompleteMany, args, nargs, kwnames);
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

}  // namespace

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

// pair_count(first, second): the count of the pair of words, or None.
PyObject* pair_count(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kPairCount, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string first = key_of(state, slots[0], "first");
    const std::u32string second = key_of(state, slots[1], "second");
    const std::optional<std::uint32_t> count = state.index->pair_count(first, second);
    return count ? u32_to_py(*count) : PyRef::borrow(Py_None);
  });
}

// _word_number(word): the number of a stored word, which the counts of a
// check are kept by, or None; the word is found as get finds it.
PyObject* word_number(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kWordNumber, args, nargs, kwnames);
    const IndexState& state = state_of(self);
    const std::u32string key = key_of(state, slots[0], "word");
    const std::optional<std::uint32_t> number = state.index->word_number(key);
    return number ? u32_to_py(*number) : PyRef::borrow(Py_None);
  });
}

PyMethodDef lookup_methods[] = {
    {"get", fastcall_entry(get), METH_FASTCALL | METH_KEYWORDS,
     "get(word, default=None)\n--\n\nThe value of `word`, or `default` when it is not stored."},
    {"_word_number", fastcall_entry(word_number), METH_FASTCALL | METH_KEYWORDS,
     "_word_number(word)\n--\n\nThe number of a stored word, its place in the counts of a "
     "check, or None."},
    {"pair_count", fastcall_entry(pair_count), METH_FASTCALL | METH_KEYWORDS,
     "pair_count(first, second)\n--\n\nHow often `second` follows `first`, as the index counts "
     "it, or None."},
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

}  // namespace kelvaro::py
