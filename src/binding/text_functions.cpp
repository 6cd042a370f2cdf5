#include "binding/text_functions.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "binding/native_index.h"
#include "prefix/utf8.h"
#include "text/check.h"
#include "text/correction.h"
#include "text/segmentation.h"

namespace kelvaro::py {
namespace {

constexpr const char* kCheckParameters[] = {"index",    "text",     "folded", "normalized",
                                            "weighted", "max_dist", "limit",  "suspect_ratio"};
constexpr const char* kSegmentParameters[] = {"index",    "text",  "folded", "normalized",
                                              "weighted", "total", "least",  "max_dist"};
constexpr const char* kStatsParameters[] = {"index"};

constexpr FunctionDescription kCheck{nullptr, "check_text", kCheckParameters};
constexpr FunctionDescription kSegment{nullptr, "segment_text", kSegmentParameters};
constexpr FunctionDescription kCorrect{nullptr, "correct_text", kSegmentParameters};
constexpr FunctionDescription kStats{nullptr, "weight_stats", kStatsParameters};

double to_double(PyObject* object) {
  if (!PyFloat_Check(object) && !PyLong_Check(object)) throw downcast_error(object, "PyFloat");
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw PyError::fetch();
  if (!std::isfinite(value) || value < 0)
    throw PyError(PyExc_ValueError, "expected a finite number of 0 or more");
  return value;
}

// The text and its folded view, which must be as long, character for
// character.
struct Views {
  std::u32string written;
  std::u32string folded;
  text::TextViews views() const { return {written, folded}; }
};

Views views_of(const FunctionDescription& function, const ArgumentSlots& slots) {
  Views views{convert_argument(function, slots, 1, to_chars),
              convert_argument(function, slots, 2, to_chars)};
  if (views.folded.size() != views.written.size())
    throw PyError(PyExc_ValueError, "the folded text must be as long as the text");
  return views;
}

// A stored key as its word was given, or None.
PyRef optional_key_to_py(const WordIndex& index, const std::optional<std::u32string>& key) {
  return key.has_value() ? spelling_to_py(index, utf8::encode(*key)) : PyRef::borrow(Py_None);
}

PyRef size_to_py(std::size_t value) {
  return u64_to_py(value);
}

PyObject* check_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kCheck, args, nargs, kwnames);
    const WordIndex& words = word_index_of(slots[0]);
    const Views views = views_of(kCheck, slots);
    const bool normalized = convert_argument(kCheck, slots, 3, to_bool);
    const bool weighted = convert_argument(kCheck, slots, 4, to_bool);
    text::CheckOptions options;
    options.max_dist = convert_argument(kCheck, slots, 5, to_u64);
    options.limit = convert_argument(kCheck, slots, 6, to_optional_u64);
    options.suspect_ratio = convert_argument(kCheck, slots, 7, to_double);
    const std::vector<text::Finding> findings = without_gil([&] {
      const IndexTries tries = words.tries();
      const text::TextIndex index{words, tries, weighted, normalized};
      return text::check_text(index, views.views(), options);
    });
    return list_to_py(findings, [&](const text::Finding& finding) {
      return tuple_to_py<4>({size_to_py(finding.start), size_to_py(finding.end),
                             PyRef::borrow(finding.suspect ? Py_True : Py_False),
                             matches_to_py(words, finding.suggestions)});
    });
  });
}

// What segment_text and correct_text share: the index, the views and the
// costs of words.
struct TextCall {
  const WordIndex& words;
  Views views;
  bool weighted;
  bool normalized;
  text::WordCosts costs;
  std::uint64_t max_dist;
};

TextCall text_call(const FunctionDescription& function, const ArgumentSlots& slots) {
  const WordIndex& words = word_index_of(slots[0]);
  Views views = views_of(function, slots);
  const bool normalized = convert_argument(function, slots, 3, to_bool);
  const bool weighted = convert_argument(function, slots, 4, to_bool);
  const double total = convert_argument(function, slots, 5, to_double);
  const double least = convert_argument(function, slots, 6, to_double);
  const std::uint64_t max_dist = convert_argument(function, slots, 7, to_u64);
  const text::WordCosts costs =
      weighted ? text::WordCosts::weighted(total, least) : text::WordCosts::uniform(total);
  return {words, std::move(views), weighted, normalized, costs, max_dist};
}

