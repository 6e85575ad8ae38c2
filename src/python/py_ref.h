// References to Python objects, held by type: PyRef owns one reference and
// releases it exactly once, on every path; PyBorrowed names a reference that
// someone else owns and only lends. Neither needs Python.h, so that the rest
// of the plugin can hold Python results without seeing the C API.
#ifndef QORV_PYTHON_PY_REF_H
#define QORV_PYTHON_PY_REF_H

#include <utility>

struct _object;  // Python's object type (PyObject)

// A reference lent by its owner (a container, a module, the registry) for as
// long as the owner keeps it. Never released by its holder.
class PyBorrowed {
 public:
  PyBorrowed() = default;
  explicit PyBorrowed(_object* object) : object_(object) {}
  _object* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  _object* object_ = nullptr;
};

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (null allowed: a failed call).
  static PyRef Steal(_object* object) { return PyRef(object); }
  // Takes a reference of its own to a lent object.
  static PyRef Borrow(PyBorrowed object);

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() {
    if (object_ != nullptr) Reset();  // a moved-from or failed reference costs no call
  }

  _object* get() const { return object_; }
  PyBorrowed borrowed() const { return PyBorrowed(object_); }
  explicit operator bool() const { return object_ != nullptr; }
  // Gives the reference up, to a tuple or to the registry.
  [[nodiscard]] _object* release() { return std::exchange(object_, nullptr); }
  // Releases the reference now (the interpreter must still run).
  void Reset();

 private:
  explicit PyRef(_object* object) : object_(object) {}
  _object* object_ = nullptr;
};

// Releases one reference that a holder of opaque pointers (the registry) was
// given; the lock must be held.
void ReleaseReference(_object* object);

// Keeps the Python error that is pending when it is made, with the error
// indicator cleared, while cleanup code runs; puts it back when it goes.
class PendingError {
 public:
  PendingError();
  ~PendingError();
  PendingError(const PendingError&) = delete;
  PendingError& operator=(const PendingError&) = delete;

 private:
  _object* type_ = nullptr;
  _object* value_ = nullptr;
  _object* traceback_ = nullptr;
};

#endif  // QORV_PYTHON_PY_REF_H
