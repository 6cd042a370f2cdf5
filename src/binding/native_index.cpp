#include "binding/native_index.h"

#include <span>
#include <utility>
#include <variant>

#include "binding/file_functions.h"
#include "binding/lookups.h"
#include "bits/crc32c.h"
#include "format/index_image.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "lib/module_cells.h"
#include "lib/prefix_search.h"

namespace kelvaro::py {
namespace {

struct NativeIndexObject {
  PyObject_HEAD
      // Owned; null only in an object whose making failed.
      IndexState* state;
};

PyRef new_match(PyRef word, PyRef value, PyRef distance) {
  PyTypeObject* type = module_cells().match;
#ifdef PYPY_VERSION
  return checked(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(type), word.get(),
                                              value.get(), distance.get(), nullptr));
#else
  // Match is a tuple subclass without a dict: made as tuple.__new__ makes
  // its instances, without a call through Python.
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

// ---------------------------------------------------------------------------
// Making and releasing.

// Everything an index needs of its image, checked once: the file's
// checksum and header, its word tables, its tries. Runs without the
// interpreter lock; the reason it is refused, or nothing.
std::optional<std::string> read_state(IndexState& state, std::span<const std::uint8_t> bytes) {
  std::variant<CheckedIndexFile, std::string> read = read_checked_index_file(bytes);
  if (const std::string* problem = std::get_if<std::string>(&read)) return *problem;
  const auto& [file, tries] = std::get<CheckedIndexFile>(read);
  state.file = file;
  state.forward = CompactTrie(tries.forward);
  WordIndex::Saved saved;
  if (tries.backward) {
    state.backward.emplace(*tries.backward);
    saved.backward = &*state.backward;
    saved.best_forward = tries.best_forward;
    saved.weighted_words = tries.weighted_words;
    saved.near = tries.near;
  }
  saved.sounds = tries.sounds;
  saved.pairs = tries.pairs;
  state.index = std::make_unique<WordIndex>(state.forward, file.spelling_keys, file.spelling_words,
                                            file.weighted, saved);
  return std::nullopt;
}

// NativeIndex(image, normalize)
PyObject* create(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return run_in_frame([&] {
    PyObject *image, *normalize;
    static const char* names[] = {"image", "normalize", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:NativeIndex", const_cast<char**>(names),
                                     &image, &normalize))
      throw PyError::fetch();
    if (normalize != Py_None && !PyCallable_Check(normalize))
      throw_type_error("normalize must be a callable or None, not " + type_name(normalize));
    auto state = std::make_unique<IndexState>();
    state->buffer = std::make_unique<BufferHold>(image);
    const std::span<const std::uint8_t> bytes =
        aligned(state->buffer->bytes(), state->aligned_copy);
    if (auto problem = without_gil([&] { return read_state(*state, bytes); }))
      throw_value_error(*problem);
    state->normalize = PyRef::borrow(normalize);
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

// The normalize function may refer back to the index (a closure, say), so
// the collector must see it.
int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (const IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state)
    Py_VISIT(state->normalize.get());
  return 0;
}

int clear(PyObject* self) {
  // A cleared index answers nothing more, but never crashes.
  if (IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state)
    state->normalize = PyRef::borrow(Py_None);
  return 0;
}

// ---------------------------------------------------------------------------
// What it is made of.

PyObject* get_normalize(PyObject* self, void*) {
  return run_in_frame([&] { return PyRef(state_of(self).normalize); });
}

PyObject* get_weighted(PyObject* self, void*) {
  return run_in_frame(
      [&] { return PyRef::borrow(state_of(self).file.weighted ? Py_True : Py_False); });
}

PyObject* get_node_count(PyObject* self, void*) {
  return run_in_frame([&] { return u64_to_py(state_of(self).file.node_count); });
}

Py_ssize_t length(PyObject* self) {
  PyRef answer =
      PyRef::steal(run_in_frame([&] { return u64_to_py(state_of(self).file.word_count); }));
  if (!answer) return -1;
  return PyLong_AsSsize_t(answer.get());
}

// _sections(): memoryviews of the image's tries, words, spelling keys and
// spelling words, in the object the index was made from.
PyObject* sections(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const std::uint8_t* start =
        state.aligned_copy.empty()
            ? state.buffer->bytes().data()
            : reinterpret_cast<const std::uint8_t*>(state.aligned_copy.data());
    PyRef whole = checked(PyMemoryView_FromObject(state.buffer->exporter()));
    const auto slice = [&](std::span<const std::uint8_t> section) {
      const Py_ssize_t from = section.data() - start;
      return checked(
          PySequence_GetSlice(whole.get(), from, from + static_cast<Py_ssize_t>(section.size())));
    };
    return tuple_to_py<4>({slice(state.file.tries), slice(state.file.words),
                           slice(state.file.spelling_keys), slice(state.file.spelling_words)});
  });
}

// The image of the tries, with the lookup tables when `complete`, made now
// if need be (what a saved index stores).
std::vector<std::uint64_t> tries_image(const IndexState& state, bool complete) {
  const WordIndex& index = *state.index;
  const SoundTableSpans* sound_spans = index.sounds() ? &index.sounds()->spans() : nullptr;
  if (!complete)
    return write_image(state.forward.spans(), nullptr, {}, sound_spans, nullptr, index.pairs());
  const CompactTrieSpans reversed = index.backward().spans();
  const std::optional<WeightedWordsSpans> weighted = index.weighted_words();
  const std::optional<DeleteTableSpans> near = index.near_table();
  return write_image(state.forward.spans(), &reversed, index.best_forward(), sound_spans,
                     weighted ? &*weighted : nullptr, index.pairs(), near ? &*near : nullptr);
}

PyRef words_to_bytes(std::span<const std::uint64_t> words, std::size_t size) {
  return checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(words.data()),
                                           static_cast<Py_ssize_t>(size)));
}

