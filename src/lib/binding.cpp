#include "lib/binding.h"

#include <string_view>
#include <vector>

#include "lib/str_utf8.h"

namespace kelvaro::py {
namespace {

[[noreturn]] void throw_too_many_positional(const FunctionDescription& function, Py_ssize_t given) {
  const std::size_t most = function.positional_count();
  if (function.all_required())
    throw_type_error(function.display_name() + " takes " + std::to_string(most) +
                     " positional arguments but " + std::to_string(given) +
                     (given == 1 ? " was" : " were") + " given");
  throw_type_error(function.display_name() + " takes at most " + std::to_string(most) +
                   " positional argument" + (most == 1 ? "" : "s") + " (" + std::to_string(given) +
                   " given)");
}

// A keyword that is not encodable, or not even a str, is named by its
// str(), which the interpreter makes.
[[noreturn]] void throw_unexpected_keyword(const FunctionDescription& function, PyObject* keyword) {
  PyRef text = checked(PyObject_Str(keyword));
  throw PyError(PyExc_TypeError,
                checked(PyUnicode_FromFormat("%s got an unexpected keyword argument '%U'",
                                             function.display_name().c_str(), text.get())));
}

// Any other keyword is named by its own text. (Its str() could differ: on
// PyPy, the str() of a str subclass that misreports its length is a string
// that cannot even be turned into a message.)
[[noreturn]] void throw_unexpected_keyword(const FunctionDescription& function,
                                           std::string_view keyword) {
  throw_type_error(function.display_name() + " got an unexpected keyword argument '" +
                   std::string(keyword) + "'");
}

[[noreturn]] void throw_multiple_values(const FunctionDescription& function,
                                        std::string_view parameter) {
  throw_type_error(function.display_name() + " got multiple values for argument '" +
                   std::string(parameter) + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_list(const std::vector<const char*>& names) {
  std::string list;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
    list += '\'';
    list += names[i];
    list += '\'';
  }
  return list;
}

[[noreturn]] void throw_missing(const FunctionDescription& function,
                                const std::vector<const char*>& missing) {
  throw_type_error(function.display_name() + " missing " + std::to_string(missing.size()) +
                   " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                   ": " + quoted_list(missing));
}

// The keyword's UTF-8 text, or nothing when it has none.
bool keyword_text(PyObject* keyword, std::string_view& text) {
  Py_ssize_t size;
  const char* utf8 = str_utf8(keyword, size);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return false;
  }
  text = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

void bind_keyword(const FunctionDescription& function, PyObject* keyword, PyObject* value,
                  ArgumentSlots& slots) {
  std::string_view text;
  if (!keyword_text(keyword, text)) throw_unexpected_keyword(function, keyword);
  for (std::size_t i = 0; i < function.parameters.size(); ++i) {
    if (text != function.parameters[i]) continue;
    if (slots[i] != nullptr) throw_multiple_values(function, text);
    slots[i] = value;
    return;
  }
  throw_unexpected_keyword(function, text);
}

}  // namespace

std::string FunctionDescription::display_name() const {
  std::string name;
  if (class_name != nullptr) {
    name += class_name;
    name += '.';
  }
  name += function_name;
  name += "()";
  return name;
}

ArgumentSlots bind_arguments(const FunctionDescription& function, PyObject* const* args,
                             Py_ssize_t nargs, PyObject* kwnames) {
  ArgumentSlots slots{};
  if (nargs > static_cast<Py_ssize_t>(function.positional_count()))
    throw_too_many_positional(function, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];

  if (kwnames != nullptr) {
    Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k)
      bind_keyword(function, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], slots);
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < function.required_count(); ++i) {
    if (slots[i] != nullptr) continue;
    if (!function.all_required())
      throw_type_error(function.display_name() + " missing required argument '" +
                       function.parameters[i] + "' (pos " + std::to_string(i + 1) + ")");
    missing.push_back(function.parameters[i]);
  }
  if (!missing.empty()) throw_missing(function, missing);
  return slots;
}

PyError argument_error(const char* parameter, PyError error) {
  if (!error.is_exactly(PyExc_TypeError)) return error;
  PyRef original = error.instance();
  PyRef text = checked(PyObject_Str(original.get()));
  PyRef message = checked(PyUnicode_FromFormat("argument '%s': %U", parameter, text.get()));
  PyRef renamed = checked(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  // PyException_SetCause takes over the reference it is given.
  PyException_SetCause(renamed.get(), PyException_GetCause(original.get()));
  return PyError::from_instance(std::move(renamed));
}

}  // namespace kelvaro::py
