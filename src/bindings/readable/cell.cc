// Python class ReadableCell: a read-only handle onto one shared cell record,
// made by the readable searches (never from Python). Its properties are the
// reading half of Cell's, from the same bodies.
#include "bindings/cell_common.h"
#include "bindings/classes.h"
#include "bindings/readable/readable.h"

namespace qm::py {

PyTypeObject* ReadableCellObject::type = nullptr;

// The __qualname__ of an object's type as UTF-8 (the repr of every readable
// class starts with it, so a renamed type reports its own name). Returns
// false with an exception set.
bool type_qualname(PyObject* self, std::string* out) {
  PyRef q = PyRef::steal(PyType_GetQualName(Py_TYPE(self)));
  if (!q) return false;
  std::string_view s;
  if (!convert(q.get(), &s)) return false;
  out->assign(s);
  return true;
}

namespace {

using Self = ReadableCellObject;

// "ReadableCell, Coords: Coordinate { row: 7, column: 2 }"
PyObject* cell_repr(Self* self) {
  std::string name;
  if (!type_qualname(reinterpret_cast<PyObject*>(self), &name)) return nullptr;
  return cell_props::repr_with(self, name);
}

PyTypeObject* make_readable_cell_type() {
  static PyGetSetDef getset[] = {
      QM_CELL_GETTER(Self, row),
      QM_CELL_GETTER(Self, column),
      QM_CELL_GETTER(Self, letter),
      QM_CELL_GETTER(Self, value),
      QM_CELL_GETTER(Self, formula),
      QM_CELL_GETTER(Self, style),
      QM_CELL_GETTER(Self, data_type),
      QM_CELL_GETTER(Self, is_formula),
      QM_CELL_KIND_GETTER(Self, is_value_bool, kBoolean),
      QM_CELL_KIND_GETTER(Self, is_value_numeric, kNumber),
      QM_CELL_KIND_GETTER(Self, is_value_integer, kInteger),
      QM_CELL_KIND_GETTER(Self, is_value_datetime, kDateTime),
      QM_CELL_KIND_GETTER(Self, is_value_empty, kEmpty),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  return create_handle_type<Self>("quillmoor.readable.ReadableCell", repr<Self, cell_repr>, getset,
                                 nullptr);
}

}  // namespace

PyTypeObject* readable_cell_type() {
  if (ReadableCellObject::type == nullptr) ReadableCellObject::type = make_readable_cell_type();
  return ReadableCellObject::type;
}

PyObject* new_readable_cell(CellRef rec) {
  if (readable_cell_type() == nullptr) return nullptr;
  return wrap<ReadableCellObject>(std::move(rec));
}

}  // namespace qm::py
