// Calling Python with string arguments: the handlers of "PyCallObject",
// "PyCreateObject" and "PyCallObjectMethod".
#include "plugin/python_plugin.h"
#include "python/errors.h"
#include "python/py_ref.h"
#include "python/python_compat.h"

namespace {

// The answer of a call: the result's text, or null (the error printed).
const char* AnswerOf(PyRef result, std::string* answer) {
  if (result && qorv::py::ResultText(result.get(), answer)) return answer->c_str();
  ReportPythonError();
  return nullptr;
}

}  // namespace

PythonObject PythonPlugin::CallFunction(const char* module, const char* name, char** params,
                                        std::int32_t paramCount) {
  if (module == nullptr || name == nullptr) return nullptr;
  PyObject* moduleName = callNames.Get(module);  // borrowed
  if (moduleName == nullptr) return nullptr;
  // sys.modules first: that is the first thing the import does itself, and
  // skipping the import machinery makes a call on a loaded module cheap. A
  // module removed from sys.modules is imported anew.
  PyRef imported;
  PyObject* loaded = PyDict_GetItem(PyImport_GetModuleDict(), moduleName);  // borrowed
  if (loaded != nullptr && loaded != Py_None) {
    imported = PyRef::Borrow(loaded);
  } else {
    imported = PyRef::Steal(PyImport_Import(moduleName));
  }
  if (!imported) return nullptr;
  return CallAttribute(imported.get(), name, params, paramCount);
}

PythonObject PythonPlugin::CallAttribute(PythonObject object, const char* name, char** params,
                                         std::int32_t paramCount) {
  PyObject* attributeName = callNames.Get(name);  // borrowed
  if (attributeName == nullptr) return nullptr;
  PyRef attribute = PyRef::Steal(PyObject_GetAttr(object, attributeName));
  if (!attribute || !PyCallable_Check(attribute.get())) return nullptr;
  PyRef args = PyRef::Steal(PyTuple_New(paramCount));
  if (!args) return nullptr;
  for (std::int32_t i = 0; i < paramCount; ++i) {
    PyObject* param = qorv::py::TextFromBytes(params[i]);
    if (param == nullptr) return nullptr;
    PyTuple_SET_ITEM(args.get(), i, param);  // the tuple takes over this reference
  }
  return PyObject_CallObject(attribute.get(), args.get());
}

const char* PythonPlugin::HandleCallObject(const char* parameters) {
  if (!ParseParameters(parameters, &requestArgs)) return nullptr;
  const RequestArgs& args = requestArgs;
  return AnswerOf(PyRef::Steal(CallFunction(args.module, args.name, args.params, args.paramCount)),
                  &freshAnswer);
}

const char* PythonPlugin::HandleCreateObject(const char* parameters) {
  if (!ParseParameters(parameters, &requestArgs)) return nullptr;
  const RequestArgs& args = requestArgs;
  PyRef object = PyRef::Steal(CallFunction(args.module, args.name, args.params, args.paramCount));
  if (!object) {
    ReportPythonError();
    return nullptr;
  }
  // Any object, None included, is held; the registry takes over the reference.
  return RegisterObject(object.release(), args.objectId);
}

const char* PythonPlugin::HandleCallObjectMethod(const char* parameters) {
  if (!ParseParameters(parameters, &requestArgs)) return nullptr;
  const RequestArgs& args = requestArgs;
  if (args.method == nullptr) return nullptr;
  PythonObject held = FindObject(args.name);  // lent for the call; the registry keeps it
  if (held == nullptr) return nullptr;
  return AnswerOf(PyRef::Steal(CallAttribute(held, args.method, args.params, args.paramCount)),
                  &freshAnswer);
}
