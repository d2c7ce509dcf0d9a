// PyRef: owns one strong reference to a Python object. Replaces the
// Py_DECREF / goto-error ladders of hand-written C-API code.
//
//   PyRef list = PyRef::steal(PyList_New(0));
//   if (!list) return nullptr;          // exception already set
//   return list.release();              // hand the reference to the caller
#ifndef QUILLMOOR_BINDINGS_PYREF_H_
#define QUILLMOOR_BINDINGS_PYREF_H_

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace qm::py {

class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(const PyRef& o) noexcept : p_(o.p_) { Py_XINCREF(p_); }
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~PyRef() { Py_XDECREF(p_); }
  PyRef& operator=(PyRef o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  // Takes over a new reference (as returned by most C-API calls); null stays null.
  static PyRef steal(PyObject* p) noexcept {
    PyRef r;
    r.p_ = p;
    return r;
  }
  // Adds a reference to a borrowed object.
  static PyRef borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return steal(p);
  }

  PyObject* get() const noexcept { return p_; }
  // Gives the reference to the caller ("returns a new reference").
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_PYREF_H_
