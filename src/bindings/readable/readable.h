// What the files of the readable side share: the layouts of the two handle
// classes (ReadableCell, ReadableSheet), the repr helper that names an
// object's type, and the conversions of search results into Python objects.
//
//   std::vector<CellRef> hits = ...;          // under the interpreter lock again
//   return readable_cell_list(hits);           // [ReadableCell, ...]
//
// Everything here runs with the interpreter lock held.
#ifndef QUILLMOOR_BINDINGS_READABLE_READABLE_H_
#define QUILLMOOR_BINDINGS_READABLE_READABLE_H_

#include <optional>
#include <string>
#include <vector>

#include "bindings/classes.h"
#include "bindings/wrapper.h"
#include "core/records.h"
#include "core/search.h"
#include "core/sheet.h"
#include "core/status.h"

namespace qm::py {

// ReadableCell (readable/cell.cc): a handle onto one shared cell record.
struct ReadableCellObject : Handle<CellRecord> {
  static constexpr const char* kName = "ReadableCell";
  static PyTypeObject* type;  // set by readable_cell_type()
};

// ReadableSheet (readable/sheet.cc): a handle onto one shared sheet record.
struct ReadableSheetObject : Handle<SheetRecord> {
  static constexpr const char* kName = "ReadableSheet";
  static PyTypeObject* type;  // set by readable_sheet_type()
};

// The __qualname__ of the object's type, as UTF-8. False with an exception set.
bool type_qualname(PyObject* self, std::string* out);

// A new list of new ReadableCell (ReadableSheet) objects sharing the records,
// in order; a new ReadableCell, or None for a null handle.
inline PyObject* readable_cell_list(const std::vector<CellRef>& recs) {
  return list_of(recs, [](const CellRef& c) { return new_readable_cell(c); });
}
inline PyObject* readable_sheet_list(const std::vector<SheetRef>& recs) {
  return list_of(recs, [](const SheetRef& s) { return new_readable_sheet(s); });
}
inline PyObject* readable_cell_or_none(const CellRef& rec) {
  return object_or_none(rec, [](const CellRef& c) { return new_readable_cell(c); });
}
inline PyObject* readable_sheet_or_none(const SheetRef& rec) {
  return object_or_none(rec, [](const SheetRef& s) { return new_readable_sheet(s); });
}

// The method table entry of create_finder (readable/finder.cc), listed first
// among the module functions.
MethodSpec create_finder_spec();

// Python results of the engine's answers (new references, or nullptr with an
// exception set): a cell handle (null: None), a first-match pointer into the
// caller's sequence (null: None), a list of cells, value texts, an optional
// value text (absent: None); a failed Result raises its Status (a pattern
// error as RuntimeError, a refused letter as ValueError).
inline PyObject* result_object(const CellRef& c) { return readable_cell_or_none(c); }
inline PyObject* result_object(CellHit c) {
  if (c == nullptr) Py_RETURN_NONE;
  return new_readable_cell(CellRef::share(*c));
}
inline PyObject* result_object(const std::vector<CellRef>& cells) { return readable_cell_list(cells); }
inline PyObject* result_object(const std::vector<std::string>& texts) { return str_list(texts); }
inline PyObject* result_object(const std::optional<std::string>& text) {
  if (!text) Py_RETURN_NONE;
  return PyUnicode_FromStringAndSize(text->data(), static_cast<Py_ssize_t>(text->size()));
}
template <class T>
PyObject* result_object(const Result<T>& r) {
  if (!r.ok()) return raise_status(r.status());
  return result_object(*r);
}

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_READABLE_READABLE_H_
