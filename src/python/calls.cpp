#include "python/calls.h"

#include <Python.h>

#include <array>
#include <cstring>

#include "python/errors.h"
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

// The callable, or null with a TypeError set.
PyRef Callable(PyRef attribute) {
  if (attribute && !PyCallable_Check(attribute.get())) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not callable", Py_TYPE(attribute.get())->tp_name);
    return PyRef();
  }
  return attribute;
}

PyRef Reported(PyRef result) {
  if (!result) ReportPythonError();
  return result;
}

// Most calls have a few arguments: their Python strings live on the stack,
// with the free slot in front that a call may use.
constexpr std::size_t kStackArguments = 8;

PyRef CallWithTexts(PyRef function, char** params, std::int32_t paramCount) {
  if (!function) return Reported(PyRef());
  const auto count = static_cast<std::size_t>(paramCount < 0 ? 0 : paramCount);
  std::array<PyObject*, kStackArguments + 1> onStack;
  std::vector<PyObject*> onHeap;
  PyObject** slots = onStack.data();
  if (count > kStackArguments) {
    onHeap.resize(count + 1);
    slots = onHeap.data();
  }
  PyObject** args = slots + 1;
  std::size_t made = 0;
  for (; made < count; ++made) {
    args[made] = qorv::py::TextFromBytes(params[made]);
    if (args[made] == nullptr) break;
  }
  PyRef result;
  if (made == count) result = PyRef::Steal(qorv::py::CallWithArguments(function.get(), args, count));
  for (std::size_t i = 0; i < made; ++i) Py_DECREF(args[i]);
  return Reported(std::move(result));
}

constexpr std::size_t kMaxResolved = 8;

// Whether `known` (which holds no NUL) is `text`: a byte loop, which for the
// short names of calls beats the library's comparison and its setting up.
bool IsText(const std::string& known, const char* text) {
  const std::size_t size = known.size();
  for (std::size_t i = 0; i < size; ++i) {
    if (known[i] != text[i]) return false;  // a shorter text differs at its NUL
  }
  return text[size] == '\0';
}

}  // namespace

PythonCalls::~PythonCalls() {
  for (ResolvedFunction& entry : resolved_) {
    for (PyRef* held : {&entry.moduleName, &entry.functionName, &entry.moduleObject, &entry.function}) {
      static_cast<void>(held->release());
    }
  }
}

PyRef PythonCalls::CallFunction(const char* module, const char* name, char** params,
                                std::int32_t paramCount) {
  if (module == nullptr || name == nullptr) return PyRef();
  return CallWithTexts(ResolveFunction(module, name), params, paramCount);
}

PyRef PythonCalls::CallAttribute(PyBorrowed object, const char* name, char** params,
                                 std::int32_t paramCount) {
  PyBorrowed attributeName = names_.Get(name);
  PyRef attribute = attributeName ? Attribute(object, attributeName, name) : PyRef();
  return CallWithTexts(Callable(std::move(attribute)), params, paramCount);
}

// A request calls the same few module functions again and again: a function
// found before is taken again as long as the same lookups would find it. The
// caller gets a reference of its own, since the call may run a request that
// replaces the entry.
PyRef PythonCalls::ResolveFunction(const char* module, const char* name) {
  if (modules_ == nullptr) modules_ = PyImport_GetModuleDict();
  PyObject* const modules = modules_;
  std::uint64_t modulesVersion = 0;
  std::uint64_t namespaceVersion = 0;
  const bool versioned = qorv::py::DictVersion(modules, &modulesVersion);
  ResolvedFunction* known = Find(module, name);
  if (known != nullptr && Py_TYPE(known->moduleObject.get()) == &PyModule_Type) {
    PyObject* const namespaceDict = PyModule_GetDict(known->moduleObject.get());
    const bool stands =
        versioned ? known->modulesVersion == modulesVersion &&
                        qorv::py::DictVersion(namespaceDict, &namespaceVersion) &&
                        namespaceVersion == known->namespaceVersion
                  : qorv::py::DictItem(modules, known->moduleName.get()) == known->moduleObject.get() &&
                        qorv::py::DictItem(namespaceDict, known->functionName.get()) ==
                            known->function.get();
    if (stands) return PyRef::Borrow(known->function.borrowed());
    PyErr_Clear();
  }

  PyBorrowed moduleName = names_.Get(module);
  PyRef moduleObject = moduleName ? ImportModule(moduleName) : PyRef();
  PyBorrowed functionName = moduleObject ? names_.Get(name) : PyBorrowed();
  PyRef function = Callable(functionName ? Attribute(moduleObject.borrowed(), functionName, name)
                                         : PyRef());
  // Kept only where the two lookups are all there is to getattr: a plain
  // module, and a name that is no double-underscore one of the module type.
  if (!function || !PyModule_CheckExact(moduleObject.get()) || IsDunder(name)) return function;
  if (versioned && (!qorv::py::DictVersion(modules, &modulesVersion) ||
                    !qorv::py::DictVersion(PyModule_GetDict(moduleObject.get()), &namespaceVersion))) {
    return function;
  }
  // The import may have run a request of its own that changed the entries.
  known = Find(module, name);
  ResolvedFunction entry{module,
                         name,
                         qorv::py::LookupKey(moduleName),
                         qorv::py::LookupKey(functionName),
                         std::move(moduleObject),
                         PyRef::Borrow(function.borrowed()),
                         modulesVersion,
                         namespaceVersion};
  if (known != nullptr) {
    *known = std::move(entry);
  } else if (resolved_.size() < kMaxResolved) {
    resolved_.push_back(std::move(entry));
  } else {
    resolved_[nextResolved_++ % kMaxResolved] = std::move(entry);
  }
  return function;
}

PythonCalls::ResolvedFunction* PythonCalls::Find(const char* module, const char* name) {
  for (ResolvedFunction& entry : resolved_) {
    if (IsText(entry.name, name) && IsText(entry.module, module)) {
      return &entry;
    }
  }
  return nullptr;
}

void PythonCalls::Clear() {
  modules_ = nullptr;
  resolved_.clear();
  nextResolved_ = 0;
  names_.Clear();
}

bool ResultText(const PyRef& result, std::string* answer, std::string* why) {
  why->clear();
  if (!result) return false;
  PyRef owner;
  Py_ssize_t length = 0;
  if (const char* text = qorv::py::ResultChars(result.get(), &owner, &length)) {
    // The answer ends at the first NUL, as the host reads it.
    const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(length));
    answer->assign(text, nul != nullptr ? static_cast<const char*>(nul) - text
                                        : static_cast<std::size_t>(length));
    return true;
  }
  if (PyErr_Occurred()) {
    ReportPythonError();  // a str that cannot be encoded
    return false;
  }
  if (result.get() != Py_None) {
    *why = std::string("the result is of type '") + Py_TYPE(result.get())->tp_name + "', not text";
  }
  return false;
}
