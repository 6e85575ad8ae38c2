#ifndef QORV_PYTHON_ERRORS_H
#define QORV_PYTHON_ERRORS_H

// Prints the pending Python error, if any, with its traceback on the
// interpreter's stderr and clears it, so that no request inherits it.
// SystemExit is printed like any other error: it never ends the process.
void ReportPythonError();

// Flushes sys.stdout and sys.stderr so that what Python printed comes out in
// order with the host's own output. Errors (a closed stream) are ignored.
void FlushPythonStreams();

#endif  // QORV_PYTHON_ERRORS_H
