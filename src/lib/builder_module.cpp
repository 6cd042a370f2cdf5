// Initialisation of kelvaro._builder: its one exported entry, PyInit__builder.
// Its functions are the builder's (builder_functions.h), the searches of an
// index (index_functions.h) and its text functions (text_functions.h).
#include "lib/builder_functions.h"
#include "lib/frame.h"
#include "lib/index_functions.h"
#include "lib/interrupts.h"
#include "lib/text_functions.h"

namespace kelvaro::py {
namespace {

PyModuleDef builder_module_definition = {
    PyModuleDef_HEAD_INIT,
    "kelvaro._builder",
    "Native helpers of the kelvaro package. Not a public interface.",
    0,
    builder_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace kelvaro::py

PyMODINIT_FUNC PyInit__builder() {
  using namespace kelvaro::py;
  return run_in_frame([] {
    install_interrupt_hook();
    PyRef module = checked(PyModule_Create2(&builder_module_definition, PYTHON_API_VERSION));
    checked_status(PyModule_AddFunctions(module.get(), index_functions));
    checked_status(PyModule_AddFunctions(module.get(), text_functions));
    return module;
  });
}
