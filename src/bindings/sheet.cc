// Python class Sheet: a handle onto one shared sheet record of a workbook.
// Every member keeps the interpreter lock; searches run on the worker pool
// while the calling thread waits holding the sheet's shared lock.
#include <mutex>
#include <shared_mutex>

#include "bindings/cell_common.h"
#include "bindings/classes.h"
#include "bindings/sheet_common.h"
#include "core/pool.h"
#include "core/search.h"

namespace qm::py {

PyTypeObject* SheetObject::type = nullptr;

namespace {

using Self = SheetObject;

constexpr char kValueArg[] = "value";

PyObject* cells_list(const std::vector<CellRef>& cells) { return list_of(cells, new_cell); }
PyObject* cell_or_none(const CellRef& c) { return object_or_none(c, new_cell); }

// ---- name, state, sizes ---------------------------------------------------------

bool set_name(Self* self, std::string_view v) {
  std::unique_lock w(self->rec->lock());
  self->rec->name.assign(v);
  return true;
}

constexpr const char* kStateParams[] = {"state"};
constexpr Signature kSetSheetState{"Sheet.set_sheet_state", kStateParams, 1};
PyObject* set_sheet_state(Self* self, std::string_view state) {
  std::unique_lock w(self->rec->lock());
  self->rec->sheet_state.assign(state);
  Py_RETURN_NONE;
}

// ---- merged ranges and comments --------------------------------------------------

constexpr const char* kMergeParams[] = {"start_row", "end_row", "start_col", "end_col"};
constexpr Signature kAddMergeCells{"Sheet.add_merge_cells", kMergeParams, 4};
PyObject* add_merge_cells(Self* self, Row start_row, Row end_row, Col start_col, Col end_col) {
  std::unique_lock w(self->rec->lock());
  self->rec->merge_cells.push_back({start_row.v, end_row.v, start_col.v, end_col.v});
  Py_RETURN_NONE;
}

constexpr const char* kCommentParams[] = {"row", "col", "text", "author"};
constexpr Signature kAddComment{"Sheet.add_comment", kCommentParams, 4};
PyObject* add_comment(Self* self, Row row, Col col, std::string_view text, std::string_view author) {
  CommentRef c = make_ref<CommentRecord>(row.v, col.v, std::string(author), std::string(text));
  std::unique_lock w(self->rec->lock());
  self->rec->comments.push_back(std::move(c));
  Py_RETURN_NONE;
}

PyObject* comments(Self* self) {
  std::vector<CommentRef> list;
  {
    std::shared_lock r(self->rec->lock());
    list = self->rec->comments;
  }
  return list_of(list, new_comment);
}

// ---- cells -------------------------------------------------------------------------

constexpr const char* kCellParams[] = {"row", "col", "value"};
constexpr const char* kCellDefaults[] = {"None"};
constexpr Signature kCell{"Sheet.cell", kCellParams, 2, kCellDefaults};
PyObject* cell(Self* self, Row row, Col col, std::optional<std::string_view> value) {
  CellRef rec;
  if (value) {
    CellValue v = parse_value(*value);
    std::unique_lock w(self->rec->lock());
    rec = CellRef::share(self->rec->cell(row.v, col.v, &v));
  } else {
    std::unique_lock w(self->rec->lock());
    rec = CellRef::share(self->rec->cell(row.v, col.v, nullptr));
  }
  return new_cell(std::move(rec));
}

constexpr const char* kRowColParams[] = {"row", "col"};
constexpr Signature kGetValueCell{"Sheet.get_value_cell", kRowColParams, 2};
PyObject* get_value_cell(Self* self, Row row, Col col) {
  return sheet_props::get_value_cell(self, row, col);
}

constexpr Signature kFindValueByCoords{"Sheet.find_value_by_coords", kRowColParams, 2};
PyObject* find_value_by_coords(Self* self, Row row, Col col) {
  ValueTextBuffer buf;
  std::optional<std::string> text;
  {
    std::shared_lock r(self->rec->lock());
    if (const CellRecord* c = self->rec->find_cell(row.v, col.v)) {
      std::shared_lock rc(c->lock());
      text.emplace(value_text(c->value(), buf));
    }
  }
  if (!text) Py_RETURN_NONE;
  return new_str(*text);
}

constexpr const char* kDeleteRowsParams[] = {"idx", "amount"};
constexpr Signature kDeleteRows{"Sheet.delete_rows", kDeleteRowsParams, 2};
PyObject* delete_rows(Self* self, Row idx, Row amount) {
  self->rec->delete_rows(idx.v, amount.v);  // takes the locks it needs
  Py_RETURN_NONE;
}

constexpr Signature kDeleteCols{"Sheet.delete_cols", kDeleteRowsParams, 2};
PyObject* delete_cols(Self* self, Col idx, Col amount) {
  self->rec->delete_cols(idx.v, amount.v);
  Py_RETURN_NONE;
}

constexpr const char* kRangeParams[] = {"start_row", "end_row", "start_col", "end_col"};
constexpr const char* kRangeDefaults[] = {"None", "None", "None", "None"};
constexpr Signature kGetCellsByRange{"Sheet.get_cells_by_range", kRangeParams, 0, kRangeDefaults};
PyObject* get_cells_by_range(Self* self, std::optional<Row> start_row, std::optional<Row> end_row,
                             std::optional<Col> start_col, std::optional<Col> end_col) {
  CellRect rect = CellRect::with_defaults(
      start_row ? std::optional<uint32_t>(start_row->v) : std::nullopt,
      end_row ? std::optional<uint32_t>(end_row->v) : std::nullopt,
      start_col ? std::optional<uint16_t>(start_col->v) : std::nullopt,
      end_col ? std::optional<uint16_t>(end_col->v) : std::nullopt);
  std::vector<CellRef> hits;
  {
    std::shared_lock r(self->rec->lock());
    hits = self->rec->cells.range(rect.start_row, rect.end_row, rect.start_col, rect.end_col);
  }
  return cells_list(hits);
}

// ---- dimensions ----------------------------------------------------------------------

constexpr const char* kRowValParams[] = {"row_num", "val"};
constexpr const char* kColValParams[] = {"col_num", "val"};
constexpr const char* kRowNumParams[] = {"row_num"};
constexpr const char* kColNumParams[] = {"col_num"};
constexpr Signature kSetHeightRow{"Sheet.set_height_row", kRowValParams, 2};
constexpr Signature kSetHiddenRow{"Sheet.set_hidden_row", kRowValParams, 2};
constexpr Signature kSetWidthColumn{"Sheet.set_width_column", kColValParams, 2};
constexpr Signature kSetHiddenColumn{"Sheet.set_hidden_column", kColValParams, 2};
constexpr Signature kGetHeightByRow{"Sheet.get_height_by_row", kRowNumParams, 1};
constexpr Signature kGetHiddenByRow{"Sheet.get_hidden_by_row", kRowNumParams, 1};
constexpr Signature kGetWidthByColumn{"Sheet.get_width_by_column", kColNumParams, 1};
constexpr Signature kGetHiddenByColumn{"Sheet.get_hidden_by_column", kColNumParams, 1};

PyObject* set_height_row(Self* self, Row row, double val) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_row_height(row.v, val);
  Py_RETURN_NONE;
}
PyObject* set_hidden_row(Self* self, Row row, bool val) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_row_hidden(row.v, val);
  Py_RETURN_NONE;
}
PyObject* set_width_column(Self* self, Col col, double val) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_column_width(col.v, val);
  Py_RETURN_NONE;
}
PyObject* set_hidden_column(Self* self, Col col, bool val) {
  std::unique_lock w(self->rec->lock());
  self->rec->set_column_hidden(col.v, val);
  Py_RETURN_NONE;
}
PyObject* get_height_by_row(Self* self, Row row) {
  std::shared_lock r(self->rec->lock());
  return PyFloat_FromDouble(self->rec->row_height(row.v));
}
PyObject* get_hidden_by_row(Self* self, Row row) {
  std::shared_lock r(self->rec->lock());
  return PyBool_FromLong(self->rec->row_hidden(row.v));
}
PyObject* get_width_by_column(Self* self, Col col) {
  std::shared_lock r(self->rec->lock());
  return PyFloat_FromDouble(self->rec->column_width(col.v));
}
PyObject* get_hidden_by_column(Self* self, Col col) {
  std::shared_lock r(self->rec->lock());
  return PyBool_FromLong(self->rec->column_hidden(col.v));
}

