// The small differences between the Python 2.7 and Python 3 builds, and
// between the Python 3 versions, in one place. Whole subsystems that differ
// (starting the interpreter, exit handlers, compiling scripts) have a source
// file per Python line instead: python_line.h.
//
// Request texts are bytes. Python 2 takes them as str (bytes) unchanged. On
// Python 3 they become str, decoded as UTF-8 with "surrogateescape", so every
// byte string survives the round trip; a str result is encoded back the same
// way, and a bytes result gives its bytes.
#ifndef QORV_PYTHON_PYTHON_COMPAT_H
#define QORV_PYTHON_PYTHON_COMPAT_H

#include <Python.h>
#if PY_MAJOR_VERSION < 3
#include <pythread.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

#include "python/py_ref.h"

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
inline PyObject* TextFromBytes(const char* text, std::size_t length) {
  return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), "surrogateescape");
}

// The answer text of a call's result, in place: the NUL-terminated bytes of
// a str (UTF-8, or the bytes that "surrogateescape" stands for) or a bytes
// object, with their length. *owner holds the object that holds them when it
// is not the result itself. Null for a result that has no text (an error is
// set only when a str could not be encoded).
inline const char* ResultChars(PyObject* result, PyRef* owner, Py_ssize_t* length) {
  if (PyUnicode_Check(result)) {
    // The UTF-8 form is cached in the object, and free for ASCII text.
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(result, length)) return utf8;
    PyErr_Clear();  // lone surrogates: encode them back as the bytes they stand for
    *owner = PyRef::Steal(PyUnicode_AsEncodedString(result, "utf-8", "surrogateescape"));
    if (!*owner) return nullptr;
    *length = PyBytes_GET_SIZE(owner->get());
    return PyBytes_AS_STRING(owner->get());
  }
  if (PyBytes_Check(result)) {
    *length = PyBytes_GET_SIZE(result);
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

// The item of `key`, or null (an error set only when the lookup failed). The
// Python 3 call skips the saving and restoring of the error state that
// PyDict_GetItem does on every lookup.
inline PyObject* DictItem(PyObject* dict, PyObject* key) { return PyDict_GetItemWithError(dict, key); }

inline Py_ssize_t DictSize(PyObject* dict) { return PyDict_GET_SIZE(dict); }

// Python 3 tells a dictionary that has not changed by its version tag
// (DictVersion); there are no entries to hold on to.
inline void* DictEntryOf(PyObject*, PyObject*, PyRef*) { return nullptr; }
inline bool DictEntryHolds(PyObject*, const void*, PyObject*, PyObject*) { return false; }

// A name to look up again and again in Python's own dictionaries (new
// reference). Python 3 looks up by version tag; the name is itself.
inline PyRef LookupKey(PyBorrowed name) { return PyRef::Borrow(name); }

inline PyObject* SysObject(const char* name) { return PySys_GetObject(name); }
inline bool SetSysObject(const char* name, PyObject* value) { return PySys_SetObject(name, value) == 0; }

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, method, nullptr);
}

