// Adaptation of foreign cells and sheets. The foreign value of a field is
// read into a small stack struct (Foreign) and converted at once; nothing of
// it outlives the conversion of one field, except the value of a cell, whose
// meaning depends on the data type read two fields later.
#include "bindings/readable/adapt.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "bindings/classes.h"
#include "core/value.h"

namespace qm::py {

namespace {

// ---- field lookup ------------------------------------------------------------

enum FieldId {
  kRow,
  kColumn,
  kValue,
  kFormula,
  kDataType,
  kStyleId,
  kName,
  kSheetState,
  kMergeCells,
  kCells,
  kFieldCount,
};
constexpr const char* kFieldNames[kFieldCount] = {
    "row",  "column",      "value",       "formula", "data_type",
    "style_id", "name", "sheet_state", "merge_cells", "cells",
};

// The field names as interned str objects, made once and kept for the
// process (lookups by an interned key skip hashing and mostly comparing).
PyObject* const* field_names() {
  static PyObject* names[kFieldCount] = {};
  static bool ready = false;
  if (!ready) {
    for (int i = 0; i < kFieldCount; ++i) {
      if (names[i] == nullptr) names[i] = PyUnicode_InternFromString(kFieldNames[i]);
      if (names[i] == nullptr) return nullptr;
    }
    ready = true;
  }
  return names;
}

// Bumped whenever reading a value calls back into Python (str(), a float
// subclass's conversion): such code may change the object being adapted.
// Only touched with the interpreter lock held.
uint64_t g_python_calls = 0;

// Reads the fields of one foreign object: item access for a dict (or
// subclass, through its own __getitem__), attribute access otherwise.
//
// An exact dict is first walked once with PyDict_Next, picking the entries
// whose key is one of the interned field names (as keys written in source
// code are): one pass over the entries instead of one hash lookup per field.
// What the walk found stands for a lookup only while no Python code has run
// since (g_python_calls unchanged), so the fields read exactly as separate
// lookups would; a field the walk missed is looked up as usual.
class Fields {
 public:
  Fields(PyObject* const* names, PyObject* obj, FieldId first, FieldId last)
      : names_(names),
        obj_(obj),
        mode_(PyDict_CheckExact(obj) ? Mode::kDict
              : PyDict_Check(obj)    ? Mode::kDictSubclass
                                     : Mode::kAttribute) {
    if (mode_ != Mode::kDict) return;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(obj, &pos, &key, &value)) {
      for (int id = first; id <= last; ++id) {
        if (key == names_[id]) {
          walked_[id] = value;
          break;
        }
      }
    }
    calls_at_walk_ = g_python_calls;
  }

  // A new reference to the field, or null with the lookup's exception set.
  PyRef get(FieldId id) const {
    PyObject* key = names_[id];
    switch (mode_) {
      case Mode::kDict: {
        if (walked_[id] != nullptr && calls_at_walk_ == g_python_calls)
          return PyRef::borrow(walked_[id]);
        PyObject* v = PyDict_GetItemWithError(obj_, key);  // borrowed
        if (v != nullptr) return PyRef::borrow(v);
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key);
        return PyRef();
      }
      case Mode::kDictSubclass:
        return PyRef::steal(PyObject_GetItem(obj_, key));
      case Mode::kAttribute:
        return PyRef::steal(PyObject_GetAttr(obj_, key));
    }
    return PyRef();
  }

 private:
  enum class Mode { kDict, kDictSubclass, kAttribute };
  PyObject* const* names_;  // field_names()
  PyObject* obj_;
  Mode mode_;
  PyObject* walked_[kFieldCount] = {};  // borrowed, valid while calls_at_walk_ holds
  uint64_t calls_at_walk_ = 0;
};

// ---- foreign values --------------------------------------------------------------

enum class Kind : uint8_t { kNothing, kBool, kInt, kFloat, kStr, kList };

// One field value as read from Python. A kStr text is a view into `owner`
// (the str itself or the result of str()); a kList keeps its text form.
struct Foreign {
  Kind kind = Kind::kNothing;
  bool b = false;
  int64_t i = 0;
  double d = 0;
  std::string_view str;
  PyRef owner;
  std::string list_text;
};

