// Python class Finder: a read-only, searchable list of sheets adapted once
// from foreign sheet objects, and the module function create_finder that
// builds one. The finder's record is a SheetList that nothing changes after
// construction.
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "bindings/cell_common.h"
#include "bindings/gil.h"
#include "bindings/readable/adapt.h"
#include "core/search.h"

namespace qm::py {
namespace {

struct FinderObject : Handle<SheetList> {
  static constexpr const char* kName = "Finder";
  static PyTypeObject* type;
};
PyTypeObject* FinderObject::type = nullptr;

using Self = FinderObject;

// A new Finder of class `type` over `list`.
PyObject* make_finder(PyTypeObject* type, SheetListRef list) {
  Self* s = allocate<Self>(type);
  if (s == nullptr) return nullptr;
  new (&s->rec) SheetListRef(std::move(list));
  return reinterpret_cast<PyObject*>(s);
}

constexpr const char* kSheetsParam[] = {"sheets"};
constexpr Signature kFinderNew{"Finder.__new__", kSheetsParam, 1};
constexpr Signature kCreateFinder{"create_finder", kSheetsParam, 1};

// Finder(sheets): adapts with the interpreter lock held for the whole call.
PyObject* finder_new(PyTypeObject* type, List sheets) {
  std::vector<SheetRef> recs;
  if (!adapt_sheet_list(sheets.obj, &recs)) return nullptr;
  SheetListRef list = make_ref<SheetList>();
  list->sheets = std::move(recs);  // not shared yet: no lock
  return make_finder(type, std::move(list));
}

// create_finder(sheets): the same, but the record is filled without the
// interpreter lock (adaptation, which reads Python objects, keeps it).
PyObject* create_finder(List sheets) {
  PyTypeObject* type = finder_type();
  if (type == nullptr) return nullptr;
  std::vector<SheetRef> recs;
  if (!adapt_sheet_list(sheets.obj, &recs)) return nullptr;
  SheetListRef list;
  {
    ReleaseGil nogil;
    list = make_ref<SheetList>();
    std::unique_lock w(list->lock());
    list->sheets = std::move(recs);
  }
  return make_finder(type, std::move(list));
}

PyObject* sheets(Self* self) { return readable_sheet_list(self->rec->snapshot()); }

// "Finder, sheets: 3"
PyObject* finder_repr(Self* self) {
  std::string s;
  if (!type_qualname(reinterpret_cast<PyObject*>(self), &s)) return nullptr;
  s += ", sheets: ";
  s += std::to_string(self->rec->size());
  return new_str(s);
}

constexpr const char* kIdx[] = {"idx"};
constexpr const char* kNameList[] = {"name_list"};
constexpr const char* kName[] = {"name"};
constexpr const char* kPattern[] = {"pattern"};
constexpr Signature kGetSheetIndex{"Finder.get_sheet_index", kIdx, 1};
constexpr Signature kGetSheetsWithoutNames{"Finder.get_sheets_without_names", kNameList, 1};
constexpr Signature kGetSheetsWithNames{"Finder.get_sheets_with_names", kNameList, 1};
constexpr Signature kFindSheetByName{"Finder.find_sheet_by_name", kName, 1};
constexpr Signature kFindSheetByRegex{"Finder.find_sheet_by_regex", kPattern, 1};

// Position from 0; anything outside the list (negative values included) is None.
PyObject* get_sheet_index(Self* self, Int32 idx) {
  return readable_sheet_or_none(self->rec->at(idx.v));
}

// The sheet searches keep the interpreter lock; the finder's shared lock is
// held while the pool compares names, and released before any Python object
// is built.
PyObject* get_sheets_without_names(Self* self, std::vector<std::string> names) {
  std::vector<SheetRef> hits;
  {
    std::shared_lock r(self->rec->lock());
    hits = qm::sheets_without_names(names, self->rec->sheets);
  }
  return readable_sheet_list(hits);
}

PyObject* get_sheets_with_names(Self* self, std::vector<std::string> names) {
  std::vector<SheetRef> hits;
  {
    std::shared_lock r(self->rec->lock());
    hits = qm::sheets_with_names(names, self->rec->sheets);
  }
  return readable_sheet_list(hits);
}

PyObject* find_sheet_by_name(Self* self, std::string_view name) {
  SheetRef hit;
  {
    std::shared_lock r(self->rec->lock());
    if (const SheetRef* p = qm::find_sheet_by_name(name, self->rec->sheets)) hit = *p;
  }
  return readable_sheet_or_none(hit);
}

// Case-sensitive: the pattern is compiled as given. A pattern that does not
// compile raises RuntimeError and searches nothing.
PyObject* find_sheet_by_regex(Self* self, std::string_view pattern) {
  Status error;
  SheetRef hit;
  {
    std::shared_lock r(self->rec->lock());
    Result<const SheetRef*> found = qm::find_sheet_by_regex(pattern, self->rec->sheets);
    if (!found.ok()) {
      error = found.status();
    } else if (*found != nullptr) {
      hit = **found;
    }
  }
  if (!error.ok()) return raise_status(error);
  return readable_sheet_or_none(hit);
}

PyTypeObject* make_finder_type() {
  static PyGetSetDef getset[] = {
      {"sheets", getter<Self, sheets>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;
  static PyMethodDef* methods = build_methods(
      {
          {&kGetSheetIndex, "get_sheet_index",
           as_cfunction(method<Self, kGetSheetIndex, get_sheet_index>), kFast, nullptr},
          {&kGetSheetsWithoutNames, "get_sheets_without_names",
           as_cfunction(method<Self, kGetSheetsWithoutNames, get_sheets_without_names>), kFast,
           nullptr},
          {&kGetSheetsWithNames, "get_sheets_with_names",
           as_cfunction(method<Self, kGetSheetsWithNames, get_sheets_with_names>), kFast, nullptr},
          {&kFindSheetByName, "find_sheet_by_name",
           as_cfunction(method<Self, kFindSheetByName, find_sheet_by_name>), kFast, nullptr},
          {&kFindSheetByRegex, "find_sheet_by_regex",
           as_cfunction(method<Self, kFindSheetByRegex, find_sheet_by_regex>), kFast, nullptr},
      },
      /*bound=*/true);
  return create_type("quillmoor.readable.Finder", sizeof(Self), Py_TPFLAGS_DEFAULT,
                     {
                         {Py_tp_doc, const_cast<char*>("Finder(sheets)\n--\n\n")},
                         {Py_tp_new, reinterpret_cast<void*>(constructor<kFinderNew, finder_new>)},
                         {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Self>)},
                         {Py_tp_repr, reinterpret_cast<void*>(repr<Self, finder_repr>)},
                         {Py_tp_getset, getset},
                         {Py_tp_methods, methods},
                     });
}

}  // namespace

PyTypeObject* finder_type() {
  if (FinderObject::type == nullptr) FinderObject::type = make_finder_type();
  return FinderObject::type;
}

MethodSpec create_finder_spec() {
  return {&kCreateFinder, "create_finder", as_cfunction(function<kCreateFinder, create_finder>),
          METH_FASTCALL | METH_KEYWORDS, nullptr};
}

}  // namespace qm::py
