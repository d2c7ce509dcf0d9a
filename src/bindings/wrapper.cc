#include "bindings/wrapper.h"

#include <deque>
#include <string>
#include <vector>

namespace qm::py {

PyObject* internal_error_type() {
  static PyObject* type = PyErr_NewExceptionWithDoc(
      "quillmoor.InternalError",
      "An internal invariant of quillmoor failed. Derives from BaseException so that "
      "ordinary `except Exception` clauses do not hide it.",
      PyExc_BaseException, nullptr);
  return type;
}

PyObject* raise_internal(const char* what) {
  PyObject* type = internal_error_type();
  if (type == nullptr) return nullptr;  // creating the type failed: that error is set
  PyErr_SetString(type, what);
  return nullptr;
}

PyObject* raise_status(const Status& s) {
  switch (s.code()) {
    case ErrorCode::kOk:
      return raise_internal("an operation failed without a reason");
    case ErrorCode::kPattern:
      PyErr_SetString(PyExc_RuntimeError, s.message().c_str());
      return nullptr;
    case ErrorCode::kLetter:
      PyErr_SetString(PyExc_ValueError, s.message().c_str());
      return nullptr;
    case ErrorCode::kJson:
      PyErr_Format(PyExc_RuntimeError, "Failed to convert in JSON: %s", s.message().c_str());
      return nullptr;
    case ErrorCode::kInternal:
      return raise_internal(s.message().c_str());
  }
  return raise_internal(s.message().c_str());
}

namespace detail {

void abort_escaped(const char* what) {
  std::fprintf(stderr, "quillmoor: an internal failure escaped at the module boundary: %s\n",
               what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace detail

PyObject* str_list(const std::vector<std::string>& texts) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < texts.size(); ++i) {
    PyObject* o = PyUnicode_FromStringAndSize(texts[i].data(), static_cast<Py_ssize_t>(texts[i].size()));
    if (o == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), o);
  }
  return list.release();
}

PyMethodDef* build_methods(std::initializer_list<MethodSpec> specs, bool bound) {
  // Method tables and their docs live as long as the process (the type
  // objects that point at them are never freed).
  static std::deque<std::string> docs;
  auto* defs = new PyMethodDef[specs.size() + 1]();
  size_t i = 0;
  for (const MethodSpec& m : specs) {
    const char* doc = m.doc;
    if (m.sig != nullptr) {
      docs.push_back(text_signature(*m.sig, bound, m.doc));
      doc = docs.back().c_str();
    }
    defs[i++] = PyMethodDef{m.name, m.fn, m.flags, doc};
  }
  return defs;
}

PyTypeObject* create_type(const char* name, int basicsize, unsigned flags,
                          std::vector<PyType_Slot> slots) {
  slots.push_back({0, nullptr});
  PyType_Spec type_spec{name, basicsize, 0, flags, slots.data()};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace qm::py
