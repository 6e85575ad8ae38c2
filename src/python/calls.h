// Calling Python with string arguments: a module's function by the names
// of both, or an attribute of an object that the registry holds.
#ifndef QORV_PYTHON_CALLS_H
#define QORV_PYTHON_CALLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "python/name_cache.h"
#include "python/py_ref.h"

class PythonCalls {
 public:
  PythonCalls() = default;
  PythonCalls(const PythonCalls&) = delete;
  PythonCalls& operator=(const PythonCalls&) = delete;
  // What is still held is dropped without touching Python (Clear it first).
  ~PythonCalls();

  // Imports `module` (from sys.modules when it is loaded) and calls its
  // attribute `name` with the params as Python strings. Null when any step
  // fails, with the Python error printed and cleared.
  PyRef CallFunction(const char* module, const char* name, char** params, std::int32_t paramCount);
  // Calls the callable attribute `name` of `object` (lent for the call).
  PyRef CallAttribute(PyBorrowed object, const char* name, char** params, std::int32_t paramCount);

  // Releases every name and function held; the lock must be held.
  void Clear();

 private:
  PyRef ResolveFunction(const char* module, const char* name);

  NameCache names_;
  // Module functions that calls found. On Python 3 an entry stands while
  // the version tags of sys.modules and of the module's namespace stand;
  // on Python 2, which has no tags, while sys.modules and the namespace
  // still hold the very same module and function.
  struct ResolvedFunction {
    std::string module;
    std::string name;
    PyRef moduleName;
    PyRef functionName;
    PyRef moduleObject;
    PyRef function;
    std::uint64_t modulesVersion = 0;
    std::uint64_t namespaceVersion = 0;
  };
  ResolvedFunction* Find(const char* module, const char* name);

  std::vector<ResolvedFunction> resolved_;
  // sys.modules as the interpreter holds it, once a call looked it up.
  _object* modules_ = nullptr;
  std::size_t nextResolved_ = 0;
};

// The answer text of a call's result copied into *answer: a str or bytes
// (Python 2: str or unicode), up to its first NUL. False when it has none;
// `why` then says why, unless the result is None (a procedure's normal
// answer) or a Python error was printed.
bool ResultText(const PyRef& result, std::string* answer, std::string* why);

#endif  // QORV_PYTHON_CALLS_H
