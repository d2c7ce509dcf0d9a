// Temporary scaffolding while the classes land.
#include "bindings/classes.h"
namespace qm::py {
static PyTypeObject* pending(const char* name) {
  PyType_Slot slots[] = {{0, nullptr}};
  PyType_Spec spec{name, sizeof(PyObject), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}
#define PENDING(fn, name) PyTypeObject* fn() { static PyTypeObject* t = pending(name); return t; }
PENDING(service_type, "quillmoor.Service")
PENDING(book_type, "quillmoor.Book")
PENDING(sheet_type, "quillmoor.Sheet")
PENDING(comment_type, "quillmoor.Comment")
PENDING(finder_type, "quillmoor.readable.Finder")
PENDING(readable_sheet_type, "quillmoor.readable.ReadableSheet")
PENDING(readable_cell_type, "quillmoor.readable.ReadableCell")
PyMethodDef* readable_functions() { static PyMethodDef d[] = {{nullptr, nullptr, 0, nullptr}}; return d; }
}
