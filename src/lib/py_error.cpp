#include "lib/py_error.h"

namespace kelvaro::py {

PyError::PyError(Form form, PyRef type, PyRef value, PyRef traceback)
    : form_(form),
      type_(std::move(type)),
      value_(std::move(value)),
      traceback_(std::move(traceback)) {}

PyError::PyError(PyObject* type, std::string_view message)
    : PyError(type, PyRef::steal(PyUnicode_FromStringAndSize(
                        message.data(), static_cast<Py_ssize_t>(message.size())))) {}

PyError::PyError(PyObject* type, PyRef message)
    : form_(Form::message), type_(PyRef::borrow(type)), value_(std::move(message)) {
  // When not even the message could be made, report what stopped it.
  if (!value_ && PyErr_Occurred()) *this = fetch();
}

PyError PyError::from_instance(PyRef instance) {
  PyRef type = PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())));
  return PyError(Form::instance, std::move(type), std::move(instance), PyRef());
}

PyError PyError::fetch() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) {
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return PyError(PyExc_SystemError, "attempted to fetch exception but none was set");
  }
  // Some interpreters hand out None where there is no traceback.
  if (traceback == Py_None) Py_CLEAR(traceback);
  return PyError(Form::fetched, PyRef::steal(type), PyRef::steal(value), PyRef::steal(traceback));
}

void PyError::restore() && {
  if (form_ == Form::message) {
    // The interpreter builds the instance, with the message as its argument,
    // and chains it to the exception being handled, if any.
    PyErr_SetObject(type_.get(), value_.get());
  } else {
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
  }
}

PyRef PyError::instance() {
  if (form_ != Form::instance) {
    PyObject* type = type_.release();
    PyObject* value = value_.release();
    PyObject* traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    type_ = PyRef::steal(type);
    value_ = PyRef::steal(value);
    traceback_ = PyRef::steal(traceback);
    form_ = Form::instance;
  }
  return value_;
}

}  // namespace kelvaro::py