bool read_foreign(PyObject* v, Foreign* out);
bool append_list_text(PyObject* list, std::string* out);

// The text form of a value; views into f or buf.
std::string_view text_of(const Foreign& f, ValueTextBuffer& buf) {
  switch (f.kind) {
    case Kind::kNothing:
      return {};
    case Kind::kBool:
      return f.b ? "true" : "false";
    case Kind::kInt: {
      auto r = std::to_chars(buf.data, buf.data + sizeof(buf.data), f.i);
      return std::string_view(buf.data, static_cast<size_t>(r.ptr - buf.data));
    }
    case Kind::kFloat:
      return number_text(f.d, buf);
    case Kind::kStr:
      return f.str;
    case Kind::kList:
      return f.list_text;
  }
  return {};
}

bool set_str(PyObject* s, PyRef owner, Foreign* out) {
  Py_ssize_t n;
  const char* p = PyUnicode_AsUTF8AndSize(s, &n);  // UnicodeEncodeError for lone surrogates
  if (p == nullptr) return false;
  out->kind = Kind::kStr;
  out->str = std::string_view(p, static_cast<size_t>(n));
  out->owner = std::move(owner);
  return true;
}

// Reads v by the foreign value rules; the first rule that applies wins.
// False with the exception set (OverflowError, UnicodeEncodeError, whatever
// str() raises, RecursionError for a list that contains itself).
bool read_foreign(PyObject* v, Foreign* out) {
  if (v == Py_None) {
    out->kind = Kind::kNothing;
    return true;
  }
  if (Py_IS_TYPE(v, &PyBool_Type)) {
    out->kind = Kind::kBool;
    out->b = v == Py_True;
    return true;
  }
  if (PyLong_Check(v)) {
    long long x = PyLong_AsLongLong(v);  // OverflowError beyond 64 bits
    if (x == -1 && PyErr_Occurred()) return false;
    out->kind = Kind::kInt;
    out->i = x;
    return true;
  }
  if (PyFloat_Check(v)) {
    double d;
    if (PyFloat_CheckExact(v)) {
      d = PyFloat_AS_DOUBLE(v);
    } else {
      ++g_python_calls;
      d = PyFloat_AsDouble(v);
    }
    if (d == -1.0 && PyErr_Occurred()) return false;
    out->kind = Kind::kFloat;
    out->d = d;
    return true;
  }
  if (PyUnicode_Check(v)) return set_str(v, PyRef::borrow(v), out);
  if (PyList_Check(v)) {
    out->kind = Kind::kList;
    out->list_text.clear();
    return append_list_text(v, &out->list_text);
  }
  ++g_python_calls;
  PyRef s = PyRef::steal(PyObject_Str(v));
  if (!s) return false;
  PyObject* text = s.get();
  return set_str(text, std::move(s), out);
}

// Appends "[a, b, ...]": the text forms of the elements, each read by the
// foreign value rules. The list may change while its elements run Python
// code (str(), a float subclass): each element is held while it is read and
// the size is checked again at every step.
bool append_list_text(PyObject* list, std::string* out) {
  if (Py_EnterRecursiveCall(" while reading a list value")) return false;
  bool ok = true;
  out->push_back('[');
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(list, i));
    if (i > 0) out->append(", ");
    if (PyList_Check(item.get())) {
      ok = append_list_text(item.get(), out);
    } else {
      Foreign f;
      ValueTextBuffer buf;
      ok = read_foreign(item.get(), &f);
      if (ok) out->append(text_of(f, buf));
    }
    if (!ok) break;
  }
  out->push_back(']');
  Py_LeaveRecursiveCall();
  return ok;
}

// ---- lenient row and column readings ----------------------------------------------

// An optional "+" then one or more ASCII digits, nothing else, fitting Max;
// anything else reads as 0.
template <class T>
T digits_number(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return 0;
  uint64_t n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + static_cast<uint64_t>(c - '0');
    if (n > std::numeric_limits<T>::max()) return 0;
  }
  return static_cast<T>(n);
}

