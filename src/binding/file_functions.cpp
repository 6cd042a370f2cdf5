#include "binding/file_functions.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/buffer_hold.h"
#include "bits/little_endian.h"
#include "build/key_pool.h"
#include "build/key_spans.h"
#include "build/trie_builder.h"
#include "codec/trie_codec.h"
#include "folded/compact_trie.h"
#include "format/index_file.h"
#include "format/index_image.h"
#include "format/index_sections.h"
#include "format/index_trie_check.h"
#include "format/word_table.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "lib/prefix_search.h"
#include "prefix/internal_error.h"
#include "prefix/tree_walk.h"
#include "prefix/utf8.h"
#include "search/pair_table.h"
#include "search/sound_key.h"
#include "search/typo_cost.h"

namespace kelvaro::py {
namespace {

constexpr const char* kBuildIndexParameters[] = {"keys",     "words",         "values", "sounds",
                                                 "weighted", "normalization", "pairs"};
constexpr const char* kCheckIndexParameters[] = {"trie", "words", "spellings", "texts"};
constexpr const char* kIndexFileParameters[] = {"normalization", "tries",      "words",
                                                "spellings",     "node_count", "weighted"};

constexpr FunctionDescription kBuildIndex{nullptr, "build_index", kBuildIndexParameters, 7, 6};
constexpr FunctionDescription kCheckIndex{nullptr, "check_index", kCheckIndexParameters};
constexpr FunctionDescription kIndexFile{nullptr, "index_file", kIndexFileParameters};

// Keys and word tables address their bytes with unsigned 32-bit integers.
constexpr std::uint64_t kMaxCount = 0xFFFFFFFF;

// ---------------------------------------------------------------------------
// Arguments.

// A pair of bytes objects, borrowed likewise.
std::pair<std::span<const std::uint8_t>, std::span<const std::uint8_t>> to_byte_views(
    PyObject* object) {
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 2)
    throw PyError(PyExc_TypeError, "expected a pair of bytes");
  return {to_byte_view(PyTuple_GET_ITEM(object, 0)), to_byte_view(PyTuple_GET_ITEM(object, 1))};
}

// A bytes object holding little-endian unsigned 32-bit integers.
std::vector<std::uint32_t> to_u32_values(PyObject* object) {
  std::span<const std::uint8_t> bytes = to_byte_view(object);
  if (bytes.size() % 4 != 0) throw_value_error("expected whole 32-bit integers");
  return le::load_u32_array(bytes);
}

std::optional<std::vector<std::uint32_t>> to_optional_u32_values(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  return to_u32_values(object);
}

// Texts joined into one str, with the length of each in characters, or
// None when newlines separate them: a (str, bytes or None) pair.
struct JoinedTexts {
  std::string_view text;
  std::optional<std::vector<std::uint32_t>> lengths;
};

JoinedTexts to_joined_texts(PyObject* object) {
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 2)
    throw PyError(PyExc_TypeError, "expected a (text, lengths) pair");
  return {to_utf8(PyTuple_GET_ITEM(object, 0)),
          to_optional_u32_values(PyTuple_GET_ITEM(object, 1))};
}

std::optional<JoinedTexts> to_optional_joined_texts(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  return to_joined_texts(object);
}

// None, or (first words, second words, counts): two joined texts of
// stored keys and their counts.
struct JoinedPairs {
  JoinedTexts firsts, seconds;
  std::vector<std::uint32_t> counts;
};

std::optional<JoinedPairs> to_optional_joined_pairs(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 3)
    throw PyError(PyExc_TypeError, "expected None or (firsts, seconds, counts)");
  return JoinedPairs{to_joined_texts(PyTuple_GET_ITEM(object, 0)),
                     to_joined_texts(PyTuple_GET_ITEM(object, 1)),
                     to_u32_values(PyTuple_GET_ITEM(object, 2))};
}

// The texts, each a view into the joined str.
std::vector<std::string_view> split_checked(const JoinedTexts& joined) {
  if (joined.text.size() >= kMaxCount) throw_value_error("the texts take 4 GiB or more of UTF-8");
  if (!joined.lengths) return split_lines(joined.text);
  if (joined.lengths->size() > kMaxCount) throw_value_error("too many texts: at most 4294967295");
  std::optional<std::vector<std::string_view>> texts = split_keys(joined.text, *joined.lengths);
  if (!texts) throw_value_error("the lengths do not add up to the text");
  return std::move(*texts);
}

