#include "python/calls.h"

#include "plugin/python_plugin.h"
#include "python/errors.h"
#include "python/python_compat.h"
#include "requests/request_args.h"

namespace {

// sys.modules first: that is the first thing the import does itself, and
// skipping the import machinery makes a call on a loaded module cheap. A
// module removed from sys.modules is imported anew.
PyRef ImportModule(const char* module) {
  PyRef moduleName = PyRef::Steal(qorv::py::TextFromBytes(module));
  if (!moduleName) return {};
  PyObject* loaded = PyDict_GetItem(PyImport_GetModuleDict(), moduleName.get());  // borrowed
  if (loaded != nullptr && loaded != Py_None) return PyRef::Borrow(loaded);
  return PyRef::Steal(PyImport_Import(moduleName.get()));
}

}  // namespace

PyRef CallFunction(const char* module, const char* name, char** params, std::int32_t paramCount) {
  if (module == nullptr || name == nullptr) return {};
  PyRef imported = ImportModule(module);
  if (!imported) return {};
  return CallAttribute(imported.get(), name, params, paramCount);
}

PyRef CallAttribute(PyObject* object, const char* name, char** params, std::int32_t paramCount) {
  PyRef attributeName = PyRef::Steal(qorv::py::TextFromBytes(name));
  if (!attributeName) return {};
  PyRef attribute = PyRef::Steal(PyObject_GetAttr(object, attributeName.get()));
  if (!attribute || !PyCallable_Check(attribute.get())) return {};
  PyRef args = PyRef::Steal(PyTuple_New(paramCount));
  if (!args) return {};
  for (std::int32_t i = 0; i < paramCount; ++i) {
    PyObject* param = qorv::py::TextFromBytes(params[i]);
    if (param == nullptr) return {};
    PyTuple_SET_ITEM(args.get(), i, param);  // the tuple takes over this reference
  }
  return PyRef::Steal(PyObject_CallObject(attribute.get(), args.get()));
}

namespace {

// The answer of a call: the result's text, or null (the error printed).
const char* AnswerOf(PyRef result, std::string* answer) {
  if (result && qorv::py::ResultText(result.get(), answer)) return answer->c_str();
  ReportPythonError();
  return nullptr;
}

}  // namespace

const char* PythonPlugin::HandleCallObject(const char* parameters) {
  std::unique_ptr<RequestArgs> args = ParseParameters(parameters);
  if (!args) return nullptr;
  return AnswerOf(CallFunction(args->module, args->name, args->params, args->paramCount),
                  &freshAnswer);
}

const char* PythonPlugin::HandleCreateObject(const char* parameters) {
  std::unique_ptr<RequestArgs> args = ParseParameters(parameters);
  if (!args) return nullptr;
  PyRef object = CallFunction(args->module, args->name, args->params, args->paramCount);
  if (!object) {
    ReportPythonError();
    return nullptr;
  }
  // Any object, None included, is held; the registry takes over the reference.
  return RegisterObject(object.release(), args->objectId);
}

const char* PythonPlugin::HandleCallObjectMethod(const char* parameters) {
  std::unique_ptr<RequestArgs> args = ParseParameters(parameters);
  if (!args || args->method == nullptr) return nullptr;
  PyObject* held = FindObject(args->name);  // lent for the call; the registry keeps it
  if (held == nullptr) return nullptr;
  return AnswerOf(CallAttribute(held, args->method, args->params, args->paramCount), &freshAnswer);
}
