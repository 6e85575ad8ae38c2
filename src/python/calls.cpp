// Calling Python with string arguments.
#include <Python.h>

#include <cstring>

#include "python/errors.h"
#include "python/interpreter.h"
#include "python/python_compat.h"

namespace {

// The module, from sys.modules when it is loaded: that is the first thing the
// import does itself, and skipping the import machinery makes a call on a
// loaded module cheap. A module removed from sys.modules is imported anew.
PyRef ImportModule(PyBorrowed moduleName) {
  PyBorrowed loaded(qorv::py::DictItem(PyImport_GetModuleDict(), moduleName.get()));
  if (loaded && loaded.get() != Py_None) return PyRef::Borrow(loaded);
  if (PyErr_Occurred()) return PyRef();
  return PyRef::Steal(PyImport_Import(moduleName.get()));
}

bool IsDunder(const char* name) { return name[0] == '_' && name[1] == '_'; }

// The attribute, from a plain module's namespace when it is there: that is
// what getattr finds for any name but the module type's own double-underscore
// ones, and a dictionary lookup costs a fraction of getattr. Anything else
// (a module's __getattr__, an object that only stands in sys.modules, a
// missing name and its error) goes through getattr.
PyRef Attribute(PyBorrowed object, PyBorrowed name, const char* text) {
  if (PyModule_CheckExact(object.get()) && !IsDunder(text)) {
    PyBorrowed found(qorv::py::DictItem(PyModule_GetDict(object.get()), name.get()));
    if (found) return PyRef::Borrow(found);
    if (PyErr_Occurred()) return PyRef();
  }
  return PyRef::Steal(PyObject_GetAttr(object.get(), name.get()));
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

// The callable, or null with a TypeError set.
PyRef Callable(PyRef attribute) {
  if (attribute && !PyCallable_Check(attribute.get())) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not callable", Py_TYPE(attribute.get())->tp_name);
    return PyRef();
  }
  return attribute;
}

PyRef CallWithTexts(PyRef function, char** params, std::int32_t paramCount) {
  if (!function) return Reported(PyRef());
  PyRef args = ArgumentTuple(params, paramCount);
  if (!args) return Reported(PyRef());
  return Reported(PyRef::Steal(PyObject_CallObject(function.get(), args.get())));
}

constexpr std::size_t kMaxResolved = 8;

}  // namespace

PyRef Interpreter::CallFunction(const char* module, const char* name, char** params,
                                std::int32_t paramCount) {
  if (module == nullptr || name == nullptr) return PyRef();
  return CallWithTexts(ResolveFunction(module, name), params, paramCount);
}

PyRef Interpreter::CallAttribute(PyBorrowed object, const char* name, char** params,
                                 std::int32_t paramCount) {
  PyBorrowed attributeName = names_.Get(name);
  PyRef attribute = attributeName ? Attribute(object, attributeName, name) : PyRef();
  return CallWithTexts(Callable(std::move(attribute)), params, paramCount);
}

// A request calls the same few module functions again and again: a function
// found before is taken again as long as neither sys.modules nor the
// module's namespace has changed since, which the version tags of the two
// dicts tell. Otherwise (and always on Python 2) it is looked up afresh.
PyRef Interpreter::ResolveFunction(const char* module, const char* name) {
  const PyBorrowed modules(PyImport_GetModuleDict());
  std::uint64_t modulesVersion = 0;
  std::uint64_t namespaceVersion = 0;
  const bool versioned = qorv::py::DictVersion(modules.get(), &modulesVersion);
  // The entry of this module and name, if any; a stale one is replaced below.
  ResolvedFunction* known = nullptr;
  for (ResolvedFunction& entry : resolved_) {
    if (std::strcmp(entry.name.c_str(), name) == 0 && std::strcmp(entry.module.c_str(), module) == 0) {
      known = &entry;
      break;
    }
  }
  if (known != nullptr && known->modulesVersion == modulesVersion &&
      Py_TYPE(known->moduleObject.get()) == &PyModule_Type &&
      qorv::py::DictVersion(PyModule_GetDict(known->moduleObject.get()), &namespaceVersion) &&
      namespaceVersion == known->namespaceVersion) {
    return PyRef::Borrow(known->function.borrowed());
  }

  PyBorrowed moduleName = names_.Get(module);
  PyRef moduleObject = moduleName ? ImportModule(moduleName) : PyRef();
  PyBorrowed attributeName = moduleObject ? names_.Get(name) : PyBorrowed();
  PyRef function = Callable(attributeName ? Attribute(moduleObject.borrowed(), attributeName, name)
                                          : PyRef());
  // Kept only where the two lookups are all there is to getattr: a plain
  // module, and a name that is no double-underscore one of the module type.
  if (!function || !versioned || !PyModule_CheckExact(moduleObject.get()) || IsDunder(name) ||
      !qorv::py::DictVersion(modules.get(), &modulesVersion) ||
      !qorv::py::DictVersion(PyModule_GetDict(moduleObject.get()), &namespaceVersion)) {
    return function;
  }
  ResolvedFunction entry{module, name, std::move(moduleObject), PyRef::Borrow(function.borrowed()),
                         modulesVersion, namespaceVersion};
  if (known != nullptr) {
    *known = std::move(entry);
  } else if (resolved_.size() < kMaxResolved) {
    resolved_.push_back(std::move(entry));
  } else {
    resolved_[nextResolved_++ % kMaxResolved] = std::move(entry);
  }
  return function;
}

void Interpreter::ForgetResolvedFunctions() {
  resolved_.clear();
  nextResolved_ = 0;
}

const char* Interpreter::ResultText(const PyRef& result, PyRef* owner, std::string* why) {
  why->clear();
  if (!result) return nullptr;
  if (const char* text = qorv::py::ResultChars(result.get(), owner)) return text;
  if (PyErr_Occurred()) {
    ReportPythonError();  // a str that cannot be encoded
    return nullptr;
  }
  if (result.get() != Py_None) {
    *why = std::string("the result is of type '") + Py_TYPE(result.get())->tp_name + "', not text";
  }
  return nullptr;
}