// Truncated toward zero, clamped to 0..max; NaN reads as 0.
template <class T>
T clamped_number(double d) {
  if (!(d > 0)) return 0;  // NaN, zero and negatives
  constexpr double kMax = static_cast<double>(std::numeric_limits<T>::max());
  if (d >= kMax) return std::numeric_limits<T>::max();
  return static_cast<T>(std::trunc(d));
}

// Row (T = uint32_t) or column (T = uint16_t) reading: integers keep their
// low bits, floats are truncated and clamped, texts must be plain digits,
// booleans give 1 or 0, lists and None give 0.
template <class T>
T number_of(const Foreign& f) {
  switch (f.kind) {
    case Kind::kStr:
      return digits_number<T>(f.str);
    case Kind::kInt:
      return static_cast<T>(static_cast<uint64_t>(f.i));
    case Kind::kFloat:
      return clamped_number<T>(f.d);
    case Kind::kBool:
      return f.b ? 1 : 0;
    case Kind::kList:
    case Kind::kNothing:
      return 0;
  }
  return 0;
}

// parse_value(text_of(f)), without writing and re-reading the text for the
// kinds whose text form parses back predictably: a number's text is its
// shortest round-trip form, so it reads back as the same number, and as an
// Integer exactly when it is a whole number in the 32-bit range.
CellValue parsed_value(const Foreign& f, ValueTextBuffer& buf) {
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  switch (f.kind) {
    case Kind::kBool:
      return CellValue::boolean(f.b);
    case Kind::kInt:
      if (f.i >= kMin && f.i <= kMax) return CellValue::integer(static_cast<int32_t>(f.i));
      return CellValue::number(static_cast<double>(f.i));
    case Kind::kFloat:
      if (f.d >= static_cast<double>(kMin) && f.d <= static_cast<double>(kMax) &&
          f.d == std::trunc(f.d))
        return CellValue::integer(static_cast<int32_t>(f.d));
      return CellValue::number(f.d);
    case Kind::kNothing:
    case Kind::kStr:
    case Kind::kList:
      break;
  }
  return parse_value(text_of(f, buf));
}

bool read_field(const Fields& fields, FieldId id, Foreign* out) {
  PyRef v = fields.get(id);
  if (!v) return false;
  return read_foreign(v.get(), out);
}

// Reads a field and gives its text form (into `text`, viewing f or buf).
bool read_text_field(const Fields& fields, FieldId id, Foreign* f, ValueTextBuffer& buf,
                     std::string_view* text) {
  if (!read_field(fields, id, f)) return false;
  *text = text_of(*f, buf);
  return true;
}

// ---- merged ranges -------------------------------------------------------------------

// The merge list conversion: a list gives one range per element (a list
// element's items 0-3 read as rows, missing ones 0; any other element gives
// (row reading, 0, 0, 0)); anything else gives no ranges. Columns keep the
// low 16 bits of the number read. Every item is read, so a failing item
// fails the conversion even where its number is not used.
bool read_merges(PyObject* v, std::vector<MergeRange>* out) {
  if (!PyList_Check(v)) {
    Foreign ignored;
    return read_foreign(v, &ignored);
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(v); ++i) {
    PyRef e = PyRef::borrow(PyList_GET_ITEM(v, i));
    uint32_t n[4] = {0, 0, 0, 0};
    if (PyList_Check(e.get())) {
      for (Py_ssize_t j = 0; j < PyList_GET_SIZE(e.get()); ++j) {
        PyRef x = PyRef::borrow(PyList_GET_ITEM(e.get(), j));
        Foreign f;
        if (!read_foreign(x.get(), &f)) return false;
        if (j < 4) n[j] = number_of<uint32_t>(f);
      }
    } else {
      Foreign f;
      if (!read_foreign(e.get(), &f)) return false;
      n[0] = number_of<uint32_t>(f);
    }
    out->push_back(MergeRange{n[0], n[1], static_cast<uint16_t>(n[2]), static_cast<uint16_t>(n[3])});
  }
  return true;
}

}  // namespace

// ---- adapters ------------------------------------------------------------------------

