#include "binding/text_functions.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/buffer_hold.h"
#include "binding/native_index.h"
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "prefix/utf8.h"
#include "text/check.h"
#include "text/correction.h"
#include "text/segmentation.h"

namespace kelvaro::py {
namespace {

constexpr const char* kCheckParameters[] = {"index", "text",     "folded", "max_dist",
                                            "limit", "suspects", "code",   "suggest_unknown",
                                            "counts"};
constexpr const char* kTextParameters[] = {"index", "text", "folded", "max_dist"};

constexpr FunctionDescription kCheck{nullptr, "check_text", kCheckParameters};
constexpr FunctionDescription kSegment{nullptr, "segment_text", kTextParameters};
constexpr FunctionDescription kCorrect{nullptr, "correct_text", kTextParameters};

// The text and its folded view, which must be as long, character for
// character.
struct Views {
  std::u32string written;
  std::u32string folded;
  text::TextViews views() const { return {written, folded}; }
};

// The text, which must be a str, and its folded view, which must be as
// long, character for character.
Views views_of(const ArgumentSlots& slots) {
  if (!PyUnicode_Check(slots[1]))
    throw_type_error("text must be a str, not " + type_name(slots[1]));
  if (!PyUnicode_Check(slots[2]))
    throw_type_error("folded must be a str, not " + type_name(slots[2]));
  Views views{str_chars(slots[1]), str_chars(slots[2])};
  if (views.folded.size() != views.written.size())
    throw PyError(PyExc_ValueError, "the folded text must be as long as the text");
  return views;
}

// The index's words as running text sees them: the folded view holds the
// keys when the index normalises.
text::TextIndex text_index(const IndexState& state) {
  return text::TextIndex(*state.index, state.normalize.get() != Py_None);
}

// A stored key as its word was given, or None.
PyRef optional_key_to_py(const WordIndex& index, const std::optional<std::u32string>& key) {
  return key.has_value() ? spelling_to_py(index, utf8::encode(*key)) : PyRef::borrow(Py_None);
}

PyRef size_to_py(std::size_t value) {
  return u64_to_py(value);
}

// The costs of the index's words, and of pairs of them if it counts pairs.
text::WordCosts word_costs(const IndexState& state) {
  const WordIndex& words = *state.index;
  text::WordCosts costs = without_gil([&] {
    if (!words.weighted())
      return text::WordCosts::uniform(static_cast<double>(state.file.word_count));
    const WordIndex::WeightTotals totals = words.weight_totals();
    return text::WordCosts::weighted(totals.total, totals.least);
  });
  if (words.weighted()) costs.use_pairs(words.pairs());
  return costs;
}

// The counts of check_text, held for the call: None, or a writable buffer
// of one native unsigned 32-bit integer per stored word, as
// memoryview(array('I', ...)) gives, or its bytes (a bytearray).
std::unique_ptr<BufferHold> counts_argument(const IndexState& state, PyObject* counts) {
  std::unique_ptr<BufferHold> held;
  if (counts == Py_None) return held;
  const std::string wanted = "counts must be a writable buffer of unsigned 32-bit integers";
  if (!PyObject_CheckBuffer(counts)) throw_type_error(wanted + ", not " + type_name(counts));
  // Asked for read-only and with strides, so that a read-only buffer and
  // one with gaps are each told apart.
  held = std::make_unique<BufferHold>(counts, PyBUF_STRIDES | PyBUF_FORMAT);
  if (held->read_only()) throw_type_error(wanted + ", not a read-only " + type_name(counts));
  if (!held->contiguous()) throw_value_error("counts must be contiguous");
  // The native order's forms of a 4-byte unsigned integer, or raw bytes.
  std::string_view format = held->format();
  if (!format.empty() && (format[0] == '@' || format[0] == '=')) format.remove_prefix(1);
  const bool whole = held->item_size() == 4 && (format == "I" || format == "L");
  if (!whole && held->item_size() != 1)
    throw_type_error(wanted + ", not items of format '" + std::string(held->format()) + "'");
  const std::uint64_t words = state.file.word_count;
  if (held->writable_bytes().size() != words * sizeof(std::uint32_t))
    throw_value_error("counts must hold one count per stored word, " + std::to_string(words) +
                      " (" + std::to_string(words * sizeof(std::uint32_t)) + " bytes), not " +
                      std::to_string(held->writable_bytes().size()) + " bytes");
  return held;
}

// check_text(index, text, folded, max_dist, limit, suspects, code,
// suggest_unknown, counts): the words of the text that the index does not
// hold, and the suspects, as (start, end, suspect, suggestions).
PyObject* check_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const ArgumentSlots slots = bind_arguments(kCheck, args, nargs, kwnames);
    const IndexState& state = index_argument(slots[0]);
    text::CheckOptions options;
    options.max_dist = to_count(slots[3], "max_dist");
    options.limit = limit_or(slots[4], std::nullopt);
    const Views views = views_of(slots);
    options.suspect_ratio = suspects_of(slots[5]);
    options.code = flag_or(slots[6], "code", false);
    options.suggest_unknown = flag_or(slots[7], "suggest_unknown", true);
    const std::unique_ptr<BufferHold> held = counts_argument(state, slots[8]);
    std::optional<text::WordCounts> counts;
    if (held) counts.emplace(held->writable_bytes());
    const text::WordCosts costs = word_costs(state);
    const std::vector<text::Finding> findings = without_gil([&] {
      return text::check_text(text_index(state), views.views(), costs, options,
                              counts ? &*counts : nullptr);
    });
    return list_to_py(findings, [&](const text::Finding& finding) {
      return tuple_to_py<4>({size_to_py(finding.start), size_to_py(finding.end),
                             PyRef::borrow(finding.suspect ? Py_True : Py_False),
                             matches_to_py(*state.index, finding.suggestions)});
    });
  });
}

