// Python classes Book and Service: owners of a workbook's sheet list.
// Service keeps the object it was built with (conn_db) and declares the two
// hooks a report subclass supplies. Both share one implementation of the
// sheet-list members; Service exposes them under underscored names.
#include <mutex>
#include <shared_mutex>

#include "bindings/cell_common.h"
#include "bindings/classes.h"
#include "core/json_writer.h"

namespace qm::py {
namespace {

struct BookObject : Handle<SheetList> {
  static constexpr const char* kName = "Book";
  static PyTypeObject* type;
  SheetList& list() { return *rec; }
};
PyTypeObject* BookObject::type = nullptr;

struct ServiceObject : Handle<SheetList> {
  static constexpr const char* kName = "Service";
  static PyTypeObject* type;
  PyObject* conn_db;  // strong reference; traversed by the cyclic collector
  SheetList& list() { return *rec; }
};
PyTypeObject* ServiceObject::type = nullptr;

// ---- members shared by Book and Service -------------------------------------------

template <class Self>
PyObject* sheets(Self* self) {
  return list_of(self->list().snapshot(), new_sheet);
}

template <class Self>
PyObject* add_sheet(Self* self, std::string_view name, Defaulted<std::string_view> state) {
  SheetRef sheet = SheetRecord::create(std::string(name), std::string(state.v.value_or("visible")));
  {
    std::unique_lock w(self->list().lock());
    self->list().sheets.push_back(sheet);
  }
  return new_sheet(std::move(sheet));
}

template <class Self>
PyObject* copy_sheet(Self* self, Instance<SheetObject> source) {
  SheetRef copy;
  {
    std::unique_lock w(self->list().lock());
    copy = source.obj->rec->copy();
    // The copy is not shared yet: no lock needed to rename it.
    copy->name = "Sheet " + std::to_string(self->list().sheets.size() + 1);
    self->list().sheets.push_back(copy);
  }
  return new_sheet(std::move(copy));
}

template <class Self>
PyObject* get_sheet_name(Self* self, std::string_view name) {
  SheetRef found;
  {
    std::shared_lock r(self->list().lock());
    for (const SheetRef& s : self->list().sheets) {
      std::shared_lock rs(s->lock());
      if (s->name == name) {
        found = s;
        break;
      }
    }
  }
  return object_or_none(found, new_sheet);
}

template <class Self>
PyObject* get_sheet_index(Self* self, Int32 idx) {
  return object_or_none(self->list().at(idx.v), new_sheet);
}

template <class Self>
Result<JsonPieces> document(Self* self) {
  std::shared_lock r(self->list().lock());
  return write_document_pieces(self->list().sheets);
}

// The document as a new str. A pure-ASCII document (the usual case) is
// copied straight into a compact str of one byte per character, with no
// UTF-8 decoding and no joined copy in between; otherwise the joined text
// is decoded as UTF-8.
PyObject* document_str(const JsonPieces& doc) {
  if (doc.ascii) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(doc.size), 127);
    if (str == nullptr) return nullptr;
    doc.copy_to(static_cast<char*>(PyUnicode_DATA(str)));
    return str;
  }
  std::string joined(doc.size, '\0');
  doc.copy_to(joined.data());
  return new_str(joined);
}

template <class Self>
PyObject* to_json(Self* self) {
  Result<JsonPieces> doc = document(self);
  if (!doc.ok()) return raise_status(doc.status());
  return document_str(*doc);
}

template <class Self>
PyObject* to_dict(Self* self) {
  Result<JsonPieces> doc = document(self);  // the list lock is released here
  if (!doc.ok()) return raise_status(doc.status());
  PyRef text = PyRef::steal(document_str(*doc));
  if (!text) return nullptr;
  doc = JsonPieces();  // the pieces are not needed while json.loads runs
  PyRef json = PyRef::steal(PyImport_ImportModule("json"));
  if (!json) return nullptr;
  PyRef loads = PyRef::steal(PyObject_GetAttrString(json.get(), "loads"));
  if (!loads) return nullptr;
  return PyObject_CallOneArg(loads.get(), text.get());
}


// ---- Book ------------------------------------------------------------------------------

constexpr const char* kNoParams[] = {""};
constexpr Signature kBookNew{"Book.__new__", std::span<const char* const>(kNoParams, 0), 0};
PyObject* book_new(PyTypeObject* type) {
  BookObject* b = allocate<BookObject>(type);
  if (b == nullptr) return nullptr;
  new (&b->rec) SheetListRef(make_ref<SheetList>());
  return reinterpret_cast<PyObject*>(b);
}