// _image(complete): the image of the tries as bytes.
PyObject* image_bytes(PyObject* self, PyObject* complete) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const int full = PyObject_IsTrue(complete);
    if (full < 0) throw PyError::fetch();
    const std::vector<std::uint64_t> image = without_gil([&] { return tries_image(state, full); });
    return words_to_bytes(image, image.size() * 8);
  });
}

// _file(): the index file that save writes, the lookup tables made if need
// be and included.
PyObject* file_bytes(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const std::vector<std::uint64_t> image = without_gil([&] { return tries_image(state, true); });
    IndexFile sections = state.file;
    sections.tries = {reinterpret_cast<const std::uint8_t*>(image.data()), image.size() * 8};
    return file_to_py(sections);
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
      state.trie = adopt_trie(module_cells().prefix_search, std::move(trie));
    }
    return PyRef(state.trie);
  });
}

// _memory(): the bytes of (the forward trie, the reversed trie, the best
// payloads, the sound table, the weighted words' tries and best payloads,
// the tries' image, the lookup tables the index made itself, the unfolded
// trie if made, the counts of word pairs, the table of every word's
// deletions).
PyObject* memory(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const IndexState& state = state_of(self);
    const WordIndex::Memory parts = state.index->memory();
    std::size_t unfolded = 0;
    if (state.trie) {
      const Trie& trie = *reinterpret_cast<PrefixSearchObject*>(state.trie.get())->trie;
      unfolded = trie.node_shifts().size() * (4 + 4 + 8 + 4 + 4 + 2);
    }
    return tuple_to_py<10>({u64_to_py(parts.forward), u64_to_py(parts.backward),
                            u64_to_py(parts.best), u64_to_py(parts.sounds),
                            u64_to_py(parts.weighted), u64_to_py(state.file.tries.size()),
                            u64_to_py(parts.made), u64_to_py(unfolded), u64_to_py(parts.pairs),
                            u64_to_py(parts.near)});
  });
}

// _pair_total(): how many word pairs the index counts.
PyObject* pair_total(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const PairTableSpans* pairs = state_of(self).index->pairs();
    return u64_to_py(pairs != nullptr ? pairs->keys.size() : 0);
  });
}

// _weight_total(): the sum of the stored words' weights, as a float (0.0 in
// an unweighted index): what a weight is a share of.
PyObject* weight_total(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const WordIndex& words = *state_of(self).index;
    const double total =
        words.weighted() ? without_gil([&] { return words.weight_totals().total; }) : 0.0;
    return checked(PyFloat_FromDouble(total));
  });
}

// _words(after, count) -> (words, last key): at most `count` of the stored
// words as they were given, in the order of their keys, from the first
// after the stored key `after` (None: from the first), and the key of the
// last of them, which the next batch starts after (None when there is none).
PyObject* words_after(PyObject* self, PyObject* args) {
  return run_in_frame([&] {
    PyObject *after, *count;
    if (!PyArg_UnpackTuple(args, "_words", 2, 2, &after, &count)) throw PyError::fetch();
    const WordIndex& index = *state_of(self).index;
    std::optional<std::u32string> key;
    if (after != Py_None) key = to_chars(after);
    const std::uint64_t most = to_u64(count);
    const WordIndex::Words batch = without_gil([&] {
      return index.words_after(key ? std::optional<std::u32string_view>(*key) : std::nullopt,
                               static_cast<std::size_t>(most));
    });
    PyRef words = list_to_py(batch.words, [](const std::string& word) { return text_to_py(word); });
    PyRef last = batch.words.empty() ? PyRef::borrow(Py_None) : text_to_py(batch.last_key);
    return tuple_to_py<2>({std::move(words), std::move(last)});
  });
}