// What segment_text and correct_text share: the index, the views, the costs
// of its words and the reach of a correction.
struct TextCall {
  const IndexState& state;
  Views views;
  text::WordCosts costs;
  std::uint64_t max_dist;
};

TextCall text_call(const FunctionDescription& function, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, bool needs_weights) {
  const ArgumentSlots slots = bind_arguments(function, args, nargs, kwnames);
  const IndexState& state = index_argument(slots[0]);
  const WordIndex& words = *state.index;
  const std::uint64_t max_dist = to_count(slots[3], "max_dist");
  if (needs_weights && !words.weighted())
    throw_value_error(
        "segment needs an index weighted by how common its words are (weighted=True)");
  Views views = views_of(slots);
  return {state, std::move(views), word_costs(state), max_dist};
}

// segment_text(index, text, folded, max_dist): (start, end, pieces) of every
// word of the text better cut into pieces (start, end, key, distance), the
// key None where the piece stays as it is written: no word, or a word
// found as written, whose text the caller has.
PyObject* segment_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const TextCall call = text_call(kSegment, args, nargs, kwnames, true);
    const WordIndex& words = *call.state.index;
    const std::vector<text::SegmentedWord> segmented = without_gil([&] {
      return text::segment_text(text_index(call.state), call.views.views(), call.costs,
                                call.max_dist);
    });
    const auto piece_to_py = [&](const text::Piece& piece) {
      return tuple_to_py<4>({size_to_py(piece.start), size_to_py(piece.end),
                             optional_key_to_py(words, piece.word.has_value() && piece.distance > 0
                                                           ? std::optional(piece.word->key)
                                                           : std::nullopt),
                             u64_to_py(piece.distance)});
    };
    return list_to_py(segmented, [&](const text::SegmentedWord& word) {
      return tuple_to_py<3>(
          {size_to_py(word.start), size_to_py(word.end), list_to_py(word.pieces, piece_to_py)});
    });
  });
}

// correct_text(index, text, folded, max_dist): (start, end, words) of every
// correction of the text, each word (start, end, key).
PyObject* correct_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    const TextCall call = text_call(kCorrect, args, nargs, kwnames, false);
    const WordIndex& words = *call.state.index;
    const std::vector<text::Edit> edits = without_gil([&] {
      return text::correct_text(text_index(call.state), call.views.views(), call.costs,
                                call.max_dist);
    });
    const auto word_to_py = [&](const text::Replacement& word) {
      return tuple_to_py<3>(
          {size_to_py(word.start), size_to_py(word.end), optional_key_to_py(words, word.key)});
    };
    return list_to_py(edits, [&](const text::Edit& edit) {
      return tuple_to_py<3>(
          {size_to_py(edit.start), size_to_py(edit.end), list_to_py(edit.words, word_to_py)});
    });
  });
}

}  // namespace

PyMethodDef text_functions[4] = {
    {"check_text", fastcall_entry(check_text), METH_FASTCALL | METH_KEYWORDS,
     "check_text(index, text, folded, max_dist, limit, suspects, code, suggest_unknown, "
     "counts)\n--\n\n"
     "(start, end, suspect, suggestions) of every word of text not stored, and of every "
     "suspect; counts, if not None, gains one per stored word read."},
    {"segment_text", fastcall_entry(segment_text), METH_FASTCALL | METH_KEYWORDS,
     "segment_text(index, text, folded, max_dist)\n--\n\n"
     "(start, end, pieces) of every word of text better cut into pieces (start, end, key, "
     "distance), key None for a piece that stays as written."},
    {"correct_text", fastcall_entry(correct_text), METH_FASTCALL | METH_KEYWORDS,
     "correct_text(index, text, folded, max_dist)\n--\n\n"
     "(start, end, words) of every correction of text, each word (start, end, key)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
