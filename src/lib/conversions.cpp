#include "lib/conversions.h"

#include <algorithm>
#include <climits>

#include "lib/str_utf8.h"
#include "prefix/internal_error.h"
#include "prefix/utf8.h"

namespace kelvaro::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

PyRef type_qualname(PyObject* object) {
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
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

OptionalChar to_first_char(PyObject* object) {
  std::string_view text = to_utf8(object);
  if (text.empty()) return OptionalChar();
  std::size_t pos = 0;
  return OptionalChar(utf8::decode_next(text, pos));
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

template <typename Element>
std::vector<Element> to_array(PyObject* object, Element (*element)(PyObject*)) {
  if (PyUnicode_Check(object)) throw PyError(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(object)) throw downcast_error(object, "Sequence");
  Py_ssize_t length = PySequence_Size(object);
  if (length == -1) PyErr_Clear();

  std::vector<Element> values;
  values.reserve(reservation(object, length));
  PyRef iterator = checked(PyObject_GetIter(object));
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get())))
    values.push_back(element(item.get()));
  if (PyErr_Occurred()) throw PyError::fetch();
  return values;
}

}  // namespace

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

std::vector<std::uint32_t> to_u32_array(PyObject* object) {
  return to_array(object, to_u32);
}

std::vector<std::uint8_t> to_u8_array(PyObject* object) {
  return to_array(object, to_u8);
}

std::vector<std::optional<Payload>> to_optional_u32_array(PyObject* object) {
  return to_array(object, to_optional_u32);
}

std::vector<OptionalChar> to_first_char_array(PyObject* object) {
  return to_array(object, to_first_char);
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

PyRef bytes_to_py(const std::vector<std::uint8_t>& bytes) {
  return made(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                        static_cast<Py_ssize_t>(bytes.size())));
}

}  // namespace kelvaro::py
