// The plugin's own module inside the interpreter, "qorv_python": the
// exceptions that stop a request, sys.stderr's copy into the plugin's log
// file, and the few helpers that read best in Python. Python code may import
// it to catch qorv_python.RequestStopped.
#ifndef QORV_PYTHON_SUPPORT_MODULE_H
#define QORV_PYTHON_SUPPORT_MODULE_H

#include "python/py_ref.h"

class SupportModule {
 public:
  SupportModule() = default;
  SupportModule(const SupportModule&) = delete;
  SupportModule& operator=(const SupportModule&) = delete;
  // Anything still held is dropped without touching Python (Release it first).
  ~SupportModule();

  // With the lock held, once per interpreter: makes the module and puts it in
  // sys.modules. False with the Python error set when it cannot.
  bool Create();
  // With the lock held, before the interpreter goes.
  void Release();
  explicit operator bool() const { return static_cast<bool>(module_); }

  // A function or class of the module (lent), or null with an error set.
  PyBorrowed Get(const char* name) const;
  // Calls a function of the module, with one argument or none: its result,
  // or null with the error set.
  PyRef Call(const char* name, PyBorrowed argument = PyBorrowed()) const;

 private:
  PyRef module_;
};

#endif  // QORV_PYTHON_SUPPORT_MODULE_H
