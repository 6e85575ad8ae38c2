#ifndef QORV_PYTHON_RUN_CODE_H
#define QORV_PYTHON_RUN_CODE_H

// Runs Python source in the main module. On failure the error is printed on
// the interpreter's stderr and cleared (SystemExit included: it never ends
// the process) and the result is false.
bool RunPythonSource(const char* source);

#endif  // QORV_PYTHON_RUN_CODE_H
