#include "python/calls.h"

#include <Python.h>

#include <array>
#include <cstring>

#include "python/errors.h"
#include "python/python_compat.h"
#include "requests/hot_path.h"
#include "requests/same_bytes.h"

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

// The Python strings of a call's texts, in order, behind two free slots: one
// for a method's object and one that the callee may use (see
// CallAttributeWithArguments). Most calls have a few arguments, which live on
// the stack.
class Arguments {
 public:
  // Null args() when a text could not be made a string (the error is set).
  Arguments(char** params, std::int32_t paramCount)
      : count_(static_cast<std::size_t>(paramCount < 0 ? 0 : paramCount)) {
    PyObject** slots = onStack_.data();
    if (count_ > kStackArguments) {
      onHeap_.resize(count_ + kFreeSlots);
      slots = onHeap_.data();
    }
    slots[0] = slots[1] = nullptr;  // the free slots, which a callee may read and put back
    args_ = slots + kFreeSlots;
    for (; made_ < count_; ++made_) {
      args_[made_] = qorv::py::TextFromBytes(params[made_]);
      if (args_[made_] == nullptr) break;
    }
  }
  ~Arguments() {
    for (std::size_t i = 0; i < made_; ++i) Py_DECREF(args_[i]);
  }
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;

  // Null when a text could not be made a string; else the strings, which the
  // call may write a free slot in front of.
  PyObject** args() { return made_ == count_ ? args_ : nullptr; }
  std::size_t count() const { return count_; }

 private:
  static constexpr std::size_t kStackArguments = 8;
  static constexpr std::size_t kFreeSlots = 2;
  std::size_t count_;
  std::size_t made_ = 0;
  PyObject** args_ = nullptr;
  std::array<PyObject*, kStackArguments + kFreeSlots> onStack_;
  std::vector<PyObject*> onHeap_;
};

PyRef CallWithTexts(PyRef function, char** params, std::int32_t paramCount) {
  if (!function) return Reported(PyRef());
  Arguments arguments(params, paramCount);
  if (arguments.args() == nullptr) return Reported(PyRef());
  return Reported(
      PyRef::Steal(qorv::py::CallWithArguments(function.get(), arguments.args(), arguments.count())));
}

constexpr std::size_t kMaxResolved = 8;

// Whether `known` is `name`: the lengths first, which tells most names apart.
bool IsName(const std::string& known, CallName name) {
  return known.size() == name.length && SameBytes(known.data(), name.text, name.length);
}

}  // namespace

PythonCalls::~PythonCalls() {
  for (ResolvedFunction& entry : resolved_) {
    for (PyRef* held : {&entry.moduleName, &entry.functionName, &entry.moduleObject, &entry.function}) {
      static_cast<void>(held->release());
    }
  }
}

QORV_HOT_PATH(18)
PyRef PythonCalls::CallFunction(CallName module, CallName name, char** params,
                                std::int32_t paramCount) {
  if (module.text == nullptr || name.text == nullptr) return PyRef();
  return CallWithTexts(ResolveFunction(module, name), params, paramCount);
}

QORV_HOT_PATH(32)
PyRef PythonCalls::CallAttribute(PyBorrowed object, CallName name, char** params,
                                 std::int32_t paramCount) {
  PyBorrowed attributeName = names_.Get(name.text, name.length);
  if (!attributeName) return Reported(PyRef());
  Arguments arguments(params, paramCount);
  if (arguments.args() == nullptr) return Reported(PyRef());
  return Reported(PyRef::Steal(qorv::py::CallAttributeWithArguments(object.get(), attributeName.get(),
                                                                    arguments.args(), arguments.count())));
}

// A request calls the same few module functions again and again: a function
// found before is taken again as long as the same lookups would find it. The
// caller gets a reference of its own, since the call may run a request that
// replaces the entry.
QORV_HOT_PATH(19)
PyRef PythonCalls::ResolveFunction(CallName module, CallName name) {
  if (modules_ == nullptr) modules_ = PyImport_GetModuleDict();
  PyObject* const modules = modules_;
  std::uint64_t modulesVersion = 0;
  std::uint64_t namespaceVersion = 0;
  const bool versioned = qorv::py::DictVersion(modules, &modulesVersion);
  ResolvedFunction* known = Find(module, name);
  if (known != nullptr && Py_TYPE(known->moduleObject.get()) == &PyModule_Type) {
    PyObject* const namespaceDict = known->namespaceDict;
    const bool stands =
        versioned ? known->modulesVersion == modulesVersion &&
                        qorv::py::DictVersion(namespaceDict, &namespaceVersion) &&
                        namespaceVersion == known->namespaceVersion
                  : StillFound(*known, modules);
    if (stands) return PyRef::Borrow(known->function.borrowed());
    PyErr_Clear();
  }
  return ResolveAnew(module, name, versioned);
}

