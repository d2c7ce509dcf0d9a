// Property bodies shared by Cell and ReadableCell: both are handles onto a
// shared CellRecord and read it the same way (under the record's shared lock,
// copying out before any Python object is built).
#ifndef QUILLMOOR_BINDINGS_CELL_COMMON_H_
#define QUILLMOOR_BINDINGS_CELL_COMMON_H_

#include <mutex>
#include <shared_mutex>
#include <string>

#include "bindings/wrapper.h"
#include "core/coordinate.h"
#include "core/records.h"
#include "core/value.h"

namespace qm::py {

inline PyObject* new_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

inline PyObject* new_optional_str(const std::string* s) {
  if (s == nullptr) Py_RETURN_NONE;
  return new_str(*s);
}

namespace cell_props {

template <class Self>
PyObject* row(Self* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->row());
}

template <class Self>
PyObject* column(Self* self) {
  std::shared_lock r(self->rec->lock());
  return PyLong_FromUnsignedLong(self->rec->column());
}

template <class Self>
PyObject* letter(Self* self) {
  Coordinate c;
  {
    std::shared_lock r(self->rec->lock());
    c = self->rec->coordinate();
  }
  return new_str(letter_coordinate(c.row, c.column));
}

template <class Self>
PyObject* value(Self* self) {
  // Copy the text out under the lock; build the str after releasing it.
  ValueTextBuffer buf;
  std::string text;
  {
    std::shared_lock r(self->rec->lock());
    text.assign(value_text(self->rec->value(), buf));
  }
  return new_str(text);
}

template <class Self>
PyObject* formula(Self* self) {
  std::optional<std::string> f;
  {
    std::shared_lock r(self->rec->lock());
    if (const std::string* p = self->rec->formula()) f = *p;
  }
  return new_optional_str(f ? &*f : nullptr);
}

template <class Self>
PyObject* style(Self* self) {
  std::optional<std::string> s;
  {
    std::shared_lock r(self->rec->lock());
    if (const std::string* p = self->rec->style_id()) s = *p;
  }
  return new_optional_str(s ? &*s : nullptr);
}

template <class Self>
PyObject* data_type(Self* self) {
  std::string dt;
  {
    std::shared_lock r(self->rec->lock());
    dt.assign(self->rec->data_type());
  }
  return new_str(dt);
}

template <class Self>
PyObject* is_formula(Self* self) {
  std::shared_lock r(self->rec->lock());
  return PyBool_FromLong(self->rec->is_formula());
}

template <ValueKind K>
struct IsKind {
  template <class Self>
  static PyObject* get(Self* self) {
    std::shared_lock r(self->rec->lock());
    return PyBool_FromLong(self->rec->value().kind() == K);
  }
};

// "<class>, Coords: Coordinate { row: 7, column: 2 }"
template <class Self>
PyObject* repr_with(Self* self, std::string_view class_name) {
  Coordinate c;
  {
    std::shared_lock r(self->rec->lock());
    c = self->rec->coordinate();
  }
  std::string s(class_name);
  s += ", Coords: ";
  s += debug_string(c);
  return new_str(s);
}

}  // namespace cell_props

// The read-only properties both cell classes share, in their table order
// around the setters that only Cell has.
#define QM_CELL_GETTER(Self, name) \
  PyGetSetDef { #name, getter<Self, cell_props::name<Self>>, nullptr, nullptr, nullptr }
#define QM_CELL_KIND_GETTER(Self, name, kind)                                               \
  PyGetSetDef {                                                                            \
    #name, getter<Self, cell_props::IsKind<ValueKind::kind>::get<Self>>, nullptr, nullptr, \
        nullptr                                                                            \
  }

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_CELL_COMMON_H_
