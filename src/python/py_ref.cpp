#include "python/py_ref.h"

#include <Python.h>

#include "requests/hot_path.h"

PyRef PyRef::Borrow(PyBorrowed object) {
  Py_XINCREF(object.get());
  return PyRef(object.get());
}

QORV_HOT_PATH(22)
void PyRef::Reset() { Py_CLEAR(object_); }

void ReleaseReference(PyObject* object) { Py_XDECREF(object); }

PendingError::PendingError() { PyErr_Fetch(&type_, &value_, &traceback_); }

// PyErr_Restore takes over the three references.
PendingError::~PendingError() { PyErr_Restore(type_, value_, traceback_); }
