// The subsystems that differ as a whole between Python 2.7 and Python 3:
// CMake builds python2.cpp or python3.cpp, whichever line is embedded.
#ifndef QORV_PYTHON_PYTHON_LINE_H
#define QORV_PYTHON_PYTHON_LINE_H

#include <string>

struct _object;  // PyObject

namespace qorv::py {

struct StartOptions {
  // The interpreter program that sys.executable names (and from which
  // Python finds its installation), or "" to let Python choose.
  std::string program;
};

// Starts the interpreter as a guest: no signal handlers, no change to the
// host's locale or C streams, sys.argv ['']. Returns with the global lock
// held by the calling thread. False with the reason when it cannot start.
bool StartInterpreter(const StartOptions& options, std::string* reason);

// Runs the functions registered with atexit, as finalisation would; they
// are gone from the registry afterwards. False with the error set when one
// raised and the error was not printed.
bool RunExitHandlers();

// Compiles the text of a script file; `path` names it in tracebacks. New
// reference, or null with a SyntaxError set.
_object* CompileScript(const std::string& source, const char* path);

// Makes `module` give up its namespace before it goes, where the module
// object would empty it on its way out (Python 2): functions defined in it
// that live on elsewhere keep their globals.
void DetachNamespace(_object* module);

}  // namespace qorv::py

#endif  // QORV_PYTHON_PYTHON_LINE_H
