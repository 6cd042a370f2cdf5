// Module initialisation: the one exported entry, PyInit__kelvaro.
#include "lib/binding.h"
#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/functions.h"
#include "lib/interrupts.h"
#include "lib/module_cells.h"
#include "lib/prefix_search.h"

namespace kelvaro::py {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_kelvaro",
    "",  // present, so that __doc__ is "" rather than None
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* all_name() {
  return interned(module_cells().all_name, "__all__");
}
PyObject* name_name() {
  return interned(module_cells().name_name, "__name__");
}

PyRef require_str(PyRef object) {
  if (!PyUnicode_Check(object.get())) throw downcast_error(object.get(), "PyString");
  return object;
}

// The module's __all__, created empty when it has none yet.
PyRef all_list(PyObject* module) {
  PyRef all = PyRef::steal(PyObject_GetAttr(module, all_name()));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyError::fetch();
    PyErr_Clear();
    all = checked(PyList_New(0));
    checked_status(PyObject_SetAttr(module, all_name(), all.get()));
    return all;
  }
  if (!PyList_Check(all.get())) throw downcast_error(all.get(), "PyList");
  return all;
}

void add_name(PyObject* module, PyObject* name, PyObject* value) {
  PyRef all = all_list(module);
  if (PyList_Append(all.get(), name) == -1) fail("could not append __name__ to __all__");
  checked_status(PyObject_SetAttr(module, name, value));
}

void add_function(PyObject* module, PyMethodDef* definition) {
  PyObject* dict = PyModule_GetDict(module);
  if (dict == nullptr) throw PyError::fetch();
  PyObject* module_name = PyDict_GetItemWithError(dict, name_name());
  if (module_name == nullptr) throw PyError::fetch();
  require_str(PyRef::borrow(module_name));

  PyRef function = checked(PyCMethod_New(definition, module, module_name, nullptr));
  PyRef function_name = require_str(checked(PyObject_GetAttr(function.get(), name_name())));
  add_name(module, function_name.get(), function.get());
}

void add_class(PyObject* module) {
  PyRef name = checked(PyUnicode_FromString("PrefixSearch"));
  add_name(module, name.get(), reinterpret_cast<PyObject*>(prefix_search_type()));
}

PyRef create_module() {
  PyRef module = checked(PyModule_Create2(&module_definition, 1013));
#ifdef PYPY_VERSION
  // PyPy shows the module type's own docstring for an empty module doc.
  PyRef empty = checked(PyUnicode_FromString(""));
  checked_status(PyObject_SetAttrString(module.get(), "__doc__", empty.get()));
#endif
  add_function(module.get(), &from_internal_data_definition);
  add_function(module.get(), &from_bytes_definition);
  add_class(module.get());
  return module;
}

}  // namespace
}  // namespace kelvaro::py

PyMODINIT_FUNC PyInit__kelvaro() {
  using namespace kelvaro::py;
  return run_in_frame([] {
    install_interrupt_hook();
    PyObject*& module = module_cells().module;
    if (module == nullptr) module = create_module().release();
    return PyRef::borrow(module);
  });
}
