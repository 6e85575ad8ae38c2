#include "python/errors.h"

#include <Python.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "python/py_ref.h"
#include "python/python_compat.h"

namespace {

LogCopy logCopy = nullptr;
void* logCopyContext = nullptr;
PyObject* stopException = nullptr;
bool stopExpected = false;
bool stopSeen = false;
// Set while a failure that is already copied to the log is being written to
// sys.stderr, whose own copy then leaves it out.
int reporting = 0;
unsigned long printedErrors = 0;
// No destructor: the plugin object, whose destructor ends a run, may outlive
// objects of this file at the library's unload.
char lastPrintedType[128] = "";

void Copy(const std::string& text) {
  if (logCopy != nullptr) logCopy(logCopyContext, text.data(), text.size());
}

class Reporting {
 public:
  Reporting() { ++reporting; }
  ~Reporting() { --reporting; }
  Reporting(const Reporting&) = delete;
  Reporting& operator=(const Reporting&) = delete;
};

// Writes `text` to sys.stderr; false when there is no usable sys.stderr.
bool WriteToPythonStderr(const std::string& text) {
  PendingError pending;  // a pending error stays pending, and does not stop the write
  PyBorrowed stream(qorv::py::SysObject("stderr"));
  if (!stream || stream.get() == Py_None) return false;
  PyRef line = PyRef::Steal(qorv::py::TextFromBytes(text.c_str()));
  PyRef written;
  if (line) {
    written = PyRef::Steal(PyObject_CallMethod(stream.get(), const_cast<char*>("write"),
                                               const_cast<char*>("O"), line.get()));
  }
  if (!written) {
    PyErr_Clear();
    return false;
  }
  // Python 3.8 buffers a stderr that is no terminal: the line goes out now.
  PyRef flushed = PyRef::Steal(qorv::py::CallMethodNoArgs(stream.get(), "flush"));
  if (!flushed) PyErr_Clear();
  return true;
}

// The traceback as the interpreter prints it, for the copy in the log.
std::string FormatError(PyObject* type, PyObject* value, PyObject* traceback) {
  PyRef module = PyRef::Steal(PyImport_ImportModule("traceback"));
  PyRef lines;
  if (module) {
    lines = PyRef::Steal(PyObject_CallMethod(module.get(), const_cast<char*>("format_exception"),
                                             const_cast<char*>("OOO"), type,
                                             value != nullptr ? value : Py_None,
                                             traceback != nullptr ? traceback : Py_None));
  }
  std::string text;
  std::string line;
  const Py_ssize_t count = lines && PyList_Check(lines.get()) ? PyList_GET_SIZE(lines.get()) : 0;
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (qorv::py::ResultText(PyList_GET_ITEM(lines.get(), i), &line)) text += line;
  }
  PyErr_Clear();
  return text;
}

}  // namespace

void CopyFailuresTo(LogCopy copy, void* context) {
  logCopy = copy;
  logCopyContext = context;
}

void CopyStderrText(const char* text, std::size_t length) {
  if (reporting == 0 && logCopy != nullptr) logCopy(logCopyContext, text, length);
}

void SetStopException(PyObject* stopClass) { stopException = stopClass; }

void ExpectStop(bool expected) { stopExpected = expected; }

bool TakeStopSeen() { return std::exchange(stopSeen, false); }

unsigned long PrintedErrorCount() { return printedErrors; }

std::string LastPrintedErrorType() { return lastPrintedType; }

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
  if (type == nullptr) return;
  if (stopExpected && stopException != nullptr && PyErr_GivenExceptionMatches(type, stopException)) {
    stopSeen = true;
    return;
  }
  if (logCopy != nullptr) Copy(FormatError(type, value, traceback));
  ++printedErrors;
  const char* name = PyExceptionClass_Check(type) ? PyExceptionClass_Name(type) : "an exception";
  // Python 2 names the built-in ones "exceptions.ValueError".
  if (const char* dot = std::strrchr(name, '.')) name = dot + 1;
  std::snprintf(lastPrintedType, sizeof lastPrintedType, "%s", name);
  // Not PyErr_Print: it ends the process on SystemExit.
  const Reporting reported;
  PyErr_Display(type, value != nullptr ? value : Py_None, traceback);
  PyErr_Clear();  // whatever printing itself raised (a closed stderr)
}

void PrintFailure(const std::string& line) {
  const std::string text = "qorv_python: " + line + "\n";
  Copy(text);
  const Reporting reported;
  if (!WriteToPythonStderr(text)) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }
}

void FlushPythonStreams() {
  for (const char* name : {"stdout", "stderr"}) {
    PyBorrowed stream(qorv::py::SysObject(name));
    if (!stream || stream.get() == Py_None) continue;
    PyRef result = PyRef::Steal(qorv::py::CallMethodNoArgs(stream.get(), "flush"));
    if (!result) PyErr_Clear();
  }
}
