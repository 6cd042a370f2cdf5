#include "lib/conversions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "lib/module_cells.h"
#include "lib/str_utf8.h"
#include "prefix/internal_error.h"
#include "prefix/utf8.h"

namespace kelvaro::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

PyRef type_qualname(PyObject* object) {
  PyRef name =
      PyRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                    interned(module_cells().qualname_name, "__qualname__")));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return PyRef();
  }
  return name;
}

// The interpreter's own integer protocol, in the same form on every
// interpreter: int and its subclasses directly, anything else through
// __index__ (so floats and objects with only __int__ are refused).
long to_long(PyObject* object) {
  long value;
  if (PyLong_Check(object)) {
    value = PyLong_AsLong(object);
  } else {
    PyRef index = checked(PyNumber_Index(object));
    value = PyLong_AsLong(index.get());
  }
  if (value == -1 && PyErr_Occurred()) throw PyError::fetch();
  return value;
}

template <long kMax>
auto to_unsigned(PyObject* object) {
  long value = to_long(object);
  if (value < 0 || value > kMax) throw PyError(PyExc_OverflowError, kOutOfRange);
  return static_cast<std::conditional_t<kMax == 0xFF, std::uint8_t, std::uint32_t>>(value);
}

std::uint8_t to_u8(PyObject* object) {
  return to_unsigned<0xFF>(object);
}

std::optional<Payload> to_optional_u32(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  return to_u32(object);
}

OptionalChar first_char_of_utf8(PyObject* object) {
  std::string_view text = to_utf8(object);
  if (text.empty()) return OptionalChar();
  std::size_t pos = 0;
  return OptionalChar(utf8::decode_next(text, pos));
}

// from_internal_data takes one str per node and keeps its first character.
// Asking the interpreter for a str's UTF-8 form makes and caches an encoded
// copy of every str that is not ASCII, so on CPython the first character is
// read from the str's own storage instead. A str that holds a surrogate has
// no UTF-8 form: it takes the general path, which raises the interpreter's
// own UnicodeEncodeError. (PyPy keeps its strs elsewhere, and reading its
// storage this way would make it copy each one.)
OptionalChar to_first_char(PyObject* object) {
#if !defined(PYPY_VERSION) && PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_Check(object) && PyUnicode_IS_READY(object)) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
    const int kind = PyUnicode_KIND(object);
    const void* data = PyUnicode_DATA(object);
    bool has_surrogate = false;
    // One-byte strs cannot hold a surrogate.
    if (kind != PyUnicode_1BYTE_KIND) {
      for (Py_ssize_t i = 0; i < length && !has_surrogate; ++i)
        has_surrogate = Py_UNICODE_IS_SURROGATE(PyUnicode_READ(kind, data, i));
    }
    if (!has_surrogate) {
      if (length == 0) return OptionalChar();
      return OptionalChar(static_cast<char32_t>(PyUnicode_READ(kind, data, 0)));
    }
  }
#endif
  return first_char_of_utf8(object);
}

// A length that an object reports about itself is only a hint. Exact lists,
// tuples, bytes and bytearrays hold that many items already; for anything
// else, reserve no more than a modest amount and let the array grow, so that
// a lying __len__ cannot make us allocate out of proportion to the items.
std::size_t reservation(PyObject* object, Py_ssize_t length) {
  constexpr Py_ssize_t kUntrustedReservation = 4096;
  if (length <= 0) return 0;
  bool truthful = PyList_CheckExact(object) || PyTuple_CheckExact(object) ||
                  PyBytes_CheckExact(object) || PyByteArray_CheckExact(object);
  return static_cast<std::size_t>(truthful ? length : std::min(length, kUntrustedReservation));
}

// Exact lists and tuples are read by index rather than through an
// iterator, with the same result: a list is read the way its iterator reads
// it, taking its length afresh before each item, so an element whose
// __index__ changes the list sees the same effect; each item is held while it
// is converted, as the iterator would hold it. Subclasses may override
// iteration and take the general path.
template <auto Element>
auto list_items(PyObject* list) {
  std::vector<decltype(Element(list))> values;
  values.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(list, i));
    values.push_back(Element(item.get()));
  }
  return values;
}

