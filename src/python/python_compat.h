// Everything that differs between the Python 2.7 and Python 3 builds, and
// between the Python 3 versions, in one place.
//
// Request texts are bytes. Python 2 takes them as str (bytes) unchanged. On
// Python 3 they become str, decoded as UTF-8 with "surrogateescape", so every
// byte string survives the round trip; a str result is encoded back the same
// way, and a bytes result gives its bytes.
#ifndef QORV_PYTHON_PYTHON_COMPAT_H
#define QORV_PYTHON_PYTHON_COMPAT_H

#include <Python.h>

#include "python/py_ref.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qorv::py {

// Whether Py_Finalize followed by a new start gives back what the first run
// took. Measured over 100 cycles: Python 3.10 and 3.11 keep memory flat;
// 2.7, 3.8 and 3.9 leak 5 to 170 KB a cycle, 3.13 about 170 KB and 3.12 over
// 1 MB, and 3.12 corrupts memory once datetime, decimal, ctypes or sqlite3 were
// imported. Versions not measured count as unsafe.
constexpr bool kRestartIsSafe =
    PY_MAJOR_VERSION == 3 && (PY_MINOR_VERSION == 10 || PY_MINOR_VERSION == 11);

#if PY_MAJOR_VERSION >= 3

// A new reference to the Python text of a request text, or null with an error set.
inline PyObject* TextFromBytes(const char* text) {
  return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "surrogateescape");
}

// The answer text of a call's result, in place: the NUL-terminated bytes of
// a str (UTF-8, or the bytes that "surrogateescape" stands for) or a bytes
// object. *owner holds the object that holds them. Null for a result that has
// no text (an error is set only when a str could not be encoded).
inline const char* ResultChars(PyObject* result, PyRef* owner) {
  if (PyUnicode_Check(result)) {
    // The UTF-8 form is cached in the object, and free for ASCII text.
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(result, nullptr)) {
      *owner = PyRef::Borrow(PyBorrowed(result));
      return utf8;
    }
    PyErr_Clear();  // lone surrogates: encode them back as the bytes they stand for
    *owner = PyRef::Steal(PyUnicode_AsEncodedString(result, "utf-8", "surrogateescape"));
    return *owner ? PyBytes_AS_STRING(owner->get()) : nullptr;
  }
  if (PyBytes_Check(result)) {
    *owner = PyRef::Borrow(PyBorrowed(result));
    return PyBytes_AS_STRING(result);
  }
  return nullptr;
}

// The version tag that CPython 3.8 to 3.13 change with every modification of
// a dict: while it stands, a lookup in the dict gives what it gave before.
// False where there is none to read.
inline bool DictVersion(PyObject* dict, std::uint64_t* version) {
#if PY_MINOR_VERSION <= 13
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  *version = reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  return true;
#else
  static_cast<void>(dict);
  static_cast<void>(version);
  return false;
#endif
}

inline void InternInPlace(PyObject** text) { PyUnicode_InternInPlace(text); }

// The item of `key`, or null (an error set only when the lookup failed). The
// Python 3 call skips the saving and restoring of the error state that
// PyDict_GetItem does on every lookup.
inline PyObject* DictItem(PyObject* dict, PyObject* key) { return PyDict_GetItemWithError(dict, key); }

inline PyObject* SysObject(const char* name) { return PySys_GetObject(name); }

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, method, nullptr);
}

// The current thread state, or null. From Python 3.12 it is the calling
// thread's; before, it is that of the thread holding the global lock, which
// may be another thread.
inline PyThreadState* CurrentThreadState() {
#if PY_MINOR_VERSION >= 13
  return PyThreadState_GetUnchecked();
#else
  return _PyThreadState_UncheckedGet();
#endif
}

inline std::string StatusText(const PyStatus& status) {
  std::string text = status.func != nullptr ? std::string(status.func) + ": " : std::string();
  return text + (status.err_msg != nullptr ? status.err_msg : "failed");
}

// Starts the interpreter as a guest: no signal handlers, no change to the
// host's locale or C streams, sys.argv [''], and sys.executable naming
// `program` (when given) rather than whatever "python3" the PATH finds.
// False with the reason when it cannot start.
inline bool StartInterpreter(const std::string& program, std::string* reason) {
  PyPreConfig preconfig;
  PyPreConfig_InitPythonConfig(&preconfig);
  preconfig.configure_locale = 0;
  preconfig.parse_argv = 0;
  PyStatus status = Py_PreInitialize(&preconfig);
  if (PyStatus_Exception(status)) {
    *reason = StatusText(status);
    return false;
  }
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.install_signal_handlers = 0;
  config.configure_c_stdio = 0;
  config.parse_argv = 0;
  if (!program.empty()) {
    status = PyConfig_SetBytesString(&config, &config.program_name, program.c_str());
  }
  if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) {
    *reason = StatusText(status);
    return false;
  }
  return true;
}

inline PyObject* EvalCode(PyObject* code, PyObject* globals) {
  return PyEval_EvalCode(code, globals, globals);
}

// Compiles the text of a script file; `path` names it in tracebacks. The
// compiler reads a coding declaration and a byte-order mark as it does in a file.
inline PyObject* CompileScript(const std::string& source, const char* path) {
  return Py_CompileStringExFlags(source.c_str(), path, Py_file_input, nullptr, -1);
}