CellRef adapt_cell(PyObject* obj) {
  PyObject* const* names = field_names();
  if (names == nullptr) return CellRef();
  Fields fields(names, obj, kRow, kStyleId);
  Foreign row, column, value, formula, data_type, style_id;
  if (!read_field(fields, kRow, &row)) return CellRef();
  if (!read_field(fields, kColumn, &column)) return CellRef();
  if (!read_field(fields, kValue, &value)) return CellRef();
  if (!read_field(fields, kFormula, &formula)) return CellRef();
  if (!read_field(fields, kDataType, &data_type)) return CellRef();
  if (!read_field(fields, kStyleId, &style_id)) return CellRef();

  ValueTextBuffer value_buf, formula_buf, type_buf, style_buf;
  std::string_view type_text = text_of(data_type, type_buf);
  CellValue v;
  if (value.kind != Kind::kNothing) {
    // Data type "s" keeps the text as it is; anything else is parsed.
    if (type_text == "s") {
      v = CellValue::text(text_of(value, value_buf));
    } else {
      v = parsed_value(value, value_buf);
    }
  }
  auto optional_text = [](const Foreign& f,
                          ValueTextBuffer& buf) -> std::optional<std::string_view> {
    if (f.kind == Kind::kNothing) return std::nullopt;
    return text_of(f, buf);
  };
  return CellRecord::create(number_of<uint32_t>(row), number_of<uint16_t>(column), std::move(v),
                            optional_text(formula, formula_buf), type_text,
                            optional_text(style_id, style_buf), std::nullopt);
}

SheetRef adapt_sheet(PyObject* obj) {
  PyObject* const* names = field_names();
  if (names == nullptr) return SheetRef();
  Fields fields(names, obj, kName, kCells);
  Foreign name, state;
  ValueTextBuffer name_buf, state_buf;
  std::string_view name_text, state_text;
  if (!read_text_field(fields, kName, &name, name_buf, &name_text)) return SheetRef();
  if (!read_text_field(fields, kSheetState, &state, state_buf, &state_text)) return SheetRef();
  std::vector<MergeRange> merges;
  {
    PyRef m = fields.get(kMergeCells);
    if (!m || !read_merges(m.get(), &merges)) return SheetRef();
  }
  PyRef cells = fields.get(kCells);
  if (!cells) return SheetRef();
  if (!PyList_Check(cells.get())) {
    raise_cast_error(cells.get(), "list");
    return SheetRef();
  }
  // Nobody else can reach the new record until it is returned: no lock.
  SheetRef sheet = SheetRecord::create(std::string(name_text), std::string(state_text));
  sheet->merge_cells = std::move(merges);
  sheet->cells.reserve(static_cast<size_t>(PyList_GET_SIZE(cells.get())));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(cells.get()); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(cells.get(), i));
    CellRef cell = adapt_cell(item.get());
    if (!cell) return SheetRef();
    sheet->cells.insert_or_replace(std::move(cell));  // the last one at a coordinate wins
  }
  return sheet;
}

bool adapt_cell_list(PyObject* list, std::vector<CellRef>* out) {
  out->clear();
  PyTypeObject* readable = readable_cell_type();
  if (readable == nullptr) return false;
  std::vector<CellRef> seq;
  seq.reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyObject* item = PyList_GET_ITEM(list, i);  // borrowed
    if (Py_IS_TYPE(item, readable)) {
      // Shared, not copied; taking the handle runs no Python code.
      seq.push_back(reinterpret_cast<ReadableCellObject*>(item)->rec);
      continue;
    }
    PyRef hold = PyRef::borrow(item);  // the adapter may run code that drops it from the list
    CellRef cell = adapt_cell(item);
    if (!cell) return false;
    seq.push_back(std::move(cell));
  }
  *out = std::move(seq);
  return true;
}

bool adapt_sheet_list(PyObject* list, std::vector<SheetRef>* out) {
  out->clear();
  std::vector<SheetRef> sheets;
  sheets.reserve(static_cast<size_t>(PyList_GET_SIZE(list)));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    PyRef item = PyRef::borrow(PyList_GET_ITEM(list, i));
    SheetRef sheet = adapt_sheet(item.get());
    if (!sheet) return false;
    sheets.push_back(std::move(sheet));
  }
  *out = std::move(sheets);
  return true;
}

}  // namespace qm::py
