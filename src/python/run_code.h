// Code strings and script texts run in the interpreter's main module, along
// one path: compile and run, then report the error (if any) and answer.
#ifndef QORV_PYTHON_RUN_CODE_H
#define QORV_PYTHON_RUN_CODE_H

#include <string>

// Runs Python source in the main module. False when it raised (SystemExit
// included, which never ends the process); the error is printed.
bool RunSource(const char* source);

// Runs the text of a script file; `path` names it in tracebacks and is
// __file__ while it runs.
bool RunScript(const std::string& source, const char* path);

#endif  // QORV_PYTHON_RUN_CODE_H