// ---- searches ---------------------------------------------------------------------------
// First-match searches look at the table in storage order. List searches
// return cells ordered by row, then column. A filter's result does not
// depend on the order it scans, so the filters scan storage order and sort
// only their hits; the anchor searches walk the sorted sequence itself.

// Runs f over the sheet's cells in storage order under the sheet's shared
// lock. The view holds raw pointers (no reference per cell): the table keeps
// the records alive while the lock is held, and f keeps only what it returns.
template <class F>
auto over_storage(Self* self, F&& f) {
  std::shared_lock r(self->rec->lock());
  std::vector<CellRecord*> seq = self->rec->cells.storage_view();
  return f(CellView(seq));
}

template <class F>
auto over_sorted(Self* self, F&& f) {
  std::shared_lock r(self->rec->lock());
  std::vector<CellRecord*> seq = self->rec->cells.sorted_view();
  return f(CellView(seq));
}

PyObject* first_result(Result<CellRef> r) {
  if (!r.ok()) return raise_status(r.status());
  return cell_or_none(*r);
}

PyObject* list_result(Result<std::vector<CellRef>> r) {
  if (!r.ok()) return raise_status(r.status());
  return cells_list(*r);
}

CellRef owned(CellHit p) { return p ? CellRef::share(*p) : CellRef(); }