// Runs the functions registered with atexit, as finalisation would; they
// are gone from the list afterwards.
inline bool RunExitHandlers() {
  PyRef atexit = PyRef::Steal(PyImport_ImportModule("atexit"));
  return atexit && PyRef::Steal(CallMethodNoArgs(atexit.get(), "_run_exitfuncs"));
}

// The C module behind the signal module.
constexpr const char kSignalModule[] = "_signal";

#else  // Python 2.7

inline PyObject* TextFromBytes(const char* text) { return PyString_FromString(text); }

// A str gives its bytes; a unicode object its text in the default encoding
// (an error is set when that encoding cannot represent it).
inline const char* ResultChars(PyObject* result, PyRef* owner) {
  if (PyString_Check(result)) {
    *owner = PyRef::Borrow(PyBorrowed(result));
    return PyString_AS_STRING(result);
  }
  if (!PyUnicode_Check(result)) return nullptr;
  *owner = PyRef::Steal(PyUnicode_AsEncodedString(result, nullptr, nullptr));  // default encoding
  return *owner ? PyString_AS_STRING(owner->get()) : nullptr;
}

// Python 2's dicts carry no version.
inline bool DictVersion(PyObject*, std::uint64_t*) { return false; }

inline void InternInPlace(PyObject** text) { PyString_InternInPlace(text); }

inline PyObject* DictItem(PyObject* dict, PyObject* key) { return PyDict_GetItem(dict, key); }

inline PyObject* SysObject(const char* name) { return PySys_GetObject(const_cast<char*>(name)); }

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, const_cast<char*>(method), nullptr);
}

inline PyThreadState* CurrentThreadState() { return _PyThreadState_Current; }

inline bool StartInterpreter(const std::string& program, std::string* /*reason*/) {
  // Python 2 keeps the pointer: the text must outlive the interpreter.
  static std::string programName;
  if (!program.empty()) {
    programName = program;
    Py_SetProgramName(&programName[0]);
  }
  Py_InitializeEx(0);  // 0: no signal handlers (it aborts the process on failure)
  if (!Py_IsInitialized()) return false;
  PyEval_InitThreads();  // Python 2 makes the global lock only on demand
  // An embedded Python 2 has no sys.argv, on which common modules fail.
  char empty[] = "";
  char* argv[] = {empty};
  PySys_SetArgvEx(1, argv, 0);  // 0: leave sys.path alone
  return true;
}

inline PyObject* EvalCode(PyObject* code, PyObject* globals) {
  return PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(code), globals, globals);
}

// Python 2 reads a script without a coding declaration as ASCII, which it
// checks only when it reads a file; a compiled text is held to the same rule.
inline bool DeclaresItsEncoding(const std::string& source) {
  if (source.compare(0, 3, "\xEF\xBB\xBF") == 0) return true;  // UTF-8 byte-order mark
  std::size_t start = 0;
  for (int line = 0; line < 2 && start < source.size(); ++line) {
    std::size_t end = source.find('\n', start);
    if (end == std::string::npos) end = source.size();
    const std::string_view text(source.data() + start, end - start);
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos) {
      const std::size_t coding = text.find("coding", hash);
      if (coding != std::string_view::npos && coding + 6 < text.size() &&
          (text[coding + 6] == ':' || text[coding + 6] == '=')) {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

inline PyObject* CompileScript(const std::string& source, const char* path) {
  if (!DeclaresItsEncoding(source)) {
    for (std::size_t i = 0; i < source.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(source[i]);
      if (c < 0x80) continue;
      const int line = 1 + static_cast<int>(std::count(source.begin(), source.begin() + i, '\n'));
      PyErr_Format(PyExc_SyntaxError,
                   "Non-ASCII character '\\x%02x' in file %s on line %d, but no encoding "
                   "declared; see http://python.org/dev/peps/pep-0263/ for details",
                   c, path, line);
      return nullptr;
    }
  }
  return Py_CompileString(source.c_str(), path, Py_file_input);
}

// Python 2's finalisation calls sys.exitfunc once, where the atexit module
// registers its handlers. That module sets sys.exitfunc only when it is first
// imported, so its function stays for the next run (it empties its own list);
// any other function is called once and removed, as finalisation does.
inline bool RunExitHandlers() {
  PyRef exitfunc = PyRef::Borrow(PyBorrowed(SysObject("exitfunc")));
  if (!exitfunc) return true;
  PyBorrowed atexit(PyDict_GetItemString(PyImport_GetModuleDict(), "atexit"));
  PyRef runAtexit = atexit ? PyRef::Steal(PyObject_GetAttrString(atexit.get(), "_run_exitfuncs"))
                           : PyRef();
  PyErr_Clear();
  if (runAtexit.get() != exitfunc.get()) {
    PyBorrowed sys(PyImport_AddModule("sys"));
    if (!sys || PyObject_DelAttrString(sys.get(), "exitfunc") != 0) PyErr_Clear();
  }
  return static_cast<bool>(PyRef::Steal(PyObject_CallObject(exitfunc.get(), nullptr)));
}

constexpr const char kSignalModule[] = "signal";

#endif

// The answer text of a result copied into *out, up to its first NUL; false
// when the result has no text.
inline bool ResultText(PyObject* result, std::string* out) {
  PyRef owner;
  const char* text = ResultChars(result, &owner);
  if (text == nullptr) return false;
  out->assign(text);
  return true;
}

}  // namespace qorv::py

#endif  // QORV_PYTHON_PYTHON_COMPAT_H
