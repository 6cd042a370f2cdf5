// Initialisation of kelvaro._native_index, the native part of the kelvaro
// package: its one exported entry, PyInit__native_index. It holds the index
// type (native_index.h), the functions that make and read index files
// (file_functions.h), the running-text functions (text_functions.h) and
// map_file (mapped_file.h); its module-level objects are cells of
// lib/module_cells.h, filled here.
#include <string>

#include "binding/file_functions.h"
#include "binding/mapped_file.h"
#include "binding/native_index.h"
#include "binding/text_functions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "lib/module_cells.h"

namespace kelvaro::py {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "kelvaro._native_index",
    "The native part of kelvaro.Index: the index type and its builder. Not a public interface.",
    0,
    file_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyRef imported_type(const char* module_name, const char* attribute) {
  PyRef module = checked(PyImport_ImportModule(module_name));
  PyRef type = checked(PyObject_GetAttrString(module.get(), attribute));
  if (!PyType_Check(type.get()))
    throw PyError(PyExc_TypeError, std::string(module_name) + "." + attribute + " is not a type");
  return type;
}

// The module's cells, once: a second initialisation (a reload) keeps what
// the first one made, which lives as long as the process anyway.
void fill_cells() {
  ModuleCells& cells = module_cells();
  if (cells.match != nullptr) return;
  // Held until every one is made: a failure part way releases them all.
  PyRef match = imported_type("kelvaro._match", "Match");
  if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(match.get()), &PyTuple_Type))
    throw PyError(PyExc_TypeError, "kelvaro.Match must be a subclass of tuple");
  PyRef prefix_search = imported_type("_kelvaro", "PrefixSearch");
  native_index_type();
  cells.match = reinterpret_cast<PyTypeObject*>(match.release());
  cells.prefix_search = reinterpret_cast<PyTypeObject*>(prefix_search.release());
}

}  // namespace
}  // namespace kelvaro::py

PyMODINIT_FUNC PyInit__native_index() {
  using namespace kelvaro::py;
  return run_in_frame([] {
    install_interrupt_hook();
    PyRef module = checked(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    checked_status(PyModule_AddFunctions(module.get(), text_functions));
    checked_status(PyModule_AddFunctions(module.get(), mapped_file_functions));
    fill_cells();
    checked_status(PyObject_SetAttrString(
        module.get(), "NativeIndex", reinterpret_cast<PyObject*>(module_cells().native_index)));
    checked_status(PyObject_SetAttrString(module.get(), "MappedFile",
                                          reinterpret_cast<PyObject*>(mapped_file_type())));
    return module;
  });
}
