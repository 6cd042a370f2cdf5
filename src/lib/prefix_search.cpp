#include "lib/prefix_search.h"

#include <atomic>
#include <memory>

#include "lib/conversions.h"
#include "lib/frame.h"
#include "lib/methods.h"
#include "lib/module_cells.h"
#include "prefix/internal_error.h"

namespace kelvaro::py {
namespace {

constexpr const char* kQualifiedName = "builtins.PrefixSearch";

std::atomic_ref<std::intptr_t> borrow_counter(PrefixSearchObject* object) {
  return std::atomic_ref<std::intptr_t>(object->borrow_flag);
}

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
  return run_in_frame([&]() -> PyRef {
    PyRef name = PyRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type),
                                               interned(module_cells().name_name, "__name__")));
    if (!name || !PyUnicode_Check(name.get())) {
      PyErr_Clear();
      name = PyRef::steal(PyUnicode_FromString("<unknown>"));
    }
    throw PyError(PyExc_TypeError,
                  PyRef::steal(PyUnicode_FromFormat("No constructor defined for %U", name.get())));
  });
}

void release(PyObject* self) {
  run_in_frame_without_result([&] {
    auto* object = reinterpret_cast<PrefixSearchObject*>(self);
    delete std::exchange(object->trie, nullptr);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    // Instances of a heap type hold a reference to it.
    Py_DECREF(type);
  });
}

#ifdef PYPY_VERSION
// PyPy's emulation of the C API lets a class statement derive from a type
// that is not a base type, and gives every instance a __dict__. Refuse both
// the way CPython does.
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
  return run_in_frame([]() -> PyRef {
    throw PyError(PyExc_TypeError, "type 'builtins.PrefixSearch' is not an acceptable base type");
  });
}

int refuse_attribute(PyObject* self, PyObject* name, PyObject*) {
  PyObject* result = run_in_frame([&]() -> PyRef {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    const char* format = PyObject_HasAttr(type, name) ? "'%s' object attribute '%U' is read-only"
                                                      : "'%s' object has no attribute '%U'";
    throw PyError(PyExc_AttributeError,
                  PyRef::steal(PyUnicode_FromFormat(format, "PrefixSearch", name)));
  });
  return result == nullptr ? -1 : 0;
}

PyMethodDef pypy_methods[std::size(prefix_search_methods) + 1];

PyMethodDef* methods_with_subclass_refusal() {
  std::copy(std::begin(prefix_search_methods), std::end(prefix_search_methods), pypy_methods);
  // Before the closing sentinel.
  pypy_methods[std::size(prefix_search_methods) - 1] = {
      "__init_subclass__",
      reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(refuse_subclass)),
      METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
  return pypy_methods;
}
#endif

PyTypeObject* create_type() {
#ifdef PYPY_VERSION
  PyMethodDef* methods = methods_with_subclass_refusal();
#else
  PyMethodDef* methods = prefix_search_methods;
#endif
  PyType_Slot slots[] = {
      {Py_tp_base, &PyBaseObject_Type},
      {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
      {Py_tp_dealloc, reinterpret_cast<void*>(release)},
      {Py_tp_methods, methods},
#ifdef PYPY_VERSION
      {Py_tp_setattro, reinterpret_cast<void*>(refuse_attribute)},
#endif
      {0, nullptr},
  };
  PyType_Spec spec = {kQualifiedName, sizeof(PrefixSearchObject), 0, Py_TPFLAGS_DEFAULT, slots};
  return reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
}

// After initialisation the type exists, so failing to create it here is a
// broken invariant rather than an error of the caller.
PyTypeObject* existing_type() {
  try {
    return prefix_search_type();
  } catch (PyError& error) {
    std::move(error).restore();
    PyErr_PrintEx(0);
    fail("failed to create type object for PrefixSearch");
  }
}

}  // namespace

PyTypeObject* prefix_search_type() {
  PyTypeObject*& type = module_cells().prefix_search;
  if (type == nullptr) type = create_type();
  return type;
}

PyRef new_prefix_search(Trie trie) {
  return adopt_trie(existing_type(), std::move(trie));
}

SharedBorrow::SharedBorrow(PyObject* receiver) {
  if (!PyObject_TypeCheck(receiver, existing_type()))
    throw downcast_error(receiver, "PrefixSearch");
  object_ = reinterpret_cast<PrefixSearchObject*>(receiver);
  if (object_->trie == nullptr)
    throw PyError(PyExc_TypeError,
                  "PrefixSearch object was not created by from_internal_data or from_bytes");

  auto counter = borrow_counter(object_);
  std::intptr_t current = counter.load();
  do {
    if (current == -1) throw PyError(PyExc_RuntimeError, "Already mutably borrowed");
  } while (!counter.compare_exchange_weak(current, current + 1));
  reference_ = PyRef::borrow(receiver);
}

SharedBorrow::~SharedBorrow() {
  borrow_counter(object_).fetch_sub(1);
}

}  // namespace kelvaro::py