constexpr const char* kRegexParams[] = {"regex"};
constexpr const char* kValueParams[] = {"value"};
constexpr const char* kLetterParams[] = {"letter"};
constexpr const char* kRegexColStop[] = {"regex", "col_stop"};
constexpr const char* kRegexRowStop[] = {"regex", "row_stop"};
constexpr const char* kAnchorParams[] = {"before_regex", "after_regex"};
constexpr const char* kRowsParams[] = {"start_row", "end_row"};
constexpr const char* kColsParams[] = {"start_col", "end_col"};
constexpr Signature kFindCellByRegex{"Sheet.find_cell_by_regex", kRegexParams, 1};
constexpr Signature kFindCellByStr{"Sheet.find_cell_by_str", kValueParams, 1};
constexpr Signature kFindCellByLetter{"Sheet.find_cell_by_letter", kLetterParams, 1};
constexpr Signature kFindCellsByRegex{"Sheet.find_cells_by_regex", kRegexParams, 1};
constexpr Signature kFindCellsByStr{"Sheet.find_cells_by_str", kValueParams, 1};
constexpr Signature kFindCellsForRows{"Sheet.find_cells_for_rows_by_regex", kRegexColStop, 2};
constexpr Signature kFindCellsForCols{"Sheet.find_cells_for_cols_by_regex", kRegexRowStop, 2};
constexpr Signature kFindCellsMulti{"Sheet.find_cells_multi_regex", kAnchorParams, 2};
constexpr Signature kFindCellsBetween{"Sheet.find_cells_between_regex", kAnchorParams, 2};
constexpr Signature kFindCellsRangeRows{"Sheet.find_cells_range_rows", kRowsParams, 2};
constexpr Signature kFindCellsRangeCols{"Sheet.find_cells_range_cols", kColsParams, 2};

PyObject* find_cell_by_regex(Self* self, std::string_view regex) {
  return first_result(over_storage(self, [&](CellView seq) -> Result<CellRef> {
    Result<CellHit> r = qm::find_cell_by_regex(regex, seq);
    if (!r.ok()) return r.status();
    return owned(*r);
  }));
}

PyObject* find_cell_by_str(Self* self, std::string_view value) {
  return cell_or_none(
      over_storage(self, [&](CellView seq) { return owned(qm::find_cell_by_str(value, seq)); }));
}

PyObject* find_cell_by_letter(Self* self, std::string_view letter) {
  return first_result(over_storage(self, [&](CellView seq) -> Result<CellRef> {
    Result<CellHit> r = qm::find_cell_by_letter(letter, seq);
    if (!r.ok()) return r.status();
    return owned(*r);
  }));
}

// A filter over storage order whose hits are then sorted.
template <class F>
PyObject* sorted_filter(Self* self, F&& filter) {
  return list_result(over_storage(self, [&](CellView seq) -> Result<std::vector<CellRef>> {
    Result<std::vector<CellRef>> r = filter(seq);
    if (r.ok()) sort_by_position(*r);
    return r;
  }));
}

PyObject* find_cells_by_regex(Self* self, std::string_view regex) {
  return sorted_filter(self, [&](CellView seq) { return qm::find_cells_by_regex(regex, seq); });
}

PyObject* find_cells_by_str(Self* self, std::string_view value) {
  return sorted_filter(self, [&](CellView seq) -> Result<std::vector<CellRef>> {
    return qm::find_cells_by_str(value, seq);
  });
}

PyObject* find_cells_for_rows_by_regex(Self* self, std::string_view regex, Col col_stop) {
  return sorted_filter(self, [&](CellView seq) {
    return qm::find_cells_for_rows_by_regex(regex, col_stop.v, seq);
  });
}

PyObject* find_cells_for_cols_by_regex(Self* self, std::string_view regex, Row row_stop) {
  return sorted_filter(self, [&](CellView seq) {
    return qm::find_cells_for_cols_by_regex(regex, row_stop.v, seq);
  });
}