PyRef PythonCalls::ResolveAnew(CallName module, CallName name, bool versioned) {
  PyObject* const modules = modules_;
  std::uint64_t modulesVersion = 0;
  std::uint64_t namespaceVersion = 0;
  PyBorrowed moduleName = names_.Get(module.text, module.length);
  PyRef moduleObject = moduleName ? ImportModule(moduleName) : PyRef();
  PyBorrowed functionName = moduleObject ? names_.Get(name.text, name.length) : PyBorrowed();
  PyRef function = Callable(functionName ? Attribute(moduleObject.borrowed(), functionName, name.text)
                                         : PyRef());
  // Kept only where the two lookups are all there is to getattr: a plain
  // module, and a name that is no double-underscore one of the module type.
  if (!function || !PyModule_CheckExact(moduleObject.get()) || IsDunder(name.text)) return function;
  PyObject* const namespaceDict = PyModule_GetDict(moduleObject.get());
  if (versioned && (!qorv::py::DictVersion(modules, &modulesVersion) ||
                    !qorv::py::DictVersion(namespaceDict, &namespaceVersion))) {
    return function;
  }
  ResolvedFunction entry{std::string(module.text, module.length),
                         std::string(name.text, name.length),
                         qorv::py::LookupKey(moduleName),
                         qorv::py::LookupKey(functionName),
                         std::move(moduleObject),
                         namespaceDict,
                         PyRef::Borrow(function.borrowed()),
                         modulesVersion,
                         namespaceVersion};
  if (!versioned) {
    entry.moduleEntry = qorv::py::DictEntryOf(modules, entry.moduleName.get(), &entry.moduleName);
    entry.functionEntry = qorv::py::DictEntryOf(namespaceDict, entry.functionName.get(), &entry.functionName);
  }
  // The import and the lookups may have run Python code that made requests
  // of its own and changed the entries: the place for this one is found now.
  ResolvedFunction* known = Find(module, name);
  if (known != nullptr) {
    *known = std::move(entry);
  } else if (resolved_.size() < kMaxResolved) {
    resolved_.push_back(std::move(entry));
  } else {
    resolved_[nextResolved_++ % kMaxResolved] = std::move(entry);
  }
  return function;
}

// Without version tags (Python 2): whether sys.modules and the namespace
// still hold the very module and function, told by a look at the entries
// that held them. No lookup, so no Python code runs (a lookup may compare
// keys with Python code, which may make requests that change the cache). A
// dictionary that has grown since has moved its entries: the function is then
// resolved anew, and its entries noted again.
bool PythonCalls::StillFound(const ResolvedFunction& known, _object* modules) {
  return known.moduleEntry != nullptr && known.functionEntry != nullptr &&
         qorv::py::DictEntryHolds(modules, known.moduleEntry, known.moduleName.get(), known.moduleObject.get()) &&
         qorv::py::DictEntryHolds(known.namespaceDict, known.functionEntry, known.functionName.get(),
                                  known.function.get());
}

QORV_HOT_PATH(20)
PythonCalls::ResolvedFunction* PythonCalls::Find(CallName module, CallName name) {
  for (ResolvedFunction& entry : resolved_) {
    if (IsName(entry.name, name) && IsName(entry.module, module)) {
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

const char* ResultText(const PyRef& result, PyRef* owner, std::size_t* length, std::string* why) {
  if (!result) return nullptr;
  Py_ssize_t size = 0;
  if (const char* text = qorv::py::ResultChars(result.get(), owner, &size)) {
    // The answer ends at the first NUL, as the host reads it.
    const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(size));
    *length = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - text)
                             : static_cast<std::size_t>(size);
    return text;
  }
  if (PyErr_Occurred()) {
    ReportPythonError();  // a str that cannot be encoded
    return nullptr;
  }
  if (result.get() != Py_None) {
    *why = std::string("the result is of type '") + Py_TYPE(result.get())->tp_name + "', not text";
  }
  return nullptr;
}
