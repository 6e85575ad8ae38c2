// Where the Python library lives in this process, and what follows from it.
// Everything here differs between POSIX and Windows, and nothing else in the
// Python bridge does.
#ifndef QORV_PYTHON_PYTHON_LIBRARY_H
#define QORV_PYTHON_PYTHON_LIBRARY_H

#include <string>

// A host that loads the plugin with RTLD_LOCAL hides the Python library's
// symbols from Python's own extension modules (math, _json, _decimal, ...),
// which then fail to import with "undefined symbol". This promotes the loaded
// library to global scope, once; it then stays loaded for the life of the
// process, so that an interpreter kept running by Close outlives the plugin.
void MakePythonSymbolsGlobal();

// The interpreter program of the installation whose library is loaded
// ("<prefix>/bin/python3.11" beside "<prefix>/lib/libpython3.11.so"), or ""
// when it has none. Subprocesses that run sys.executable, and multiprocessing's
// spawn method, need it to be this very Python.
std::string InterpreterProgram();

// Whether `function` lies in the Python library: a signal handler that Python
// itself installed.
bool IsInPythonLibrary(void* function);

#endif  // QORV_PYTHON_PYTHON_LIBRARY_H
