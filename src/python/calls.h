// Calling Python with string arguments.
#ifndef QORV_PYTHON_CALLS_H
#define QORV_PYTHON_CALLS_H

#include <cstdint>

#include "python/py_ref.h"

// Imports `module` (taken straight from sys.modules when already imported)
// and calls its attribute `name` with the params as strings. Null when any
// step fails, with the Python error, if any, still set.
PyRef CallFunction(const char* module, const char* name, char** params, std::int32_t paramCount);

// Calls the callable attribute `name` of `object` (lent, not taken over) with
// the params as strings. Null when any step fails, error as above.
PyRef CallAttribute(PyObject* object, const char* name, char** params, std::int32_t paramCount);

#endif  // QORV_PYTHON_CALLS_H
