#include "binding/module_state.h"

#include <string>
#include <utility>

#include "lib/py_error.h"

namespace kelvaro::py {
namespace {

ModuleState state;

PyRef imported_type(const char* module_name, const char* attribute) {
  PyRef module = checked(PyImport_ImportModule(module_name));
  PyRef type = checked(PyObject_GetAttrString(module.get(), attribute));
  if (!PyType_Check(type.get()))
    throw PyError(PyExc_TypeError, std::string(module_name) + "." + attribute + " is not a type");
  return type;
}

PyTypeObject* as_type(PyRef type) {
  return reinterpret_cast<PyTypeObject*>(type.release());
}

}  // namespace

const ModuleState& module_state() {
  return state;
}

void init_module_state(PyTypeObject* index_type) {
  // A second initialisation (a second interpreter, or a reload) keeps what
  // the first one made: the objects live as long as the process anyway.
  if (state.index_type != nullptr) return;
  // Held until every one is made: a failure part way releases them all.
  PyRef name = checked(PyUnicode_InternFromString("__name__"));
  PyRef match = imported_type("kelvaro._match", "Match");
  if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(match.get()), &PyTuple_Type))
    throw PyError(PyExc_TypeError, "kelvaro.Match must be a subclass of tuple");
  PyRef prefix_search = imported_type("_kelvaro", "PrefixSearch");
  state.name_attribute = name.release();
  state.match_type = as_type(std::move(match));
  state.prefix_search_type = as_type(std::move(prefix_search));
  state.index_type = as_type(PyRef::borrow(reinterpret_cast<PyObject*>(index_type)));
}

}  // namespace kelvaro::py