template <auto Element>
auto tuple_items(PyObject* tuple) {
  const Py_ssize_t length = PyTuple_GET_SIZE(tuple);
  std::vector<decltype(Element(tuple))> values;
  values.reserve(static_cast<std::size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) values.push_back(Element(PyTuple_GET_ITEM(tuple, i)));
  return values;
}

template <auto Element>
auto to_array(PyObject* object) {
  if (PyUnicode_Check(object)) throw PyError(PyExc_TypeError, "Can't extract `str` to `Vec`");
  // The argument stays referenced by the caller, but an element's __index__
  // runs arbitrary code; holding it costs nothing.
  PyRef held = PyRef::borrow(object);
  if (PyList_CheckExact(object)) return list_items<Element>(object);
  if (PyTuple_CheckExact(object)) return tuple_items<Element>(object);
  if (!PySequence_Check(object)) throw downcast_error(object, "Sequence");
  Py_ssize_t length = PySequence_Size(object);
  if (length == -1) PyErr_Clear();

  std::vector<decltype(Element(object))> values;
  values.reserve(reservation(object, length));
  PyRef iterator = checked(PyObject_GetIter(object));
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get())))
    values.push_back(Element(item.get()));
  if (PyErr_Occurred()) throw PyError::fetch();
  return values;
}

// The items of exact bytes and bytearray objects are the bytes of their
// buffers. Only these two types are read as buffers: other objects that
// offer one may not describe it truthfully (PyPy hands out a strided
// memoryview as a plain buffer with the wrong bytes).
bool copy_byte_buffer(PyObject* object, std::vector<std::uint8_t>& out) {
  const char* data;
  Py_ssize_t size;
  if (PyBytes_CheckExact(object)) {
    data = PyBytes_AS_STRING(object);
    size = PyBytes_GET_SIZE(object);
  } else if (PyByteArray_CheckExact(object)) {
    data = PyByteArray_AS_STRING(object);
    size = PyByteArray_GET_SIZE(object);
  } else {
    return false;
  }
  out.assign(data, data + size);
  return true;
}

}  // namespace

PyObject* interned(PyObject*& cell, const char* text) {
  if (cell == nullptr) cell = checked(PyUnicode_InternFromString(text)).release();
  return cell;
}

PyError downcast_error(PyObject* object, const char* target) {
  PyRef name = type_qualname(object);
  PyObject* message =
      name ? PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", name.get(), target)
           : PyUnicode_FromFormat(
                 "'<failed to extract type name>' object cannot be converted "
                 "to '%s'",
                 target);
  return PyError(PyExc_TypeError, PyRef::steal(message));
}

std::uint32_t to_u32(PyObject* object) {
  return to_unsigned<0xFFFFFFFF>(object);
}

bool to_bool(PyObject* object) {
  if (!PyBool_Check(object)) throw downcast_error(object, "PyBool");
  return object == Py_True;
}

