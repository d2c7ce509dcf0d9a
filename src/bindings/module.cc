// The module entry point: builds `_quillmoor` once per process, in a fixed
// order, with its `readable` submodule.
#include <atomic>
#include <cstdint>

#include "bindings/classes.h"
#include "bindings/wrapper.h"
#include "core/coordinate.h"

namespace qm::py {
namespace {

constexpr const char kVersion[] = "0.12.3";

PyObject* version(PyObject*, PyObject*) {
  return detail::guarded<PyObject*>(nullptr, [] { return PyUnicode_FromString(kVersion); });
}

constexpr const char* kColParams[] = {"col"};
constexpr Signature kColumnNumberToLetter{"column_number_to_letter", kColParams, 1};
PyObject* column_number_to_letter(Col col) {
  char buf[4];
  size_t n = column_letters(col.v, buf);
  return PyUnicode_FromStringAndSize(buf, static_cast<Py_ssize_t>(n));
}

constexpr const char* kRowColParams[] = {"row", "col"};
constexpr Signature kGetLetterCoordinate{"get_letter_coordinate", kRowColParams, 2};
PyObject* get_letter_coordinate(Row row, Col col) {
  std::string s = letter_coordinate(row.v, col.v);
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyMethodDef* main_functions() {
  static PyMethodDef* defs = build_methods(
      {
          {nullptr, "version", reinterpret_cast<PyCFunction>(version), METH_NOARGS,
           "version()\n--\n\nReturns the version of the underlying vostrel library.\n\n"
           "Returns\n-------\nversion : str\n  The version of the underlying vostrel library.\n"},
          {&kColumnNumberToLetter, "column_number_to_letter",
           as_cfunction(function<kColumnNumberToLetter, column_number_to_letter>),
           METH_FASTCALL | METH_KEYWORDS, "Преобразование номера колонки в букву."},
          {&kGetLetterCoordinate, "get_letter_coordinate",
           as_cfunction(function<kGetLetterCoordinate, get_letter_coordinate>),
           METH_FASTCALL | METH_KEYWORDS, "Преобразование номера колонки в координату."},
      },
      /*bound=*/false);
  return defs;
}

// The one add step: append the name to the module's __all__ (creating the
// list first if needed), then set the attribute. Steals `value`.
bool add(PyObject* module, const char* name, PyObject* value) {
  PyRef v = PyRef::steal(value);
  if (!v) return false;
  PyObject* dict = PyModule_GetDict(module);  // borrowed
  PyObject* all = PyDict_GetItemString(dict, "__all__");  // borrowed
  if (all == nullptr) {
    PyRef fresh = PyRef::steal(PyList_New(0));
    if (!fresh || PyDict_SetItemString(dict, "__all__", fresh.get()) < 0) return false;
    all = fresh.get();
  }
  PyRef key = PyRef::steal(PyUnicode_FromString(name));
  if (!key || PyList_Append(all, key.get()) < 0) return false;
  return PyObject_SetAttr(module, key.get(), v.get()) == 0;
}

bool add_type(PyObject* module, PyTypeObject* type) {
  if (type == nullptr) return false;
  Py_INCREF(type);
  return add(module, type_name(type).data(), reinterpret_cast<PyObject*>(type));
}

// Adds each function of `defs` under its own name, reporting `module_name`
// as its __module__.
bool add_functions(PyObject* module, PyMethodDef* defs, const char* module_name) {
  PyRef modname = PyRef::steal(PyUnicode_FromString(module_name));
  if (!modname) return false;
  for (PyMethodDef* d = defs; d->ml_name != nullptr; ++d) {
    if (!add(module, d->ml_name, PyCFunction_NewEx(d, nullptr, modname.get()))) return false;
  }
  return true;
}

PyObject* build_readable() {
  PyRef sub = PyRef::steal(PyModule_New("readable"));
  if (!sub) return nullptr;
  for (PyTypeObject* (*make)() : {finder_type, readable_sheet_type, readable_cell_type}) {
    if (!add_type(sub.get(), make())) return nullptr;
  }
  if (!add_functions(sub.get(), readable_functions(), "readable")) return nullptr;
  return sub.release();
}

PyObject* build_module(PyModuleDef* def) {
  PyRef m = PyRef::steal(PyModule_Create(def));
  if (!m) return nullptr;
  // The module reports its own short name, whatever package it sits in.
  PyRef name = PyRef::steal(PyUnicode_FromString("_quillmoor"));
  if (!name || PyObject_SetAttrString(m.get(), "__name__", name.get()) < 0) return nullptr;
  if (!add(m.get(), "__version__", PyUnicode_FromString(kVersion))) return nullptr;
  for (PyTypeObject* (*make)() : {service_type, book_type, sheet_type, cell_type, comment_type}) {
    if (!add_type(m.get(), make())) return nullptr;
  }
  if (!add_functions(m.get(), main_functions(), "_quillmoor")) return nullptr;
  if (!add(m.get(), "DEFAULT_ROW_HEIGHT", PyFloat_FromDouble(20.0))) return nullptr;
  if (!add(m.get(), "DEFAULT_COLUMN_WIDTH", PyFloat_FromDouble(22.5))) return nullptr;
  PyRef sub = PyRef::steal(build_readable());
  if (!sub) return nullptr;
  if (!add(m.get(), "readable", PyRef::borrow(sub.get()).release())) return nullptr;
  PyRef modules = PyRef::steal(PyImport_ImportModule("sys"));
  if (!modules) return nullptr;
  modules = PyRef::steal(PyObject_GetAttrString(modules.get(), "modules"));
  if (!modules) return nullptr;
  if (PyObject_SetItem(modules.get(), PyRef::steal(PyUnicode_FromString("quillmoor.readable")).get(),
                       sub.get()) < 0)
    return nullptr;
  return m.release();
}

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_quillmoor",
    "",
    0,  // no per-module state: another interpreter re-runs init, which refuses it
    nullptr,
};

std::atomic<int64_t> g_owner_interpreter{-1};
PyObject* g_module = nullptr;

PyObject* init() {
  PyInterpreterState* interp = PyInterpreterState_Get();
  int64_t id = PyInterpreterState_GetID(interp);
  if (id < 0) {
    if (!PyErr_Occurred())
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    return nullptr;
  }
  int64_t expected = -1;
  if (!g_owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "quillmoor does not support subinterpreters: it is already loaded in "
                    "another interpreter of this process");
    return nullptr;
  }
  if (g_module != nullptr) return PyRef::borrow(g_module).release();
  PyObject* m = build_module(&g_module_def);
  if (m == nullptr) return nullptr;
  g_module = PyRef::borrow(m).release();  // kept for the process
  return m;
}

}  // namespace
}  // namespace qm::py

PyMODINIT_FUNC PyInit__quillmoor() {
  return qm::py::detail::guarded<PyObject*>(nullptr, [] { return qm::py::init(); });
}
