#include "binding/mapped_file.h"

#include <memory>
#include <utility>

#include "index/leased_mapping.h"
#include "lib/frame.h"
#include "lib/interrupts.h"
#include "lib/module_cells.h"

namespace kelvaro::py {
namespace {

struct MappedFileObject {
  PyObject_HEAD
      // Owned; never null in an object map_file made.
      LeasedMapping* mapping;
};

LeasedMapping* mapping_of(PyObject* self) {
  return reinterpret_cast<MappedFileObject*>(self)->mapping;
}

// Read-only, whatever the caller asks for: a request for a writable view
// is refused by PyBuffer_FillInfo.
int get_buffer(PyObject* self, Py_buffer* view, int flags) {
  LeasedMapping* mapping = mapping_of(self);
  if (mapping == nullptr) {
    PyErr_SetString(PyExc_ValueError, "the file is not mapped");
    view->obj = nullptr;
    return -1;
  }
  const std::span<const std::uint8_t> bytes = mapping->bytes();
  return PyBuffer_FillInfo(view, self, const_cast<std::uint8_t*>(bytes.data()),
                           static_cast<Py_ssize_t>(bytes.size()), 1, flags);
}

// A view holds the object, so this runs only once no view is left.
void release(PyObject* self) {
  delete std::exchange(reinterpret_cast<MappedFileObject*>(self)->mapping, nullptr);
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* get_copied(PyObject* self, void*) {
  return run_in_frame([&] {
    const LeasedMapping* mapping = mapping_of(self);
    return PyRef::borrow(mapping != nullptr && mapping->copied() ? Py_True : Py_False);
  });
}

PyGetSetDef getters[] = {
    {"copied", get_copied, nullptr,
     "Whether the bytes were copied away from the file, which another program was about to "
     "change.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject* mapped_file_type() {
  PyTypeObject*& type = module_cells().mapped_file;
  if (type != nullptr) return type;
  static PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>("An index file mapped read-only under a lease.")},
      {Py_tp_dealloc, reinterpret_cast<void*>(release)},
      {Py_tp_getset, getters},
      {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
      {0, nullptr},
  };
  static PyType_Spec spec = {
      "kelvaro._native_index.MappedFile", sizeof(MappedFileObject), 0, Py_TPFLAGS_DEFAULT, slots,
  };
  type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
  return type;
}

namespace {

// map_file(descriptor, size) -> MappedFile or None: the file open read-only
// as `descriptor` (still the caller's to close), mapped whole under a lease
// if it is still `size` bytes long; None when it cannot be, so that the
// caller reads it instead.
PyObject* map_file(PyObject*, PyObject* args) {
  return run_in_frame([&] {
    int descriptor;
    unsigned long long size;
    if (!PyArg_ParseTuple(args, "iK:map_file", &descriptor, &size)) throw PyError::fetch();
    PyTypeObject* type = mapped_file_type();
    std::unique_ptr<LeasedMapping> mapping =
        without_gil([&] { return LeasedMapping::map(descriptor, static_cast<std::size_t>(size)); });
    if (!mapping) return PyRef::borrow(Py_None);
    PyRef object = checked(type->tp_alloc(type, 0));
    reinterpret_cast<MappedFileObject*>(object.get())->mapping = mapping.release();
    return object;
  });
}

}  // namespace

PyMethodDef mapped_file_functions[2] = {
    {"map_file", map_file, METH_VARARGS, "map_file(descriptor, size)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace kelvaro::py
