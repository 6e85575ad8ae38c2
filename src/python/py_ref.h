// An owning Python reference: released exactly once, on every path.
#ifndef QORV_PYTHON_PY_REF_H
#define QORV_PYTHON_PY_REF_H

#include <Python.h>

#include <utility>

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (null allowed: a failed call).
  static PyRef Steal(PyObject* object) { return PyRef(object); }
  // Takes a reference of its own to a borrowed object.
  static PyRef Borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives the reference up, to a tuple or to the registry.
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

#endif  // QORV_PYTHON_PY_REF_H