PyObject* book_repr(BookObject* self) {
  return new_str("Book, sheets: " + std::to_string(self->list().size()));
}

constexpr const char* kAddSheetParams[] = {"name", "sheet_state"};
constexpr const char* kAddSheetDefaults[] = {"\"visible\""};
constexpr const char* kSheetParams[] = {"sheet"};
constexpr const char* kNameParams[] = {"name"};
constexpr const char* kIdxParams[] = {"idx"};
constexpr Signature kBookAddSheet{"Book.add_sheet", kAddSheetParams, 1, kAddSheetDefaults};
constexpr Signature kBookCopySheet{"Book.copy_sheet", kSheetParams, 1};
constexpr Signature kBookGetSheetName{"Book.get_sheet_name", kNameParams, 1};
constexpr Signature kBookGetSheetIndex{"Book.get_sheet_index", kIdxParams, 1};

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

PyTypeObject* make_book_type() {
  using Self = BookObject;
  static PyGetSetDef getset[] = {
      {"sheets", getter<Self, sheets<Self>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static PyMethodDef* methods = build_methods(
      {
          {&kBookAddSheet, "add_sheet", as_cfunction(method<Self, kBookAddSheet, add_sheet<Self>>),
           kFast, nullptr},
          {&kBookCopySheet, "copy_sheet",
           as_cfunction(method<Self, kBookCopySheet, copy_sheet<Self>>), kFast, nullptr},
          {&kBookGetSheetName, "get_sheet_name",
           as_cfunction(method<Self, kBookGetSheetName, get_sheet_name<Self>>), kFast, nullptr},
          {&kBookGetSheetIndex, "get_sheet_index",
           as_cfunction(method<Self, kBookGetSheetIndex, get_sheet_index<Self>>), kFast, nullptr},
          {nullptr, "to_json", reinterpret_cast<PyCFunction>(noargs<Self, to_json<Self>>),
           METH_NOARGS, "to_json($self)\n--\n\n"},
          {nullptr, "to_dict", reinterpret_cast<PyCFunction>(noargs<Self, to_dict<Self>>),
           METH_NOARGS, "to_dict($self)\n--\n\n"},
      },
      /*bound=*/true);
  return create_type("quillmoor.Book", sizeof(Self), Py_TPFLAGS_DEFAULT,
                     {
                         {Py_tp_doc, const_cast<char*>("Book()\n--\n\n")},
                         {Py_tp_new, reinterpret_cast<void*>(constructor<kBookNew, book_new>)},
                         {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Self>)},
                         {Py_tp_repr, reinterpret_cast<void*>(repr<Self, book_repr>)},
                         {Py_tp_getset, getset},
                         {Py_tp_methods, methods},
                     });
}

// ---- Service -----------------------------------------------------------------------------

constexpr const char* kConnParams[] = {"conn_db"};
constexpr Signature kServiceNew{"Service.__new__", kConnParams, 1};
PyObject* service_new(PyTypeObject* type, Any conn_db) {
  ServiceObject* s = allocate<ServiceObject>(type);
  if (s == nullptr) return nullptr;
  new (&s->rec) SheetListRef(make_ref<SheetList>());
  s->conn_db = PyRef::borrow(conn_db.obj).release();
  return reinterpret_cast<PyObject*>(s);
}

int service_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(reinterpret_cast<ServiceObject*>(self)->conn_db);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int service_clear(PyObject* self) {
  Py_CLEAR(reinterpret_cast<ServiceObject*>(self)->conn_db);
  return 0;
}

void service_dealloc(PyObject* self) {
  PyObject_GC_UnTrack(self);
  service_clear(self);
  dealloc<ServiceObject>(self);
}

PyObject* conn_db(ServiceObject* self) {
  if (self->conn_db == nullptr) Py_RETURN_NONE;  // only after the collector cleared it
  return PyRef::borrow(self->conn_db).release();
}

PyObject* service_repr(ServiceObject* self) {
  PyRef qualname = PyRef::steal(PyType_GetQualName(Py_TYPE(self)));
  if (!qualname) return nullptr;
  return PyUnicode_FromFormat("%U, sheets: %zu", qualname.get(), self->list().size());
}

constexpr const char* kSummaryParams[] = {"sheets"};
constexpr Signature kSummary{"Service.summary_0", kSummaryParams, 1, {}, /*posonly=*/1,
                             /*var_kwargs=*/true};
PyObject* summary_0(ServiceObject*, List, KwArgs kwargs) {
  if (kwargs.dict != nullptr && !PyDict_Check(kwargs.dict)) {
    raise_cast_error(kwargs.dict, "dict");
    return nullptr;
  }
  PyErr_SetString(PyExc_NotImplementedError, "Method 'summary_0' is not implemented");
  return nullptr;
}

constexpr Signature kFmt{"Service._fmt_0", std::span<const char* const>(kNoParams, 0), 0, {}, 0,
                         /*var_kwargs=*/true};
PyObject* fmt_0(ServiceObject*, KwArgs kwargs) {
  if (kwargs.dict != nullptr && !PyDict_Check(kwargs.dict)) {
    raise_cast_error(kwargs.dict, "dict");
    return nullptr;
  }
  PyErr_SetString(PyExc_NotImplementedError, "Method 'fmt_0' is not implemented");
  return nullptr;
}

constexpr Signature kServiceAddSheet{"Service._add_sheet", kAddSheetParams, 1, kAddSheetDefaults};
constexpr Signature kServiceCopySheet{"Service._copy_sheet", kSheetParams, 1};
constexpr Signature kServiceGetSheetName{"Service._get_sheet_name", kNameParams, 1};
constexpr Signature kServiceGetSheetIndex{"Service._get_sheet_index", kIdxParams, 1};

PyTypeObject* make_service_type() {
  using Self = ServiceObject;
  static PyGetSetDef getset[] = {
      {"_conn_db", getter<Self, conn_db>, nullptr, nullptr, nullptr},
      {"_sheets", getter<Self, sheets<Self>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static PyMethodDef* methods = build_methods(
      {
          {&kServiceAddSheet, "_add_sheet",
           as_cfunction(method<Self, kServiceAddSheet, add_sheet<Self>>), kFast, nullptr},
          {&kServiceCopySheet, "_copy_sheet",
           as_cfunction(method<Self, kServiceCopySheet, copy_sheet<Self>>), kFast, nullptr},
          {&kServiceGetSheetName, "_get_sheet_name",
           as_cfunction(method<Self, kServiceGetSheetName, get_sheet_name<Self>>), kFast, nullptr},
          {&kServiceGetSheetIndex, "_get_sheet_index",
           as_cfunction(method<Self, kServiceGetSheetIndex, get_sheet_index<Self>>), kFast,
           nullptr},
          {nullptr, "to_json", reinterpret_cast<PyCFunction>(noargs<Self, to_json<Self>>),
           METH_NOARGS, "to_json($self)\n--\n\n"},
          {nullptr, "to_dict", reinterpret_cast<PyCFunction>(noargs<Self, to_dict<Self>>),
           METH_NOARGS, "to_dict($self)\n--\n\n"},
          {&kSummary, "summary_0",
           reinterpret_cast<PyCFunction>(
               reinterpret_cast<void (*)()>(varargs_method<Self, kSummary, summary_0>)),
           METH_VARARGS | METH_KEYWORDS, nullptr},
          {&kFmt, "_fmt_0",
           reinterpret_cast<PyCFunction>(
               reinterpret_cast<void (*)()>(varargs_method<Self, kFmt, fmt_0>)),
           METH_VARARGS | METH_KEYWORDS, nullptr},
      },
      /*bound=*/true);
  return create_type(
      "quillmoor.Service", sizeof(Self), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
      {
          {Py_tp_doc, const_cast<char*>("Service(conn_db)\n--\n\n")},
          {Py_tp_new, reinterpret_cast<void*>(constructor<kServiceNew, service_new>)},
          {Py_tp_dealloc, reinterpret_cast<void*>(service_dealloc)},
          {Py_tp_traverse, reinterpret_cast<void*>(service_traverse)},
          {Py_tp_clear, reinterpret_cast<void*>(service_clear)},
          {Py_tp_repr, reinterpret_cast<void*>(repr<Self, service_repr>)},
          {Py_tp_getset, getset},
          {Py_tp_methods, methods},
      });
}

}  // namespace

PyTypeObject* book_type() {
  if (BookObject::type == nullptr) BookObject::type = make_book_type();
  return BookObject::type;
}

PyTypeObject* service_type() {
  if (ServiceObject::type == nullptr) ServiceObject::type = make_service_type();
  return ServiceObject::type;
}

}  // namespace qm::py
