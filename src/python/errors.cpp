#include "python/errors.h"

#include "python/py_ref.h"
#include "python/python_compat.h"

void ReportPythonError() {
  if (!PyErr_Occurred()) return;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef ownedType = PyRef::Steal(type);
  PyRef ownedValue = PyRef::Steal(value);
  PyRef ownedTraceback = PyRef::Steal(traceback);
  // Not PyErr_Print: it ends the process on SystemExit.
  if (type != nullptr) PyErr_Display(type, value != nullptr ? value : Py_None, traceback);
  PyErr_Clear();  // whatever printing itself raised (a closed stderr)
}

void FlushPythonStreams() {
  for (const char* name : {"stdout", "stderr"}) {
    PyObject* stream = qorv::py::SysObject(name);  // borrowed
    if (stream == nullptr || stream == Py_None) continue;
    PyRef result = PyRef::Steal(qorv::py::CallMethodNoArgs(stream, "flush"));
    if (!result) PyErr_Clear();
  }
}
