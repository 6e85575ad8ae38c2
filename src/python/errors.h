// What Python has to say about a failure goes to Python's own sys.stderr,
// where tracebacks go, and nowhere near the host's answer.
#ifndef QORV_PYTHON_ERRORS_H
#define QORV_PYTHON_ERRORS_H

#include <string>

// Receives every failure text that is printed (a traceback or a reason line),
// for a copy in the plugin's log file; `context` is handed back to it.
using FailureCopy = void (*)(void* context, const std::string& text);
void CopyFailuresTo(FailureCopy copy, void* context);

// Prints the pending Python error, if any, with its traceback on the
// interpreter's stderr and clears it, so that no request inherits it.
// SystemExit is printed like any other error: it never ends the process.
void ReportPythonError();

// Prints one line on Python's sys.stderr (the lock must be held), or on the
// process's standard error when Python's is unusable.
void PrintFailure(const std::string& line);

// Flushes sys.stdout and sys.stderr so that what Python printed comes out in
// order with the host's own output. Errors (a closed stream) are ignored.
void FlushPythonStreams();

#endif  // QORV_PYTHON_ERRORS_H
