// Property bodies shared by Sheet and ReadableSheet: both are handles onto a
// shared SheetRecord and read it the same way (under the sheet's shared lock,
// copying out before any Python object is built).
#ifndef QUILLMOOR_BINDINGS_SHEET_COMMON_H_
#define QUILLMOOR_BINDINGS_SHEET_COMMON_H_

#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/cell_common.h"
#include "bindings/wrapper.h"
#include "core/sheet.h"

namespace qm::py::sheet_props {

template <class Self>
PyObject* name(Self* self) {
  std::string s;
  {
    std::shared_lock r(self->rec->lock());
    s = self->rec->name;
  }
  return new_str(s);
}

template <class Self>
PyObject* sheet_state(Self* self) {
  std::string s;
  {
    std::shared_lock r(self->rec->lock());
    s = self->rec->sheet_state;
  }
  return new_str(s);
}

template <class Self>
PyObject* max_row(Self* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->cells.max_row());
}

template <class Self>
PyObject* max_column(Self* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->cells.max_column());
}

// Every cell, ordered by row then column, each wrapped by new_cell_object
// (Cell or ReadableCell) after the sheet lock is released.
template <class Self, PyObject* (*NewCell)(CellRef)>
PyObject* cells(Self* self) {
  std::vector<CellRef> sorted;
  {
    std::shared_lock r(self->rec->lock());
    sorted = self->rec->cells.sorted();
  }
  return list_of(sorted, NewCell);
}

// A new list of (start_row, end_row, start_col, end_col) tuples, in the
// order added.
template <class Self>
PyObject* merge_cells(Self* self) {
  std::vector<MergeRange> ranges;
  {
    std::shared_lock r(self->rec->lock());
    ranges = self->rec->merge_cells;
  }
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(ranges.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const MergeRange& m = ranges[i];
    PyObject* t = Py_BuildValue("(kkkk)", static_cast<unsigned long>(m.start_row),
                                static_cast<unsigned long>(m.end_row),
                                static_cast<unsigned long>(m.start_col),
                                static_cast<unsigned long>(m.end_col));
    if (t == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), t);
  }
  return list.release();
}

// The value text of the cell at (row, col); for a coordinate without a cell
// the value text of the sheet's fallback value (""). Keeps the interpreter
// lock: a keyed lookup, no scan.
template <class Self>
PyObject* get_value_cell(Self* self, Row row, Col col) {
  ValueTextBuffer buf;
  std::string text;
  {
    std::shared_lock r(self->rec->lock());
    if (const CellRecord* c = self->rec->find_cell(row.v, col.v)) {
      std::shared_lock rc(c->lock());
      text.assign(value_text(c->value(), buf));
    } else {
      text.assign(value_text(self->rec->fallback_value, buf));
    }
  }
  return new_str(text);
}

// "<class> (<name>) cells: <count>"
template <class Self>
PyObject* repr_with(Self* self, std::string_view class_name) {
  std::string s(class_name);
  {
    std::shared_lock r(self->rec->lock());
    s += " (";
    s += self->rec->name;
    s += ") cells: ";
    s += std::to_string(self->rec->cells.size());
  }
  return new_str(s);
}

}  // namespace qm::py::sheet_props

#endif  // QUILLMOOR_BINDINGS_SHEET_COMMON_H_
