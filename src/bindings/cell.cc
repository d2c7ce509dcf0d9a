// Python class Cell: a handle onto one shared cell record of a sheet.
#include "bindings/cell_common.h"
#include "bindings/classes.h"
// After Python.h (pulled in above).
#include <datetime.h>

namespace qm::py {
namespace {

struct CellObject : Handle<CellRecord> {
  static constexpr const char* kName = "Cell";
  static PyTypeObject* type;
};
PyTypeObject* CellObject::type = nullptr;

constexpr char kValueArg[] = "value";

bool set_value(CellObject* self, std::string_view text) {
  CellValue v = parse_value(text);
  std::unique_lock w(self->rec->lock());
  self->rec->assign_value(std::move(v));
  return true;
}

bool set_formula(CellObject* self, std::string_view text) {
  std::unique_lock w(self->rec->lock());
  self->rec->assign_formula(text);
  return true;
}

bool set_style(CellObject* self, std::string_view text) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_style_id(text);
  return true;
}

bool set_hidden_value(CellObject* self, std::string_view text) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_hidden_value(text);
  return true;
}

PyObject* hidden_value(CellObject* self) {
  std::optional<std::string> h;
  {
    std::shared_lock r(self->rec->lock());
    if (const std::string* p = self->rec->hidden_value()) h = *p;
  }
  return new_optional_str(h ? &*h : nullptr);
}

PyObject* assign(CellObject* self, CellValue v) {
  std::unique_lock w(self->rec->lock());
  self->rec->assign_value(std::move(v));
  Py_RETURN_NONE;
}

constexpr const char* kValueParams[] = {"value"};
constexpr Signature kSetValueNumber{"Cell.set_value_number", kValueParams, 1};
constexpr Signature kSetValueInteger{"Cell.set_value_integer", kValueParams, 1};
constexpr Signature kSetValueBool{"Cell.set_value_bool", kValueParams, 1};
constexpr Signature kSetValueDatetime{"Cell.set_value_datetime", kValueParams, 1};

PyObject* set_value_number(CellObject* self, double v) { return assign(self, CellValue::number(v)); }
PyObject* set_value_integer(CellObject* self, Int32 v) {
  return assign(self, CellValue::integer(v.v));
}
PyObject* set_value_bool(CellObject* self, bool v) { return assign(self, CellValue::boolean(v)); }

}  // namespace

// A datetime.datetime (or subclass) without tzinfo.
struct NaiveDateTime {
  DateTime::Fields f{};
};

bool convert(PyObject* o, NaiveDateTime* out) {
  static bool imported = [] {
    PyDateTime_IMPORT;
    return PyDateTimeAPI != nullptr;
  }();
  if (!imported) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "datetime C API unavailable");
    return false;
  }
  if (!PyDateTime_Check(o)) {
    raise_cast_error(o, "datetime");
    return false;
  }
  if (PyDateTime_DATE_GET_TZINFO(o) != Py_None) {
    PyErr_SetString(PyExc_TypeError, "expected a datetime without tzinfo");
    return false;
  }
  out->f.year = PyDateTime_GET_YEAR(o);
  out->f.month = static_cast<uint8_t>(PyDateTime_GET_MONTH(o));
  out->f.day = static_cast<uint8_t>(PyDateTime_GET_DAY(o));
  out->f.hour = static_cast<uint8_t>(PyDateTime_DATE_GET_HOUR(o));
  out->f.minute = static_cast<uint8_t>(PyDateTime_DATE_GET_MINUTE(o));
  out->f.second = static_cast<uint8_t>(PyDateTime_DATE_GET_SECOND(o));
  out->f.nanos = static_cast<uint32_t>(PyDateTime_DATE_GET_MICROSECOND(o)) * 1000u;
  return true;
}

namespace {

PyObject* set_value_datetime(CellObject* self, NaiveDateTime v) {
  DateTime::Fields date_only = v.f;
  date_only.hour = date_only.minute = date_only.second = 0;
  date_only.nanos = 0;
  if (!DateTime::from_fields(date_only)) {
    PyErr_SetString(PyExc_ValueError, "invalid or out-of-range date");
    return nullptr;
  }
  std::optional<DateTime> dt = DateTime::from_fields(v.f);
  if (!dt) {
    PyErr_SetString(PyExc_ValueError, "invalid or out-of-range time");
    return nullptr;
  }
  return assign(self, CellValue::datetime(*dt));
}

PyObject* cell_repr(CellObject* self) { return cell_props::repr_with(self, "Cell"); }

PyTypeObject* make_cell_type() {
  using Self = CellObject;
  static PyGetSetDef getset[] = {
      QM_CELL_GETTER(Self, row),
      QM_CELL_GETTER(Self, column),
      QM_CELL_GETTER(Self, letter),
      {"value", getter<Self, cell_props::value<Self>>, setter<Self, set_value, kValueArg>, nullptr,
       nullptr},
      {"formula", getter<Self, cell_props::formula<Self>>, setter<Self, set_formula, kValueArg>,
       nullptr, nullptr},
      {"style", getter<Self, cell_props::style<Self>>, setter<Self, set_style, kValueArg>, nullptr,
       nullptr},
      QM_CELL_GETTER(Self, data_type),
      {"hidden_value", getter<Self, hidden_value>, setter<Self, set_hidden_value, kValueArg>,
       nullptr, nullptr},
      QM_CELL_GETTER(Self, is_formula),
      QM_CELL_KIND_GETTER(Self, is_value_bool, kBoolean),
      QM_CELL_KIND_GETTER(Self, is_value_numeric, kNumber),
      QM_CELL_KIND_GETTER(Self, is_value_integer, kInteger),
      QM_CELL_KIND_GETTER(Self, is_value_datetime, kDateTime),
      QM_CELL_KIND_GETTER(Self, is_value_empty, kEmpty),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;
  static PyMethodDef* methods = build_methods(
      {
          {&kSetValueNumber, "set_value_number",
           as_cfunction(method<Self, kSetValueNumber, set_value_number>), kFast,
           "Stores a float (anything float() accepts) as a Number; removes the formula."},
          {&kSetValueInteger, "set_value_integer",
           as_cfunction(method<Self, kSetValueInteger, set_value_integer>), kFast,
           "Stores a 32-bit signed int as an Integer; removes the formula."},
          {&kSetValueBool, "set_value_bool",
           as_cfunction(method<Self, kSetValueBool, set_value_bool>), kFast,
           "Stores a bool as a Boolean (an int is refused); removes the formula."},
          {&kSetValueDatetime, "set_value_datetime",
           as_cfunction(method<Self, kSetValueDatetime, set_value_datetime>), kFast,
           "Stores a naive datetime.datetime as a DateTime; removes the formula."},
      },
      /*bound=*/true);
  return create_handle_type<Self>("quillmoor.Cell", repr<Self, cell_repr>, getset, methods);
}

}  // namespace

PyTypeObject* cell_type() {
  if (CellObject::type == nullptr) CellObject::type = make_cell_type();
  return CellObject::type;
}

PyObject* new_cell(CellRef rec) {
  if (cell_type() == nullptr) return nullptr;
  return wrap<CellObject>(std::move(rec));
}

}  // namespace qm::py