// ---------------------------------------------------------------------------
// Results.

PyRef new_bytes(std::size_t size) {
  return checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
}

std::span<std::uint8_t> writable(const PyRef& bytes) {
  return std::span(reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())),
                   static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// Counts of word pairs as the builder takes them: the stored keys of each
// pair's words, and its count.
struct PairInput {
  std::vector<std::string_view> firsts, seconds;
  std::vector<std::uint32_t> counts;
};

// The pair table of `pairs` over the words of `trie`: a pair given twice
// counts the sum of its counts (held at 4294967295), and a pair counted 0
// is left out. The caller has checked that every word is stored.
struct PairArrays {
  std::vector<std::uint64_t> keys;
  std::vector<std::uint32_t> counts;
};

struct UnknownPairWord {};

PairArrays pair_arrays(const CompactTrie& trie, const PairInput& pairs) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> counted;
  counted.reserve(pairs.counts.size());
  const auto number = [&](std::string_view key) {
    const auto node = find_exact(trie, utf8::decode(key));
    const std::optional<std::uint32_t> found = node ? trie.word_number(*node) : std::nullopt;
    if (!found) throw UnknownPairWord{};
    return *found;
  };
  for (std::size_t i = 0; i < pairs.counts.size(); ++i) {
    if (pairs.counts[i] == 0) continue;
    counted.emplace_back(pair_key(number(pairs.firsts[i]), number(pairs.seconds[i])),
                         pairs.counts[i]);
  }
  std::sort(counted.begin(), counted.end());
  PairArrays out;
  for (const auto& [key, count] : counted) {
    if (!out.keys.empty() && out.keys.back() == key) {
      const std::uint64_t sum = std::uint64_t{out.counts.back()} + count;
      out.counts.back() = static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, kMaxCount));
      continue;
    }
    out.keys.push_back(key);
    out.counts.push_back(count);
  }
  return out;
}

// The image of an index trie's compact form, with no lookup tables yet,
// with `sounds` its sound-alike table, if any of its words has a key, and
// the table of `pairs`, if any.
std::vector<std::uint64_t> image_of(const Trie& trie, bool sounds = false,
                                    const PairInput* pairs = nullptr) {
  return without_gil([&] {
    const CompactTrieArrays arrays = compact(trie);
    const CompactTrie folded(arrays.spans());
    SoundTableArrays table;
    if (sounds) table = make_sound_table(folded);
    const SoundTableSpans sound_spans = table.spans();
    PairArrays pair_table;
    if (pairs != nullptr) pair_table = pair_arrays(folded, *pairs);
    const PairTableSpans pair_spans{pair_table.keys, pair_table.counts};
    return write_image(arrays.spans(), nullptr, {},
                       table.text_ends.empty() ? nullptr : &sound_spans, nullptr, &pair_spans);
  });
}

std::span<const std::uint8_t> bytes_of(std::span<const std::uint64_t> words) {
  return {reinterpret_cast<const std::uint8_t*>(words.data()), words.size_bytes()};
}

std::vector<std::uint8_t> word_table_of(std::span<const std::string_view> words) {
  std::optional<std::size_t> size = word_table_size(words);
  if (!size) throw_value_error("the words take 4 GiB or more of UTF-8");
  std::vector<std::uint8_t> table(*size);
  write_word_table(words, table);
  return table;
}

// ---------------------------------------------------------------------------
// Checking saved sections.

// Saved data that does not decode is an error of the data, not of kelvaro,
// so the report that an internal error writes would only mislead.
class QuietFailures {
 public:
  QuietFailures() { set_failure_reports(false); }
  ~QuietFailures() { set_failure_reports(true); }
  QuietFailures(const QuietFailures&) = delete;
  QuietFailures& operator=(const QuietFailures&) = delete;
};

Trie decode_whole_trie(std::span<const std::uint8_t> data) {
  DecodeResult result = [&] {
    try {
      QuietFailures quiet;
      // The bytes belong to a bytes object, which never changes.
      return without_gil([&] { return decode_trie(data); });
    } catch (const InternalError& error) {
      throw_value_error("the trie does not decode: " + error.message());
    }
  }();
  if (!result) throw_value_error("the trie does not decode: " + result.error().to_string());
  Trie trie = std::move(result.trie());
  // The writer is canonical, so a saved trie is exactly as long as its
  // encoding; anything else was not written by kelvaro.
  if (encoded_size(trie) != data.size()) throw_value_error("the trie is not in canonical form");
  return trie;
}

