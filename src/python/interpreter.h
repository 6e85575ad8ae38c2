// The one Python interpreter of the process, as the plugin runs it: its start
// and stop, Python's lock taken for each call from the host, the host's
// signals, the calls that requests make, and code strings and script files.
//
// Where its members live: life and the lock in interpreter.cpp, calls in
// calls.cpp, code strings and scripts in run_code.cpp.
#ifndef QORV_PYTHON_INTERPRETER_H
#define QORV_PYTHON_INTERPRETER_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "python/host_signals.h"
#include "python/name_cache.h"
#include "python/py_ref.h"
#include "python/thread_states.h"

class Interpreter {
 public:
  Interpreter() = default;
  // Python references still held are dropped without touching Python, which
  // may be gone, or locked by another thread, by then.
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // --- Life --------------------------------------------------------------

  // Starts Python, or carries on with the interpreter that runs in the
  // process (kept by an earlier Stop, or started by the host), with an empty
  // main namespace that has sys imported. Returns with Python's lock free.
  // False, with the reason, when Python cannot run.
  bool Start(std::string* reason);

  // Ends the run: Python's exit handlers, its streams flushed, up to two
  // seconds for Python threads to end, and the host's signal dispositions
  // back as they were at Start. Then it shuts Python down where starting it
  // again is safe: only on Python 3.10 and 3.11, only an interpreter that
  // Start started, with no Python thread left and no extension module loaded
  // from a shared library. Otherwise the interpreter is kept, with a fresh
  // main module, for the next Start. Hold no Lock when calling it.
  void Stop();

  // Between a successful Start and Stop.
  bool Running() const;

  // Python's lock for the calling thread, with that thread's own state, for
  // as long as the object lives. Any thread may take it, one at a time.
  class Lock {
   public:
    explicit Lock(Interpreter& interpreter);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    Interpreter& interpreter_;
    ThreadStates::Entry entry_;
  };

  // Releases one reference that the registry held (with the lock held).
  static void ReleaseObject(_object* object);

  // --- Calls -------------------------------------------------------------

  // Imports `module` (from sys.modules when it is loaded) and calls its
  // attribute `name` with the params as Python strings. Null when any step
  // fails, with the Python error printed and cleared.
  PyRef CallFunction(const char* module, const char* name, char** params,
                     std::int32_t paramCount);
  // Calls the callable attribute `name` of `object` (lent for the call).
  PyRef CallAttribute(PyBorrowed object, const char* name, char** params,
                      std::int32_t paramCount);
  // The answer text of a call's result: a str or bytes (Python 2: str or
  // unicode), up to its first NUL, valid while *owner holds its object. Null
  // when it has none; `why` then says why, unless the result is None (a
  // procedure's normal answer) or a Python error was printed.
  static const char* ResultText(const PyRef& result, PyRef* owner, std::string* why);

  // --- Code strings and scripts ------------------------------------------

  // Runs Python source in the main module. False when it raised (SystemExit
  // included, which never ends the process); the error is printed.
  bool RunSource(const char* source);
  // Runs the text of a script file; `path` names it in tracebacks and is
  // __file__ while it runs.
  bool RunScript(const std::string& source, const char* path);

 private:
  PyRef ResolveFunction(const char* module, const char* name);
  void ForgetResolvedFunctions();
  bool WaitForPythonThreads();
  bool ExtensionModulesLoaded() const;
  void RememberStartingState();
  void ResetMainModule(bool threadsEnded);

  bool running_ = false;
  bool startedHere_ = false;
  ThreadStates threads_;
  HostSignals signals_;
  NameCache names_;
  // What a fresh main module holds (__name__, __builtins__, ...), and the
  // modules loaded when the interpreter came into the plugin's hands.
  PyRef mainTemplate_;
  std::set<std::string> startingModules_;
  // Module functions that calls found, with the version tags of sys.modules
  // and of the module's namespace then: while both stand, the same lookup
  // would find the same function.
  struct ResolvedFunction {
    std::string module;
    std::string name;
    PyRef moduleObject;
    PyRef function;
    std::uint64_t modulesVersion = 0;
    std::uint64_t namespaceVersion = 0;
  };
  std::vector<ResolvedFunction> resolved_;
  std::size_t nextResolved_ = 0;
  // Main modules of earlier runs, kept while Python threads that may use them
  // run: Python 2 empties a module's namespace when the module goes.
  PyRef retiredMains_;
};

#endif  // QORV_PYTHON_INTERPRETER_H