// _fingerprint(): CRC-32C of the forward trie's arrays, values included:
// what the index's hash takes. Equal indexes have the same trie, however
// their files were laid out, and the trie is most of what tells two
// indexes apart; checksumming it in place costs a few ms a million keys.
PyObject* fingerprint(PyObject* self, PyObject*) {
  return run_in_frame([&] {
    const CompactTrieSpans& trie = state_of(self).forward.spans();
    const std::uint32_t crc = without_gil([&] {
      std::uint32_t sum = 0;
      const auto add = [&](auto array) {
        const auto bytes = std::as_bytes(array);
        sum = crc32c({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, sum);
      };
      add(trie.alphabet);
      add(trie.ranks);
      add(trie.ends);
      add(trie.label_end);
      add(trie.first_child);
      add(trie.reach);
      add(trie.has_word);
      add(trie.payloads);
      return sum;
    });
    return u32_to_py(crc);
  });
}

PyMethodDef own_methods[] = {
    {"_image", image_bytes, METH_O, "The image of the tries, with the lookup tables if asked."},
    {"_file", file_bytes, METH_NOARGS, "The index file, lookup tables included."},
    {"_sections", sections, METH_NOARGS, "Views of the tries, words and spelling tables."},
    {"_words", words_after, METH_VARARGS, "A batch of the stored words, after a stored key."},
    {"_fingerprint", fingerprint, METH_NOARGS, "CRC-32C of the forward trie's arrays."},
    {"_trie", unfolded_trie, METH_NOARGS, "The trie unfolded, made on first need."},
    {"_memory", memory, METH_NOARGS, "Bytes of the image, the tables made, the unfolded trie."},
    {"_pair_total", pair_total, METH_NOARGS, "The number of word pairs counted."},
    {"_weight_total", weight_total, METH_NOARGS, "The sum of the stored words' weights."},
};

PyGetSetDef getters[] = {
    {"normalize", get_normalize, nullptr, "The function applied to every word and query, or None.",
     nullptr},
    {"weighted", get_weighted, nullptr,
     "Whether the values are weights (higher is likelier), which suggest and\n"
     "complete rank by.",
     nullptr},
    {"node_count", get_node_count, nullptr, "The number of nodes of the index's trie.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// Every method: the own ones above and the lookups, with the sentinel.
std::vector<PyMethodDef>& all_methods() {
  static std::vector<PyMethodDef> methods = [] {
    std::vector<PyMethodDef> joined(std::begin(own_methods), std::end(own_methods));
    for (const PyMethodDef* method = lookup_methods; method->ml_name != nullptr; ++method)
      joined.push_back(*method);
    joined.push_back({nullptr, nullptr, 0, nullptr});
    return joined;
  }();
  return methods;
}

}  // namespace

const IndexState& state_of(PyObject* self) {
  const IndexState* state = reinterpret_cast<NativeIndexObject*>(self)->state;
  if (state == nullptr)
    throw_type_error("the index was not made by Index.from_words or Index.load");
  return *state;
}

const IndexState& index_argument(PyObject* object) {
  if (!PyObject_TypeCheck(object, native_index_type())) throw downcast_error(object, "Index");
  return state_of(object);
}

std::u32string key_of(const IndexState& state, PyObject* text, std::string_view name) {
  if (!PyUnicode_Check(text))
    throw_type_error(std::string(name) + " must be a str, not " + type_name(text));
  if (state.normalize.get() == Py_None) return str_chars(text);
  PyRef key = checked(PyObject_CallOneArg(state.normalize.get(), text));
  if (!PyUnicode_Check(key.get())) {
    PyRef shown = checked(PyObject_Repr(text));
    throw PyError(PyExc_TypeError,
                  checked(PyUnicode_FromFormat("normalize(%U) returned %s, not str", shown.get(),
                                               type_name(key.get()).c_str())));
  }
  return str_chars(key.get());
}

PyRef matches_to_py(const WordIndex& index, const std::vector<Match>& matches) {
  return list_to_py(matches, [&](const Match& match) {
    return new_match(spelling_to_py(index, match.text), u32_to_py(match.payload.value_or(0)),
                     u64_to_py(match.distance));
  });
}

PyRef spelling_to_py(const WordIndex& index, std::string_view key) {
  return text_to_py(index.spelling(key));
}

PyTypeObject* native_index_type() {
  PyTypeObject*& type = module_cells().native_index;
  if (type != nullptr) return type;
  static PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>("The native part of kelvaro.Index.")},
      {Py_tp_new, reinterpret_cast<void*>(create)},
      {Py_tp_dealloc, reinterpret_cast<void*>(release)},
      {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(clear)},
      {Py_tp_methods, all_methods().data()},
      {Py_tp_getset, getters},
      {Py_sq_contains, reinterpret_cast<void*>(contains)},
      {Py_sq_length, reinterpret_cast<void*>(length)},
      {0, nullptr},
  };
  static PyType_Spec spec = {
      "kelvaro._native_index.NativeIndex",
      sizeof(NativeIndexObject),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
      slots,
  };
  type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
  return type;
}

}  // namespace kelvaro::py
