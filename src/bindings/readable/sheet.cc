// Python class ReadableSheet: a read-only handle onto one shared sheet record
// (handed out by Finder), with every cell search. The searches (all methods
// but get_value_cell) release the interpreter lock around the search only:
// arguments are converted before, Python results built after.
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "bindings/cell_common.h"
#include "bindings/gil.h"
#include "bindings/sheet_common.h"
#include "bindings/readable/readable.h"
#include "core/search.h"

namespace qm::py {

PyTypeObject* ReadableSheetObject::type = nullptr;

namespace {

using Self = ReadableSheetObject;

// The order in which a search hands the cell table to the engine.
enum class Order { kSorted, kStorage };

// Runs search(view) over the sheet's cells without the interpreter lock,
// holding the sheet's shared lock meanwhile. The sheet lock is taken inside
// the released scope and dropped before the interpreter lock is taken back.
// The view holds raw pointers, valid under the sheet lock only: `search` must
// return something that owns its handles (not pointers into the view).
template <Order O, class F>
auto search_without_gil(Self* self, F&& search) {
  ReleaseGil nogil;
  std::shared_lock read(self->rec->lock());
  std::vector<CellRecord*> seq =
      O == Order::kSorted ? self->rec->cells.sorted_view() : self->rec->cells.storage_view();
  return search(CellView(seq));
}

// A filter over storage order whose hits are then ordered by row, then
// column: the same list a filter over the sorted sequence returns (a table
// holds one record per coordinate), without sorting the whole table.
template <class F>
auto sorted_filter(Self* self, F&& filter) {
  return search_without_gil<Order::kStorage>(self, [&](CellView seq) {
    auto r = filter(seq);
    if constexpr (std::is_same_v<decltype(r), std::vector<CellRef>>) {
      sort_by_position(r);
    } else {
      if (r.ok()) sort_by_position(*r);
    }
    return r;
  });
}

// A first-match answer as an owning handle.
CellRef owned(CellHit hit) { return hit != nullptr ? CellRef::share(*hit) : CellRef(); }
Result<CellRef> owned(Result<CellHit> r) {
  if (!r.ok()) return r.status();
  return owned(*r);
}

// ---- properties (interpreter lock held throughout) ---------------------------------

// "ReadableSheet (Data) cells: 12"
PyObject* sheet_repr(Self* self) {
  std::string name;
  if (!type_qualname(reinterpret_cast<PyObject*>(self), &name)) return nullptr;
  return sheet_props::repr_with(self, name);
}

// ---- methods ---------------------------------------------------------------------------

constexpr const char* kRowCol[] = {"row", "col"};
constexpr const char* kRange[] = {"start_row", "end_row", "start_col", "end_col"};
constexpr const char* kRegex[] = {"regex"};
constexpr const char* kValue[] = {"value"};
constexpr const char* kLetter[] = {"letter"};
constexpr const char* kRegexColStop[] = {"regex", "col_stop"};
constexpr const char* kRegexRowStop[] = {"regex", "row_stop"};
constexpr const char* kMarkers[] = {"before_regex", "after_regex"};
constexpr const char* kRows[] = {"start_row", "end_row"};
constexpr const char* kCols[] = {"start_col", "end_col"};
constexpr const char* kColRows[] = {"col", "rows"};
constexpr const char* kRowCols[] = {"row", "cols"};

constexpr Signature kGetValueCell{"ReadableSheet.get_value_cell", kRowCol, 2};
constexpr Signature kGetCellsByRange{"ReadableSheet.get_cells_by_range", kRange, 0};
constexpr Signature kFindCellByRegex{"ReadableSheet.find_cell_by_regex", kRegex, 1};
constexpr Signature kFindCellByStr{"ReadableSheet.find_cell_by_str", kValue, 1};
constexpr Signature kFindCellByCoords{"ReadableSheet.find_cell_by_coords", kRowCol, 2};
constexpr Signature kFindCellByLetter{"ReadableSheet.find_cell_by_letter", kLetter, 1};
constexpr Signature kFindCellsByRegex{"ReadableSheet.find_cells_by_regex", kRegex, 1};
constexpr Signature kFindCellsByStr{"ReadableSheet.find_cells_by_str", kValue, 1};
constexpr Signature kFindCellsForRowsByRegex{"ReadableSheet.find_cells_for_rows_by_regex",
                                             kRegexColStop, 2};
constexpr Signature kFindCellsForColsByRegex{"ReadableSheet.find_cells_for_cols_by_regex",
                                             kRegexRowStop, 2};
constexpr Signature kFindCellsMultiRegex{"ReadableSheet.find_cells_multi_regex", kMarkers, 2};
constexpr Signature kFindCellsBetweenRegex{"ReadableSheet.find_cells_between_regex", kMarkers, 2};
constexpr Signature kFindCellsRangeRows{"ReadableSheet.find_cells_range_rows", kRows, 2};
constexpr Signature kFindCellsRangeCols{"ReadableSheet.find_cells_range_cols", kCols, 2};
constexpr Signature kFindValuesByColRows{"ReadableSheet.find_values_by_col_rows", kColRows, 2};
constexpr Signature kFindValuesByRowCols{"ReadableSheet.find_values_by_row_cols", kRowCols, 2};
constexpr Signature kFindValueByCoords{"ReadableSheet.find_value_by_coords", kRowCol, 2};

// Keeps the interpreter lock: a keyed lookup; a coordinate without a cell
// reads as the sheet's fallback value ("").
PyObject* get_value_cell(Self* self, Row row, Col col) {
  return sheet_props::get_value_cell(self, row, col);
}

PyObject* get_cells_by_range(Self* self, std::optional<Row> start_row, std::optional<Row> end_row,
                             std::optional<Col> start_col, std::optional<Col> end_col) {
  auto v = [](auto o) { return o ? std::optional(o->v) : std::nullopt; };
  CellRect rect = CellRect::with_defaults(v(start_row), v(end_row), v(start_col), v(end_col));
  std::vector<CellRef> hits;
  {
    ReleaseGil nogil;
    std::shared_lock read(self->rec->lock());
    hits = self->rec->cells.range(rect.start_row, rect.end_row, rect.start_col, rect.end_col);
  }
  return readable_cell_list(hits);
}

PyObject* find_cell_by_regex(Self* self, std::string_view regex) {
  return result_object(search_without_gil<Order::kStorage>(
      self, [&](CellView seq) { return owned(qm::find_cell_by_regex(regex, seq)); }));
}

PyObject* find_cell_by_str(Self* self, std::string_view value) {
  return result_object(search_without_gil<Order::kStorage>(
      self, [&](CellView seq) { return owned(qm::find_cell_by_str(value, seq)); }));
}

PyObject* find_cell_by_coords(Self* self, Row row, Col col) {
  CellRef hit;
  {
    ReleaseGil nogil;
    std::shared_lock read(self->rec->lock());
    hit = CellRef::share(self->rec->find_cell(row.v, col.v));
  }
  return result_object(hit);
}

PyObject* find_cell_by_letter(Self* self, std::string_view letter) {
  return result_object(search_without_gil<Order::kStorage>(
      self, [&](CellView seq) { return owned(qm::find_cell_by_letter(letter, seq)); }));
}

PyObject* find_cells_by_regex(Self* self, std::string_view regex) {
  return result_object(sorted_filter(
      self, [&](CellView seq) { return qm::find_cells_by_regex(regex, seq); }));
}

PyObject* find_cells_by_str(Self* self, std::string_view value) {
  return result_object(sorted_filter(
      self, [&](CellView seq) { return qm::find_cells_by_str(value, seq); }));
}

PyObject* find_cells_for_rows_by_regex(Self* self, std::string_view regex, Col col_stop) {
  return result_object(sorted_filter(self, [&](CellView seq) {
    return qm::find_cells_for_rows_by_regex(regex, col_stop.v, seq);
  }));
}

PyObject* find_cells_for_cols_by_regex(Self* self, std::string_view regex, Row row_stop) {
  return result_object(sorted_filter(self, [&](CellView seq) {
    return qm::find_cells_for_cols_by_regex(regex, row_stop.v, seq);
  }));
}

PyObject* find_cells_multi_regex(Self* self, std::string_view before, std::string_view after) {
  return result_object(search_without_gil<Order::kSorted>(
      self, [&](CellView seq) { return qm::find_cells_multi_regex(before, after, seq); }));
}

PyObject* find_cells_between_regex(Self* self, std::string_view before, std::string_view after) {
  return result_object(search_without_gil<Order::kSorted>(
      self, [&](CellView seq) { return qm::find_cells_between_regex(before, after, seq); }));
}

PyObject* find_cells_range_rows(Self* self, Row start_row, Row end_row) {
  return result_object(sorted_filter(
      self, [&](CellView seq) { return qm::find_cells_range_rows(start_row.v, end_row.v, seq); }));
}

PyObject* find_cells_range_cols(Self* self, Col start_col, Col end_col) {
  return result_object(sorted_filter(
      self, [&](CellView seq) { return qm::find_cells_range_cols(start_col.v, end_col.v, seq); }));
}

PyObject* find_values_by_col_rows(Self* self, Col col, std::vector<Row> rows) {
  std::vector<uint32_t> numbers;
  numbers.reserve(rows.size());
  for (Row r : rows) numbers.push_back(r.v);
  return result_object(search_without_gil<Order::kStorage>(
      self, [&](CellView seq) { return qm::find_values_by_col_rows(col.v, numbers, seq); }));
}

PyObject* find_values_by_row_cols(Self* self, Row row, std::vector<Col> cols) {
  std::vector<uint16_t> numbers;
  numbers.reserve(cols.size());
  for (Col c : cols) numbers.push_back(c.v);
  return result_object(search_without_gil<Order::kStorage>(
      self, [&](CellView seq) { return qm::find_values_by_row_cols(row.v, numbers, seq); }));
}

PyObject* find_value_by_coords(Self* self, Row row, Col col) {
  std::optional<std::string> text;
  {
    ReleaseGil nogil;
    std::shared_lock read(self->rec->lock());
    if (const CellRecord* c = self->rec->find_cell(row.v, col.v)) {
      ValueTextBuffer buf;
      std::shared_lock rc(c->lock());
      text.emplace(value_text(c->value(), buf));
    }
  }
  return result_object(text);
}

template <const Signature& Sig, auto Fn>
MethodSpec fast(const char* name) {
  return {&Sig, name, as_cfunction(method<Self, Sig, Fn>), METH_FASTCALL | METH_KEYWORDS, nullptr};
}

PyTypeObject* make_readable_sheet_type() {
  static PyGetSetDef getset[] = {
      {"name", getter<Self, sheet_props::name<Self>>, nullptr, nullptr, nullptr},
      {"sheet_state", getter<Self, sheet_props::sheet_state<Self>>, nullptr, nullptr, nullptr},
      {"max_row", getter<Self, sheet_props::max_row<Self>>, nullptr, nullptr, nullptr},
      {"max_column", getter<Self, sheet_props::max_column<Self>>, nullptr, nullptr, nullptr},
      {"cells", getter<Self, sheet_props::cells<Self, new_readable_cell>>, nullptr, nullptr, nullptr},
      {"merge_cells", getter<Self, sheet_props::merge_cells<Self>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static PyMethodDef* methods = build_methods(
      {
          fast<kGetValueCell, get_value_cell>("get_value_cell"),
          fast<kGetCellsByRange, get_cells_by_range>("get_cells_by_range"),
          fast<kFindCellByRegex, find_cell_by_regex>("find_cell_by_regex"),
          fast<kFindCellByStr, find_cell_by_str>("find_cell_by_str"),
          fast<kFindCellByCoords, find_cell_by_coords>("find_cell_by_coords"),
          fast<kFindCellByLetter, find_cell_by_letter>("find_cell_by_letter"),
          fast<kFindCellsByRegex, find_cells_by_regex>("find_cells_by_regex"),
          fast<kFindCellsByStr, find_cells_by_str>("find_cells_by_str"),
          fast<kFindCellsForRowsByRegex, find_cells_for_rows_by_regex>(
              "find_cells_for_rows_by_regex"),
          fast<kFindCellsForColsByRegex, find_cells_for_cols_by_regex>(
              "find_cells_for_cols_by_regex"),
          fast<kFindCellsMultiRegex, find_cells_multi_regex>("find_cells_multi_regex"),
          fast<kFindCellsBetweenRegex, find_cells_between_regex>("find_cells_between_regex"),
          fast<kFindCellsRangeRows, find_cells_range_rows>("find_cells_range_rows"),
          fast<kFindCellsRangeCols, find_cells_range_cols>("find_cells_range_cols"),
          fast<kFindValuesByColRows, find_values_by_col_rows>("find_values_by_col_rows"),
          fast<kFindValuesByRowCols, find_values_by_row_cols>("find_values_by_row_cols"),
          fast<kFindValueByCoords, find_value_by_coords>("find_value_by_coords"),
      },
      /*bound=*/true);
  return create_handle_type<Self>("quillmoor.readable.ReadableSheet", repr<Self, sheet_repr>,
                                 getset, methods);
}

}  // namespace

PyTypeObject* readable_sheet_type() {
  if (ReadableSheetObject::type == nullptr) ReadableSheetObject::type = make_readable_sheet_type();
  return ReadableSheetObject::type;
}

PyObject* new_readable_sheet(SheetRef rec) {
  if (readable_sheet_type() == nullptr) return nullptr;
  return wrap<ReadableSheetObject>(std::move(rec));
}

}  // namespace qm::py