// Calls `callable` with positional arguments, without building a tuple where
// the Python version can. `args` has one free slot before args[0], which the
// callee may use (to prepend a bound method's self).
inline PyObject* CallWithArguments(PyObject* callable, PyObject** args, std::size_t count) {
#if PY_MINOR_VERSION >= 9
  return PyObject_Vectorcall(callable, args, count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#else
  return _PyObject_Vectorcall(callable, args, count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#endif
}

// Calls attribute `name` of `object` with positional `args`, which have two
// free slots before args[0]. From Python 3.9 a method is looked up and called
// in one step, without a bound method made for the call; the errors are
// getattr's and the call's own either way.
inline PyObject* CallAttributeWithArguments(PyObject* object, PyObject* name, PyObject** args,
                                            std::size_t count) {
#if PY_MINOR_VERSION >= 9
  args[-1] = object;
  return PyObject_VectorcallMethod(name, args - 1, (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#else
  PyRef attribute = PyRef::Steal(PyObject_GetAttr(object, name));
  if (!attribute) return nullptr;
  return _PyObject_Vectorcall(attribute.get(), args, count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
#endif
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

inline PyObject* EvalCode(PyObject* code, PyObject* globals) {
  return PyEval_EvalCode(code, globals, globals);
}

// The C module behind the signal module.
constexpr const char kSignalModule[] = "_signal";

using ThreadIdent = unsigned long;

// Asks thread `id` to raise `exception` (null: forgets one asked for) at the
// next bytecode it runs; the lock must be held.
inline void RaiseInThread(ThreadIdent id, PyObject* exception) { PyThreadState_SetAsyncExc(id, exception); }

// Made by a thread that runs no Python before it waits for the lock to stop
// the thread that runs: Python 3 hands the lock over on request by itself.
class LockRequest {
 public:
  LockRequest() {}
  ~LockRequest() {}
};

#else  // Python 2.7

inline PyObject* TextFromBytes(const char* text, std::size_t length) {
  return PyString_FromStringAndSize(text, static_cast<Py_ssize_t>(length));
}

// A str gives its bytes; a unicode object its text in the default encoding
// (an error is set when that encoding cannot represent it).
inline const char* ResultChars(PyObject* result, PyRef* owner, Py_ssize_t* length) {
  if (PyString_Check(result)) {
    *length = PyString_GET_SIZE(result);
    return PyString_AS_STRING(result);
  }
  if (!PyUnicode_Check(result)) return nullptr;
  *owner = PyRef::Steal(PyUnicode_AsEncodedString(result, nullptr, nullptr));  // default encoding
  if (!*owner) return nullptr;
  *length = PyString_GET_SIZE(owner->get());
  return PyString_AS_STRING(owner->get());
}

// Python 2's dicts carry no version.
inline bool DictVersion(PyObject*, std::uint64_t*) { return false; }

inline PyObject* DictItem(PyObject* dict, PyObject* key) { return PyDict_GetItem(dict, key); }

inline Py_ssize_t DictSize(PyObject* dict) { return reinterpret_cast<PyDictObject*>(dict)->ma_used; }

// Where `dict` holds `key`, or null. An entry stays where it is until the
// dictionary is resized, so DictEntryHolds can later tell without a lookup
// that the dictionary still maps the key to the same value. *heldKey becomes
// the dictionary's own key object, which that check compares by identity;
// the reference keeps its address from being reused by another object.
inline void* DictEntryOf(PyObject* dict, PyObject* key, PyRef* heldKey) {
  const long hash = PyObject_Hash(key);
  if (hash == -1) {
    PyErr_Clear();
    return nullptr;
  }
  auto* table = reinterpret_cast<PyDictObject*>(dict);
  PyDictEntry* entry = table->ma_lookup(table, key, hash);
  if (entry == nullptr || entry->me_value == nullptr) {
    PyErr_Clear();
    return nullptr;
  }
  *heldKey = PyRef::Borrow(PyBorrowed(entry->me_key));
  return entry;
}

// Whether `entry` (from DictEntryOf) is still an entry of `dict`'s table
// that maps `key` to `value`: a dictionary holds a key object once, so it
// then maps that key to that value.
inline bool DictEntryHolds(PyObject* dict, const void* entry, PyObject* key, PyObject* value) {
  const auto* table = reinterpret_cast<const PyDictObject*>(dict);
  const auto at = reinterpret_cast<std::uintptr_t>(entry);
  const auto first = reinterpret_cast<std::uintptr_t>(table->ma_table);
  const std::uintptr_t offset = at - first;  // wraps round when below the table
  if (offset > static_cast<std::uintptr_t>(table->ma_mask) * sizeof(PyDictEntry) ||
      offset % sizeof(PyDictEntry) != 0) {
    return false;
  }
  const auto* held = static_cast<const PyDictEntry*>(entry);
  return held->me_key == key && held->me_value == value;
}

// A name to look up again and again in Python's own dictionaries (new
// reference): the interned copy. The keys of sys.modules and of a module's
// namespace are interned, and a dictionary compares keys by identity before
// it compares their bytes. Python 2 frees an interned string as any other
// once nothing holds it.
inline PyRef LookupKey(PyBorrowed name) {
  PyObject* key = name.get();
  Py_INCREF(key);
  PyString_InternInPlace(&key);
  return PyRef::Steal(key);
}

inline PyObject* SysObject(const char* name) { return PySys_GetObject(const_cast<char*>(name)); }
inline bool SetSysObject(const char* name, PyObject* value) {
  return PySys_SetObject(const_cast<char*>(name), value) == 0;
}

inline PyObject* CallMethodNoArgs(PyObject* object, const char* method) {
  return PyObject_CallMethod(object, const_cast<char*>(method), nullptr);
}

// Python 2 calls with a tuple; the free slot before args[0] is not used.
inline PyObject* CallWithArguments(PyObject* callable, PyObject** args, std::size_t count) {
  PyRef tuple = PyRef::Steal(PyTuple_New(static_cast<Py_ssize_t>(count)));
  if (!tuple) return nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    Py_INCREF(args[i]);
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), args[i]);  // the tuple takes this reference
  }
  return PyObject_Call(callable, tuple.get(), nullptr);
}

// Calls attribute `name` of `object` with positional `args` (two free slots
// before args[0], unused here).
inline PyObject* CallAttributeWithArguments(PyObject* object, PyObject* name, PyObject** args,
                                            std::size_t count) {
  PyRef attribute = PyRef::Steal(PyObject_GetAttr(object, name));
  if (!attribute) return nullptr;
  return CallWithArguments(attribute.get(), args, count);
}

inline PyThreadState* CurrentThreadState() { return _PyThreadState_Current; }

inline PyObject* EvalCode(PyObject* code, PyObject* globals) {
  return PyEval_EvalCode(reinterpret_cast<PyCodeObject*>(code), globals, globals);
}

constexpr const char kSignalModule[] = "signal";

using ThreadIdent = long;

// Python 2 looks for an exception asked of a thread only every check
// interval (100 bytecodes, which may take a second of time.sleep calls): a
// zero ticker makes the running thread look at its next bytecode. Setting it
// needs no lock, as a signal's pending call does.
inline void RaiseInThread(ThreadIdent id, PyObject* exception) {
  PyThreadState_SetAsyncExc(id, exception);
  _Py_Ticker = 0;
}

// Python 2 gives its lock up only every check interval, and the thread that
// gives it up takes it straight back, mostly before a waiting thread wakes:
// the watchdog or PyInterrupt could wait seconds for it. While one of them
// waits, the running thread gives the lock up at every bytecode, which lets
// the waiting thread in within a moment; the interval is put back after.
class LockRequest {
 public:
  LockRequest() : interval_(_Py_CheckInterval) {
    _Py_CheckInterval = 1;
    _Py_Ticker = 0;
  }
  ~LockRequest() {
    if (_Py_CheckInterval == 1) _Py_CheckInterval = interval_;  // unless another request put it back
  }
  LockRequest(const LockRequest&) = delete;
  LockRequest& operator=(const LockRequest&) = delete;

 private:
  int interval_;
};

#endif

inline PyObject* TextFromBytes(const char* text) { return TextFromBytes(text, std::strlen(text)); }

// The answer text of a result copied into *out, up to its first NUL; false
// when the result has no text.
inline bool ResultText(PyObject* result, std::string* out) {
  PyRef owner;
  Py_ssize_t length = 0;
  const char* text = ResultChars(result, &owner, &length);
  if (text == nullptr) return false;
  out->assign(text);
  return true;
}

}  // namespace qorv::py

#endif  // QORV_PYTHON_PYTHON_COMPAT_H