std::uint64_t to_u64(PyObject* object) {
  unsigned long long value;
  if (PyLong_Check(object)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    PyRef index = checked(PyNumber_Index(object));
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  // All bits set is also a valid value; only a pending exception tells.
  if (value == ULLONG_MAX && PyErr_Occurred()) throw PyError::fetch();
  return value;
}

std::optional<std::uint64_t> to_optional_u64(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  return to_u64(object);
}

std::string_view to_utf8(PyObject* object) {
  if (!PyUnicode_Check(object)) throw downcast_error(object, "PyString");
  Py_ssize_t size;
  const char* utf8 = str_utf8(object, size);
  if (utf8 == nullptr) throw PyError::fetch();
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::u32string to_chars(PyObject* object) {
  return utf8::decode(to_utf8(object));
}

std::u32string str_chars(PyObject* str) {
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

std::vector<std::uint32_t> to_u32_array(PyObject* object) {
  return to_array<to_u32>(object);
}

std::vector<std::uint8_t> to_u8_array(PyObject* object) {
  std::vector<std::uint8_t> bytes;
  if (copy_byte_buffer(object, bytes)) return bytes;
  return to_array<to_u8>(object);
}

std::vector<std::optional<Payload>> to_optional_u32_array(PyObject* object) {
  return to_array<to_optional_u32>(object);
}

std::vector<OptionalChar> to_first_char_array(PyObject* object) {
  return to_array<to_first_char>(object);
}

PyRef made(PyObject* result, std::source_location where) {
  if (result == nullptr) [[unlikely]] {
    if (PyErr_Occurred()) PyErr_PrintEx(0);
    fail("Python API call failed", where);
  }
  return PyRef::steal(result);
}

PyRef u32_to_py(std::uint32_t value) {
  return made(PyLong_FromLong(static_cast<long>(value)));
}

PyRef u64_to_py(std::uint64_t value) {
  return made(PyLong_FromUnsignedLongLong(value));
}

PyRef optional_u32_to_py(std::optional<std::uint32_t> value) {
  if (!value) return PyRef::borrow(Py_None);
  return u32_to_py(*value);
}

PyRef text_to_py(std::string_view utf8) {
  return made(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

PyRef char_to_py(char32_t ch) {
  char buffer[4];
  char* end = utf8::encode(ch, buffer);
  return made(PyUnicode_FromStringAndSize(buffer, end - buffer));
}

std::span<const std::uint8_t> to_byte_view(PyObject* object) {
  if (!PyBytes_Check(object)) throw downcast_error(object, "PyBytes");
  return std::span(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                   static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
}

PyRef match_to_py(const Match& match) {
  return tuple_to_py<3>(
      {text_to_py(match.text), optional_u32_to_py(match.payload), u64_to_py(match.distance)});
}

// ---------------------------------------------------------------------------
// The kelvaro package's arguments.

std::string type_name(PyObject* object) {
  PyRef name = checked(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                        interned(module_cells().name_name, "__name__")));
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) throw PyError::fetch();
  return std::string(text, static_cast<std::size_t>(size));
}

std::uint64_t to_count(PyObject* object, const char* name) {
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
  return object == nullptr ? otherwise : to_count(object, name);
}

std::optional<std::uint64_t> limit_or(PyObject* object, std::optional<std::uint64_t> otherwise) {
  if (object == nullptr) return otherwise;
  if (object == Py_None) return std::nullopt;
  return to_count(object, "limit");
}

bool flag_or(PyObject* object, const char* name, bool otherwise) {
  if (object == nullptr) return otherwise;
  if (!PyBool_Check(object))
    throw_type_error(std::string(name) + " must be True or False, not " + type_name(object));
  return object == Py_True;
}

unsigned threads_of(PyObject* object) {
  if (object == nullptr || object == Py_None)
    return std::max(1u, std::thread::hardware_concurrency());
  if (PyBool_Check(object) || !PyLong_Check(object))
    throw_type_error("threads must be an int or None, not " + type_name(object));
  // Past a long long either way: too many is as many as help, too few is
  // as wrong as -1.
  int overflow = 0;
  const long long threads = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (threads == -1 && PyErr_Occurred()) throw PyError::fetch();
  if (overflow > 0) return 1024;
  if (overflow < 0 || threads < 1) {
    PyRef shown = checked(PyObject_Str(object));
    throw_value_error("threads must be 1 or more, not " + std::string(to_utf8(shown.get())));
  }
  // More threads than this only take turns.
  return static_cast<unsigned>(std::min<long long>(threads, 1024));
}

double suspects_of(PyObject* object) {
  if (object == nullptr || object == Py_None) return 0.0;
  if (PyBool_Check(object) || !(PyLong_Check(object) || PyFloat_Check(object)))
    throw_type_error("suspects must be a number or None, not " + type_name(object));
  const double ratio = PyFloat_AsDouble(object);
  if (ratio == -1.0 && PyErr_Occurred()) throw PyError::fetch();
  if (ratio > 0 && std::isfinite(ratio)) return ratio;
  PyRef shown = checked(PyObject_Repr(object));
  throw PyError(PyExc_ValueError,
                checked(PyUnicode_FromFormat(
                    "suspects must be a finite number above 0, or None, not %U", shown.get())));
}

}  // namespace kelvaro::py