IndexTrieCounts checked_index_trie(const Trie& trie) {
  auto checked_shape = check_index_trie(trie);
  if (auto* problem = std::get_if<std::string>(&checked_shape))
    throw_value_error("the trie is not an index trie: " + *problem);
  return std::get<IndexTrieCounts>(checked_shape);
}

WordTableView checked_word_table(std::span<const std::uint8_t> data) {
  if (auto problem = word_table_problem(data))
    throw_value_error("the word table is malformed: " + *problem);
  return WordTableView(data);
}

PyRef joined_to_py(const JoinedText& joined) {
  PyRef text = text_to_py(joined.text);
  if (!joined.char_lengths) return tuple_to_py<2>({std::move(text), PyRef::borrow(Py_None)});
  PyRef lengths = new_bytes(4 * joined.char_lengths->size());
  std::uint8_t* out = writable(lengths).data();
  for (std::uint32_t length : *joined.char_lengths) {
    le::store_u32(length, out);
    out += 4;
  }
  return tuple_to_py<2>({std::move(text), std::move(lengths)});
}

// ---------------------------------------------------------------------------
// The functions.

// The tables that give stored keys back their spellings: the word table of
// every key whose spelling differs from it, and that of their spellings.
// The tables that give stored keys back their spellings: the word table of
// every key whose spelling differs from it, and that of their spellings.
struct SpellingTables {
  std::vector<std::uint8_t> keys;
  std::vector<std::uint8_t> words;
};

SpellingTables spelling_tables(const KeyPool& keys, std::span<const std::string_view> words) {
  std::vector<std::string_view> changed_keys, changed_words;
  for (std::uint32_t entry = 0; entry < keys.size(); ++entry) {
    if (keys.key(entry) == words[entry]) continue;
    changed_keys.push_back(keys.key(entry));
    changed_words.push_back(words[entry]);
  }
  return {word_table_of(changed_keys), word_table_of(changed_words)};
}

// build_index(keys, words, values, sounds, weighted, normalization) -> the
// index file of `keys`, each with values[i] or else its position, with a
// sound-alike table if `sounds`. `words` are the spellings the caller gave,
// when normalisation made the keys out of them, else None; `normalization`
// is the name the file records.
PyObject* build_index(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kBuildIndex, args, nargs, kwnames);
    JoinedTexts joined_keys = convert_argument(kBuildIndex, slots, 0, to_joined_texts);
    auto joined_words = convert_argument(kBuildIndex, slots, 1, to_optional_joined_texts);
    auto values = convert_argument(kBuildIndex, slots, 2, to_optional_u32_values);
    const bool sounds = convert_argument(kBuildIndex, slots, 3, to_bool);
    const bool weighted = convert_argument(kBuildIndex, slots, 4, to_bool);
    const std::string_view normalization = convert_argument(kBuildIndex, slots, 5, to_utf8);
    const std::optional<JoinedPairs> joined_pairs =
        slots[6] == nullptr ? std::nullopt
                            : convert_argument(kBuildIndex, slots, 6, to_optional_joined_pairs);
    std::optional<PairInput> pairs;
    if (joined_pairs) {
      pairs.emplace();
      pairs->firsts = split_checked(joined_pairs->firsts);
      pairs->seconds = split_checked(joined_pairs->seconds);
      pairs->counts = joined_pairs->counts;
      if (pairs->firsts.size() != pairs->counts.size() ||
          pairs->seconds.size() != pairs->counts.size())
        throw_value_error("one count per pair is needed");
    }
    std::vector<std::string_view> keys = split_checked(joined_keys);
    std::vector<std::string_view> words;
    if (joined_words) words = split_checked(*joined_words);
    if (joined_words && words.size() != keys.size())
      throw_value_error("one word per key is needed");
    if (values && values->size() != keys.size()) throw_value_error("one value per key is needed");
    std::span<const Payload> payloads;
    if (values) payloads = *values;

    // The keys are views into the strs of the arguments, which live and
    // never change for the call.
    BuiltTrie built = without_gil([&] { return kelvaro::build_trie(keys, payloads); });
    const std::vector<std::uint64_t> image = [&] {
      try {
        return image_of(built.trie, sounds, pairs ? &*pairs : nullptr);
      } catch (const UnknownPairWord&) {
        throw_value_error("a pair names a word the index does not hold");
      }
    }();
    // The words are read from the trie and the spelling tables: a table
    // of them would hold the keys a second time.
    SpellingTables spellings;
    if (!joined_words) {
      spellings = {word_table_of({}), word_table_of({})};
    } else {
      std::vector<std::string_view> stored_words;
      stored_words.reserve(built.sources.size());
      for (std::uint32_t source : built.sources) stored_words.push_back(words[source]);
      spellings = spelling_tables(built.keys, stored_words);
    }
    IndexFile file;
    file.weighted = weighted;
    file.words_in_trie = true;
    file.word_count = built.keys.size();
    file.node_count = built.trie.node_shifts().size();
    file.normalization = normalization;
    file.tries = bytes_of(image);
    file.spelling_keys = spellings.keys;
    file.spelling_words = spellings.words;
    return file_to_py(file);
  });
}

