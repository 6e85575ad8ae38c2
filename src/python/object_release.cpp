// The Python side of the object registry: the registry holds one reference
// per entry and gives it back through this.
#include <Python.h>

#include "requests/object_registry.h"

void ReleasePythonObject(PythonObject object) { Py_XDECREF(object); }
