// Everything that differs between the Python 2.7 and Python 3 builds.
//
// Request texts are bytes. Python 2 takes them as str (bytes) unchanged. On
// Python 3 they become str, decoded as UTF-8 with "surrogateescape", so every
// byte string survives the round trip; a str result is encoded back the same
// way, and a bytes result gives its bytes.
#ifndef QORV_PYTHON_PYTHON_COMPAT_H
#define QORV_PYTHON_PYTHON_COMPAT_H

#include <Python.h>

#include <cstring>
#include <string>

namespace qorv::py {

#if PY_MAJOR_VERSION >= 3

// A new reference to the Python text of a request text, or null with an error set.
inline PyObject* TextFromBytes(const char* text) {
  return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "surrogateescape");
}

// Stores the answer text of a call's result in *out, up to its first NUL.
// False for a result that has no text (an error is set only when a str could
// not be encoded).
inline bool ResultText(PyObject* result, std::string* out) {
  if (PyUnicode_Check(result)) {
    // The UTF-8 form is cached in the object, and free for ASCII text.
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(result, nullptr)) {
      out->assign(utf8);
      return true;
    }
    PyErr_Clear();  // lone surrogates: encode them back as the bytes they stand for
    PyObject* bytes = PyUnicode_AsEncodedString(result, "utf-8", "surrogateescape");
    if (bytes == nullptr) return false;
    out->assign(PyBytes_AS_STRING(bytes));
    Py_DECREF(bytes);
    return true;
  }
  if (PyBytes_Check(result)) {
    out->assign(PyBytes_AS_STRING(result));
    return true;
  }
  return false;
}

inline void InternInPlace(PyObject** text) { PyUnicode_InternInPlace(text); }

// Python 3.8 and later set sys.argv to [''] themselves.
inline void SetEmptyArgv() {}

inline PyObject* SysObject(const char* name) { return PySys_GetObject(name); }

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, method, nullptr);
}

#else  // Python 2.7

inline PyObject* TextFromBytes(const char* text) { return PyString_FromString(text); }

// A str gives its bytes; a unicode object its text in the default encoding
// (an error is set when that encoding cannot represent it).
inline bool ResultText(PyObject* result, std::string* out) {
  if (!PyString_Check(result) && !PyUnicode_Check(result)) return false;
  const char* text = PyString_AsString(result);
  if (text == nullptr) return false;
  out->assign(text);
  return true;
}

inline void InternInPlace(PyObject** text) { PyString_InternInPlace(text); }

// An embedded Python 2 has no sys.argv, on which common modules fail.
inline void SetEmptyArgv() {
  char empty[] = "";
  char* argv[] = {empty};
  PySys_SetArgvEx(1, argv, 0);  // 0: leave sys.path alone
}

inline PyObject* SysObject(const char* name) { return PySys_GetObject(const_cast<char*>(name)); }

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, const_cast<char*>(method), nullptr);
}

#endif

}  // namespace qorv::py

#endif  // QORV_PYTHON_PYTHON_COMPAT_H
