#include "python/main_module.h"

#include <Python.h>

#include "python/errors.h"
#include "python/python_line.h"
#include "python/run_code.h"

bool PrepareMainModule() { return RunSource("import sys"); }

void RenewMainModule(PyBorrowed mainTemplate) {
  if (!mainTemplate) return;
  PyObject* const modules = PyImport_GetModuleDict();
  PyRef old = PyRef::Borrow(PyBorrowed(PyDict_GetItemString(modules, "__main__")));
  PyRef fresh = PyRef::Steal(PyModule_New("__main__"));
  if (!fresh || PyDict_Update(PyModule_GetDict(fresh.get()), mainTemplate.get()) != 0 ||
      PyDict_SetItemString(modules, "__main__", fresh.get()) != 0) {
    ReportPythonError();
    return;
  }
  // The module itself goes with this reference unless something holds it.
  if (old && Py_REFCNT(old.get()) == 1) qorv::py::DetachNamespace(old.get());
  old.Reset();
  PyGC_Collect();
  PyErr_Clear();  // nothing a collection raises is the run's to hear of
}