// index_file(normalization, tries, words, (spelling_keys, spelling_words),
// node_count, weighted) -> the index file of these sections, as Index.load
// makes one of a file of the first version and unpickling of a pickle.
// Empty `words` (a pickle of an index that keeps no table of its words)
// makes a file that reads them from the trie.
PyObject* index_file(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kIndexFile, args, nargs, kwnames);
    IndexFile file;
    file.normalization = convert_argument(kIndexFile, slots, 0, to_utf8);
    file.tries = convert_argument(kIndexFile, slots, 1, to_byte_view);
    file.words = convert_argument(kIndexFile, slots, 2, to_byte_view);
    std::tie(file.spelling_keys, file.spelling_words) =
        convert_argument(kIndexFile, slots, 3, to_byte_views);
    file.node_count = convert_argument(kIndexFile, slots, 4, to_u64);
    file.weighted = convert_argument(kIndexFile, slots, 5, to_bool);
    // The count a table holds, if it holds one, else the trie's: a table
    // or an image that is malformed is refused when the index reads the
    // file.
    file.words_in_trie = file.words.empty();
    if (file.words_in_trie)
      file.word_count = without_gil([&]() -> std::uint64_t {
        std::vector<std::uint64_t> copy;
        const auto image = read_image(aligned(file.tries, copy));
        const auto* parts = std::get_if<ImageParts>(&image);
        return parts != nullptr ? parts->forward.payloads.size() : 0;
      });
    else if (word_table_fits(file.words))
      file.word_count = word_table_count(file.words);
    return file_to_py(file);
  });
}

// read_file_header(data) -> (version, file size, word count, node count,
// normalization, weighted, ((start, end) of the tries, words, spelling
// keys and spelling words)): an index file's header, once its checksum,
// version, flags and section sizes are checked; ValueError saying why not.
PyObject* read_file_header(PyObject*, PyObject* data) {
  return run_in_frame([&] {
    BufferHold held(data);
    const std::span<const std::uint8_t> bytes = held.bytes();
    std::variant<IndexFile, std::string> read = without_gil([&] { return read_index_file(bytes); });
    if (const std::string* problem = std::get_if<std::string>(&read)) throw_value_error(*problem);
    const IndexFile& file = std::get<IndexFile>(read);
    const auto place = [&](std::span<const std::uint8_t> section) {
      const std::size_t start = static_cast<std::size_t>(section.data() - bytes.data());
      return tuple_to_py<2>({u64_to_py(start), u64_to_py(start + section.size())});
    };
    return tuple_to_py<7>(
        {u64_to_py(file.version), u64_to_py(file.file_size), u64_to_py(file.word_count),
         u64_to_py(file.node_count), text_to_py(file.normalization),
         PyRef::borrow(file.weighted ? Py_True : Py_False),
         tuple_to_py<4>({place(file.tries), place(file.words), place(file.spelling_keys),
                         place(file.spelling_words)})});
  });
}