PyObject* find_cells_multi_regex(Self* self, std::string_view before, std::string_view after) {
  return list_result(over_sorted(
      self, [&](CellView seq) { return qm::find_cells_multi_regex(before, after, seq); }));
}

PyObject* find_cells_between_regex(Self* self, std::string_view before, std::string_view after) {
  return list_result(over_sorted(
      self, [&](CellView seq) { return qm::find_cells_between_regex(before, after, seq); }));
}

PyObject* find_cells_range_rows(Self* self, Row start_row, Row end_row) {
  std::vector<CellRef> hits;
  {
    std::shared_lock r(self->rec->lock());
    hits = self->rec->cells.range(start_row.v, end_row.v, 0, 0xFFFF);
  }
  return cells_list(hits);
}

PyObject* find_cells_range_cols(Self* self, Col start_col, Col end_col) {
  std::vector<CellRef> hits;
  {
    std::shared_lock r(self->rec->lock());
    hits = self->rec->cells.range(0, 0xFFFFFFFFu, start_col.v, end_col.v);
  }
  return cells_list(hits);
}

PyObject* sheet_repr(Self* self) { return sheet_props::repr_with(self, "Sheet"); }

PyTypeObject* make_sheet_type() {
  static PyGetSetDef getset[] = {
      {"name", getter<Self, sheet_props::name<Self>>, setter<Self, set_name, kValueArg>, nullptr, nullptr},
      {"sheet_state", getter<Self, sheet_props::sheet_state<Self>>, nullptr, nullptr, nullptr},
      {"max_row", getter<Self, sheet_props::max_row<Self>>, nullptr, nullptr, nullptr},
      {"max_column", getter<Self, sheet_props::max_column<Self>>, nullptr, nullptr, nullptr},
      {"cells", getter<Self, sheet_props::cells<Self, new_cell>>, nullptr, nullptr, nullptr},
      {"merge_cells", getter<Self, sheet_props::merge_cells<Self>>, nullptr, nullptr, nullptr},
      {"comments", getter<Self, comments>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;
#define QM_M(sig, name, ...) \
  {&sig, #name, as_cfunction(method<Self, sig, name __VA_OPT__(, ) __VA_ARGS__>), kFast, nullptr}
  static PyMethodDef* methods = build_methods(
      {
          QM_M(kSetSheetState, set_sheet_state),
          QM_M(kAddMergeCells, add_merge_cells, Use::kExclusive),
          QM_M(kAddComment, add_comment, Use::kExclusive),
          QM_M(kCell, cell),
          QM_M(kGetValueCell, get_value_cell),
          QM_M(kDeleteCols, delete_cols),
          QM_M(kDeleteRows, delete_rows),
          QM_M(kSetHeightRow, set_height_row),
          QM_M(kSetHiddenRow, set_hidden_row),
          QM_M(kSetWidthColumn, set_width_column),
          QM_M(kSetHiddenColumn, set_hidden_column),
          QM_M(kGetCellsByRange, get_cells_by_range),
          QM_M(kGetHeightByRow, get_height_by_row),
          QM_M(kGetHiddenByRow, get_hidden_by_row),
          QM_M(kGetWidthByColumn, get_width_by_column),
          QM_M(kGetHiddenByColumn, get_hidden_by_column),
          QM_M(kFindCellByRegex, find_cell_by_regex),
          QM_M(kFindCellByStr, find_cell_by_str),
          QM_M(kFindCellByLetter, find_cell_by_letter),
          QM_M(kFindCellsByRegex, find_cells_by_regex),
          QM_M(kFindCellsByStr, find_cells_by_str),
          QM_M(kFindCellsForRows, find_cells_for_rows_by_regex),
          QM_M(kFindCellsForCols, find_cells_for_cols_by_regex),
          QM_M(kFindCellsMulti, find_cells_multi_regex),
          QM_M(kFindCellsBetween, find_cells_between_regex),
          QM_M(kFindCellsRangeRows, find_cells_range_rows),
          QM_M(kFindCellsRangeCols, find_cells_range_cols),
          QM_M(kFindValueByCoords, find_value_by_coords),
      },
      /*bound=*/true);
#undef QM_M
  return create_handle_type<Self>("quillmoor.Sheet", repr<Self, sheet_repr>, getset, methods);
}

}  // namespace

PyTypeObject* sheet_type() {
  if (SheetObject::type == nullptr) SheetObject::type = make_sheet_type();
  return SheetObject::type;
}

PyObject* new_sheet(SheetRef rec) {
  if (sheet_type() == nullptr) return nullptr;
  return wrap<SheetObject>(std::move(rec));
}

}  // namespace qm::py
