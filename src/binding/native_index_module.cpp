// Initialisation of kelvaro._native_index, the native part of the kelvaro
// package: its one exported entry, PyInit__native_index. It holds the index
// type (native_index.h), the builder's functions (builder_functions.h) and
// the running-text functions (text_functions.h); its module-level objects
// are in module_state.h.
#include "binding/builder_functions.h"
#include "binding/module_state.h"
#include "binding/native_index.h"
#include "binding/text_functions.h"
#include "lib/frame.h"
#include "lib/interrupts.h"

namespace kelvaro::py {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "kelvaro._native_index",
    "The native part of kelvaro.Index: the index type and its builder. Not a public interface.",
    0,
    builder_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace kelvaro::py

PyMODINIT_FUNC PyInit__native_index() {
  using namespace kelvaro::py;
  return run_in_frame([] {
    install_interrupt_hook();
    PyRef module = checked(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    checked_status(PyModule_AddFunctions(module.get(), text_functions));
    PyTypeObject* index_type = native_index_type();
    init_module_state(index_type);
    checked_status(PyObject_SetAttrString(module.get(), "NativeIndex",
                                          reinterpret_cast<PyObject*>(index_type)));
    return module;
  });
}