// check_index(trie, words, (spelling_keys, spelling_words), texts) ->
// (node_count, word_count, words_and_keys, image): checks the sections of a saved
// index, each on its own and then against each other, or raises ValueError
// saying what is wrong. `texts` asks for words with their keys: 0 none
// (words_and_keys is None), 1 every word, 2 those a case mapping could have
// changed (WordsWanted); words_and_keys is then (count, words, keys), the
// texts joined the way build_index takes them.
PyObject* check_index(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kCheckIndex, args, nargs, kwnames);
    auto trie_data = convert_argument(kCheckIndex, slots, 0, to_byte_view);
    auto word_data = convert_argument(kCheckIndex, slots, 1, to_byte_view);
    const auto [key_data, spelling_data] = convert_argument(kCheckIndex, slots, 2, to_byte_views);
    const WordsWanted wanted = convert_argument(kCheckIndex, slots, 3, [](PyObject* object) {
      const std::uint32_t code = to_u32(object);
      if (code > 2) throw_value_error("texts must be 0, 1 or 2");
      return static_cast<WordsWanted>(code);
    });
    Trie trie = decode_whole_trie(trie_data);
    const IndexTrieCounts counts = checked_index_trie(trie);
    const WordTableView words = checked_word_table(word_data);
    const WordTableView spelling_keys = checked_word_table(key_data);
    const WordTableView spelling_words = checked_word_table(spelling_data);
    if (counts.words != words.size()) throw_value_error("its word counts disagree");
    WordsAndKeys texts;
    if (auto problem =
            index_sections_problem(trie, words, spelling_keys, spelling_words, wanted, texts))
      throw_value_error(*problem);
    PyRef nodes = u64_to_py(counts.nodes);
    PyRef word_count = u64_to_py(counts.words);
    PyRef words_and_keys = wanted == WordsWanted::kNone
                               ? PyRef::borrow(Py_None)
                               : tuple_to_py<3>({u64_to_py(texts.count), joined_to_py(texts.words),
                                                 joined_to_py(texts.keys)});
    // The trie decoded here is the one the index keeps, folded: decoding is
    // most of a load, and once is enough.
    const std::vector<std::uint64_t> image = image_of(trie);
    PyRef prefix_search = checked(PyBytes_FromStringAndSize(
        reinterpret_cast<const char*>(image.data()), static_cast<Py_ssize_t>(image.size() * 8)));
    return tuple_to_py<4>({std::move(nodes), std::move(word_count), std::move(words_and_keys),
                           std::move(prefix_search)});
  });
}

// sound_key(word) -> str or None: the sound-alike key of a word, as the
// index's sound table files it.
PyObject* sound_key_of(PyObject*, PyObject* word) {
  return run_in_frame([&] {
    const std::optional<std::string> key = kelvaro::sound_key(to_chars(word));
    return key ? text_to_py(*key) : PyRef::borrow(Py_None);
  });
}

constexpr const char* kTypoCostParameters[] = {"meant", "typed"};
constexpr FunctionDescription kTypoCost{nullptr, "typo_cost", kTypoCostParameters};

// typo_cost(meant, typed) -> int: the price, in tenths of an ordinary edit,
// of typing `typed` for `meant`, as suggestions rank them; what the check
// weighs a word's likelihood as a typo by.
PyObject* typo_cost_of(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kTypoCost, args, nargs, kwnames);
    for (std::size_t at = 0; at < 2; ++at)
      if (!PyUnicode_Check(slots[at]))
        throw_type_error(std::string(kTypoCostParameters[at]) + " must be a str, not " +
                         type_name(slots[at]));
    const std::u32string meant = str_chars(slots[0]);
    const std::u32string typed = str_chars(slots[1]);
    return u64_to_py(kelvaro::typo_cost(meant, typed));
  });
}

}  // namespace

PyRef file_to_py(const IndexFile& sections) {
  // Written straight into the bytes object, which nothing else sees yet.
  PyRef file = new_bytes(index_file_size(sections));
  const std::span<std::uint8_t> out = writable(file);
  without_gil([&] { write_index_file(sections, out); });
  return file;
}

PyMethodDef file_functions[7] = {
    {"build_index", fastcall_entry(build_index), METH_FASTCALL | METH_KEYWORDS,
     "build_index(keys, words, values, sounds, weighted, normalization, pairs=None)\n--\n\n"},
    {"index_file", fastcall_entry(index_file), METH_FASTCALL | METH_KEYWORDS,
     "index_file(normalization, tries, words, spellings, node_count, weighted)\n--\n\n"},
    {"read_file_header", read_file_header, METH_O, "read_file_header(data)\n--\n\n"},
    {"sound_key", sound_key_of, METH_O, "sound_key(word)\n--\n\n"},
    {"typo_cost", fastcall_entry(typo_cost_of), METH_FASTCALL | METH_KEYWORDS,
     "typo_cost(meant, typed)\n--\n\n"},
    {"check_index", fastcall_entry(check_index), METH_FASTCALL | METH_KEYWORDS,
     "check_index(trie, words, spellings, texts)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
