// What Python has to say about a failure goes to Python's own sys.stderr,
// where tracebacks go, and nowhere near the host's answer.
#ifndef QORV_PYTHON_ERRORS_H
#define QORV_PYTHON_ERRORS_H

#include <cstddef>
#include <string>

#include "requests/hot_path.h"

struct _object;  // PyObject

// Where failure texts (tracebacks and reason lines) are copied besides, and
// what Python writes to sys.stderr while a run's log keeps it: the plugin's
// log file. Set and used with the lock held; null: nowhere.
using LogCopy = void (*)(void* context, const char* text, std::size_t length);
void CopyFailuresTo(LogCopy copy, void* context);

// For sys.stderr's copy: `text` goes to the log unless it is a failure that
// is being reported, which is in the log already.
void CopyStderrText(const char* text, std::size_t length);

// The class of the exception that stops a request (qorv_python.RequestStopped),
// or null; lent by its owner for as long as it is set.
void SetStopException(_object* stopClass);
// Whether the request being served was asked to stop: only then is that
// exception cleared without a word (Python code may raise it itself).
void ExpectStop(bool expected);

// Prints the pending Python error, if any, with its traceback on the
// interpreter's stderr and clears it, so that no request inherits it.
// SystemExit is printed like any other error: it never ends the process.
// The exception that stops a request, when a stop was asked for, is cleared
// without a word: its reason is the caller's to say (see TakeStopSeen).
QORV_COLD_PATH
void ReportPythonError();

// Whether ReportPythonError cleared the exception that stops a request since
// the last call.
bool TakeStopSeen();

// How many errors ReportPythonError has printed, and the type of the last:
// for the one line that sums up a request whose call raised.
unsigned long PrintedErrorCount();
std::string LastPrintedErrorType();

// Prints one line on Python's sys.stderr (the lock must be held), or on the
// process's standard error when Python's is unusable.
void PrintFailure(const std::string& line);

// Flushes sys.stdout and sys.stderr so that what Python printed comes out in
// order with the host's own output. Errors (a closed stream) are ignored.
void FlushPythonStreams();

#endif  // QORV_PYTHON_ERRORS_H
