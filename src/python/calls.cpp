// Calling Python with string arguments.
#include <Python.h>

#include "python/errors.h"
#include "python/interpreter.h"
#include "python/python_compat.h"

namespace {

// The module, from sys.modules when it is loaded: that is the first thing the
// import does itself, and skipping the import machinery makes a call on a
// loaded module cheap. A module removed from sys.modules is imported anew.
PyRef ImportModule(PyBorrowed moduleName) {
  PyBorrowed loaded(PyDict_GetItem(PyImport_GetModuleDict(), moduleName.get()));
  if (loaded && loaded.get() != Py_None) return PyRef::Borrow(loaded);
  return PyRef::Steal(PyImport_Import(moduleName.get()));
}

// A tuple of the params as Python strings, or null with the error set.
PyRef ArgumentTuple(char** params, std::int32_t paramCount) {
  PyRef args = PyRef::Steal(PyTuple_New(paramCount));
  for (std::int32_t i = 0; args && i < paramCount; ++i) {
    PyObject* param = qorv::py::TextFromBytes(params[i]);
    if (param == nullptr) return PyRef();
    PyTuple_SET_ITEM(args.get(), i, param);  // the tuple takes over this reference
  }
  return args;
}

PyRef Reported(PyRef result) {
  if (!result) ReportPythonError();
  return result;
}

}  // namespace

PyRef Interpreter::CallFunction(const char* module, const char* name, char** params,
                                std::int32_t paramCount) {
  if (module == nullptr || name == nullptr) return PyRef();
  PyBorrowed moduleName = names_.Get(module);
  PyRef imported = moduleName ? ImportModule(moduleName) : PyRef();
  if (!imported) return Reported(PyRef());
  return CallAttribute(imported.borrowed(), name, params, paramCount);
}

PyRef Interpreter::CallAttribute(PyBorrowed object, const char* name, char** params,
                                 std::int32_t paramCount) {
  PyBorrowed attributeName = names_.Get(name);
  if (!attributeName) return Reported(PyRef());
  PyRef attribute = PyRef::Steal(PyObject_GetAttr(object.get(), attributeName.get()));
  if (!attribute) return Reported(PyRef());
  if (!PyCallable_Check(attribute.get())) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not callable", Py_TYPE(attribute.get())->tp_name);
    return Reported(PyRef());
  }
  PyRef args = ArgumentTuple(params, paramCount);
  if (!args) return Reported(PyRef());
  return Reported(PyRef::Steal(PyObject_CallObject(attribute.get(), args.get())));
}

bool Interpreter::ResultText(const PyRef& result, std::string* text, std::string* why) {
  why->clear();
  if (!result) return false;
  if (qorv::py::ResultText(result.get(), text)) return true;
  if (PyErr_Occurred()) {
    ReportPythonError();  // a str that cannot be encoded
    return false;
  }
  if (result.get() != Py_None) {
    *why = std::string("the result is of type '") + Py_TYPE(result.get())->tp_name + "', not text";
  }
  return false;
}
