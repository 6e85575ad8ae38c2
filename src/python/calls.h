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
#include "requests/hot_path.h"

// A name that a request gives: NUL-terminated, with its length at hand.
struct CallName {
  const char* text = nullptr;
  std::size_t length = 0;
};

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
  PyRef CallFunction(CallName module, CallName name, char** params, std::int32_t paramCount);
  // Calls the callable attribute `name` of `object` (lent for the call).
  PyRef CallAttribute(PyBorrowed object, CallName name, char** params, std::int32_t paramCount);

  // Releases every name and function held; the lock must be held.
  void Clear();

 private:
  PyRef ResolveFunction(CallName module, CallName name);
  // The import and lookups of a function not found in the cache, which
  // then keeps it when it can stand there.
  QORV_COLD_PATH
  PyRef ResolveAnew(CallName module, CallName name, bool versioned);

  NameCache names_;
  // Module functions that calls found. On Python 3 an entry stands while
  // the version tags of sys.modules and of the module's namespace stand;
  // on Python 2, which has no tags, while the entries of sys.modules and of
  // the namespace that held the module and the function still hold them.
  struct ResolvedFunction {
    std::string module;
    std::string name;
    PyRef moduleName;
    PyRef functionName;
    PyRef moduleObject;
    // The module's namespace, which the module holds for as long as it lives.
    _object* namespaceDict = nullptr;
    PyRef function;
    std::uint64_t modulesVersion = 0;
    std::uint64_t namespaceVersion = 0;
    // Python 2: the entries of sys.modules and of the namespace that held
    // the module and the function (under the keys above), or null.
    const void* moduleEntry = nullptr;
    const void* functionEntry = nullptr;
  };
  ResolvedFunction* Find(CallName module, CallName name);
  static bool StillFound(const ResolvedFunction& known, _object* modules);

  std::vector<ResolvedFunction> resolved_;
  // sys.modules as the interpreter holds it, once a call looked it up.
  _object* modules_ = nullptr;
  std::size_t nextResolved_ = 0;
};

// The answer text of a call's result, in place: the bytes of a str or bytes
// (Python 2: str or unicode) up to the first NUL, and their count in
// *length. *owner holds them when the result itself does not. Null when the
// result has no text; `why` then says why, unless the result is None (a
// procedure's normal answer) or a Python error was printed.
const char* ResultText(const PyRef& result, PyRef* owner, std::size_t* length, std::string* why);

#endif  // QORV_PYTHON_CALLS_H