// What run(index) returns for the call's text, without the interpreter lock.
template <typename Run>
auto run_text_call(const TextCall& call, Run&& run) {
  return without_gil([&] {
    const IndexTries tries = call.words.tries();
    const text::TextIndex index{call.words, tries, call.weighted, call.normalized};
    return run(index);
  });
}

PyObject* segment_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kSegment, args, nargs, kwnames);
    const TextCall call = text_call(kSegment, slots);
    const std::vector<text::SegmentedWord> segmented =
        run_text_call(call, [&](const text::TextIndex& index) {
          return text::segment_text(index, call.views.views(), call.costs, call.max_dist);
        });
    const auto piece_to_py = [&](const text::Piece& piece) {
      return tuple_to_py<4>(
          {size_to_py(piece.start), size_to_py(piece.end),
           optional_key_to_py(
               call.words, piece.word.has_value() ? std::optional(piece.word->key) : std::nullopt),
           u64_to_py(piece.distance)});
    };
    return list_to_py(segmented, [&](const text::SegmentedWord& word) {
      return tuple_to_py<3>(
          {size_to_py(word.start), size_to_py(word.end), list_to_py(word.pieces, piece_to_py)});
    });
  });
}

PyObject* correct_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kCorrect, args, nargs, kwnames);
    const TextCall call = text_call(kCorrect, slots);
    const std::vector<text::Edit> edits = run_text_call(call, [&](const text::TextIndex& index) {
      return text::correct_text(index, call.views.views(), call.costs, call.max_dist);
    });
    const auto word_to_py = [&](const text::Replacement& word) {
      return tuple_to_py<3>(
          {size_to_py(word.start), size_to_py(word.end), optional_key_to_py(call.words, word.key)});
    };
    return list_to_py(edits, [&](const text::Edit& edit) {
      return tuple_to_py<3>(
          {size_to_py(edit.start), size_to_py(edit.end), list_to_py(edit.words, word_to_py)});
    });
  });
}

PyObject* weight_stats(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_in_frame([&] {
    ArgumentSlots slots = bind_arguments(kStats, args, nargs, kwnames);
    const WordIndex& words = word_index_of(slots[0]);
    const WordIndex::WeightTotals totals = without_gil([&] { return words.weight_totals(); });
    return tuple_to_py<2>({made(PyFloat_FromDouble(totals.total)), u32_to_py(totals.least)});
  });
}

}  // namespace

PyMethodDef text_functions[5] = {
    {"check_text", fastcall_entry(check_text), METH_FASTCALL | METH_KEYWORDS,
     "check_text(index, text, folded, normalized, weighted, max_dist, limit, "
     "suspect_ratio)\n--\n\n"
     "(start, end, suspect, suggestions) of every word of text not stored, and of every "
     "suspect."},
    {"segment_text", fastcall_entry(segment_text), METH_FASTCALL | METH_KEYWORDS,
     "segment_text(index, text, folded, normalized, weighted, total, least, "
     "max_dist)\n--\n\n"
     "(start, end, pieces) of every word of text better cut into pieces (start, end, key, "
     "distance)."},
    {"correct_text", fastcall_entry(correct_text), METH_FASTCALL | METH_KEYWORDS,
     "correct_text(index, text, folded, normalized, weighted, total, least, "
     "max_dist)\n--\n\n"
     "(start, end, words) of every correction of text, each word (start, end, key)."},
    {"weight_stats", fastcall_entry(weight_stats), METH_FASTCALL | METH_KEYWORDS,
     "weight_stats(index)\n--\n\n"
     "The sum of the index's payloads and the least of them above 0."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
