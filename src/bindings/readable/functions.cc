// The module-level search functions of quillmoor.readable. Each converts its
// arguments, turns the list `cells` into a search sequence (ReadableCell
// elements shared, anything else adapted), releases the interpreter lock for
// the engine call only, and wraps what was found.
#include <optional>
#include <string>
#include <vector>

#include "bindings/gil.h"
#include "bindings/readable/adapt.h"
#include "core/search.h"

namespace qm::py {
namespace {

// Adapts `cells` with the interpreter lock held, runs search(span) without
// it, and converts the answer back under it. The sequence outlives the
// answer's conversion, so first-match pointers into it stay valid.
template <class F>
PyObject* search_cells(List cells, F&& search) {
  std::vector<CellRef> seq;
  if (!adapt_cell_list(cells.obj, &seq)) return nullptr;
  auto answer = [&] {
    ReleaseGil nogil;
    return search(CellView(seq));
  }();
  return result_object(answer);
}

constexpr const char* kRowColCells[] = {"row", "col", "cells"};
constexpr const char* kRegexCells[] = {"regex", "cells"};
constexpr const char* kValueCells[] = {"value", "cells"};
constexpr const char* kLetterCells[] = {"letter", "cells"};
constexpr const char* kRegexColStopCells[] = {"regex", "col_stop", "cells"};
constexpr const char* kRegexRowStopCells[] = {"regex", "row_stop", "cells"};
constexpr const char* kMarkersCells[] = {"before_regex", "after_regex", "cells"};
constexpr const char* kRowsCells[] = {"start_row", "end_row", "cells"};
constexpr const char* kColsCells[] = {"start_col", "end_col", "cells"};
constexpr const char* kColRowsCells[] = {"col", "rows", "cells"};
constexpr const char* kRowColsCells[] = {"row", "cols", "cells"};

constexpr Signature kFindCellByCoords{"find_cell_by_coords", kRowColCells, 3};
constexpr Signature kFindValueByCoords{"find_value_by_coords", kRowColCells, 3};
constexpr Signature kFindCellByRegex{"find_cell_by_regex", kRegexCells, 2};
constexpr Signature kFindCellByStr{"find_cell_by_str", kValueCells, 2};
constexpr Signature kFindCellByLetter{"find_cell_by_letter", kLetterCells, 2};
constexpr Signature kFindCellsByRegex{"find_cells_by_regex", kRegexCells, 2};
constexpr Signature kFindCellsByStr{"find_cells_by_str", kValueCells, 2};
constexpr Signature kFindCellsForRowsByRegex{"find_cells_for_rows_by_regex", kRegexColStopCells,
                                             3};
constexpr Signature kFindCellsForColsByRegex{"find_cells_for_cols_by_regex", kRegexRowStopCells,
                                             3};
constexpr Signature kFindCellsMultiRegex{"find_cells_multi_regex", kMarkersCells, 3};
constexpr Signature kFindCellsBetweenRegex{"find_cells_between_regex", kMarkersCells, 3};
constexpr Signature kFindCellsRangeRows{"find_cells_range_rows", kRowsCells, 3};
constexpr Signature kFindCellsRangeCols{"find_cells_range_cols", kColsCells, 3};
constexpr Signature kFindValuesByColRows{"find_values_by_col_rows", kColRowsCells, 3};
constexpr Signature kFindValuesByRowCols{"find_values_by_row_cols", kRowColsCells, 3};

// Bodies, named after the engine operation each one runs (qm::...).
namespace body {

PyObject* find_cell_by_coords(Row row, Col col, List cells) {
  return search_cells(cells,
                      [&](CellView seq) { return qm::find_cell_by_coords(row.v, col.v, seq); });
}

PyObject* find_value_by_coords(Row row, Col col, List cells) {
  return search_cells(cells,
                      [&](CellView seq) { return qm::find_value_by_coords(row.v, col.v, seq); });
}

PyObject* find_cell_by_regex(std::string_view regex, List cells) {
  return search_cells(cells, [&](CellView seq) { return qm::find_cell_by_regex(regex, seq); });
}

PyObject* find_cell_by_str(std::string_view value, List cells) {
  return search_cells(cells, [&](CellView seq) { return qm::find_cell_by_str(value, seq); });
}

PyObject* find_cell_by_letter(std::string_view letter, List cells) {
  return search_cells(cells, [&](CellView seq) { return qm::find_cell_by_letter(letter, seq); });
}

PyObject* find_cells_by_regex(std::string_view regex, List cells) {
  return search_cells(cells, [&](CellView seq) { return qm::find_cells_by_regex(regex, seq); });
}

PyObject* find_cells_by_str(std::string_view value, List cells) {
  return search_cells(cells, [&](CellView seq) { return qm::find_cells_by_str(value, seq); });
}

PyObject* find_cells_for_rows_by_regex(std::string_view regex, Col col_stop, List cells) {
  return search_cells(cells, [&](CellView seq) {
    return qm::find_cells_for_rows_by_regex(regex, col_stop.v, seq);
  });
}

PyObject* find_cells_for_cols_by_regex(std::string_view regex, Row row_stop, List cells) {
  return search_cells(cells, [&](CellView seq) {
    return qm::find_cells_for_cols_by_regex(regex, row_stop.v, seq);
  });
}

PyObject* find_cells_multi_regex(std::string_view before, std::string_view after, List cells) {
  return search_cells(
      cells, [&](CellView seq) { return qm::find_cells_multi_regex(before, after, seq); });
}

PyObject* find_cells_between_regex(std::string_view before, std::string_view after, List cells) {
  return search_cells(
      cells, [&](CellView seq) { return qm::find_cells_between_regex(before, after, seq); });
}

PyObject* find_cells_range_rows(Row start_row, Row end_row, List cells) {
  return search_cells(cells, [&](CellView seq) {
    return qm::find_cells_range_rows(start_row.v, end_row.v, seq);
  });
}

PyObject* find_cells_range_cols(Col start_col, Col end_col, List cells) {
  return search_cells(cells, [&](CellView seq) {
    return qm::find_cells_range_cols(start_col.v, end_col.v, seq);
  });
}

PyObject* find_values_by_col_rows(Col col, std::vector<Row> rows, List cells) {
  std::vector<uint32_t> numbers;
  numbers.reserve(rows.size());
  for (Row r : rows) numbers.push_back(r.v);
  return search_cells(
      cells, [&](CellView seq) { return qm::find_values_by_col_rows(col.v, numbers, seq); });
}

PyObject* find_values_by_row_cols(Row row, std::vector<Col> cols, List cells) {
  std::vector<uint16_t> numbers;
  numbers.reserve(cols.size());
  for (Col c : cols) numbers.push_back(c.v);
  return search_cells(
      cells, [&](CellView seq) { return qm::find_values_by_row_cols(row.v, numbers, seq); });
}

}  // namespace body

template <const Signature& Sig, auto Fn>
MethodSpec entry() {
  // The Python name is the signature's own name.
  return {&Sig, Sig.name, as_cfunction(function<Sig, Fn>), METH_FASTCALL | METH_KEYWORDS, nullptr};
}

}  // namespace

PyMethodDef* readable_functions() {
  static PyMethodDef* defs = build_methods(
      {
          create_finder_spec(),
          entry<kFindCellByCoords, body::find_cell_by_coords>(),
          entry<kFindValueByCoords, body::find_value_by_coords>(),
          entry<kFindCellByRegex, body::find_cell_by_regex>(),
          entry<kFindCellByStr, body::find_cell_by_str>(),
          entry<kFindCellByLetter, body::find_cell_by_letter>(),
          entry<kFindCellsByRegex, body::find_cells_by_regex>(),
          entry<kFindCellsByStr, body::find_cells_by_str>(),
          entry<kFindCellsForRowsByRegex, body::find_cells_for_rows_by_regex>(),
          entry<kFindCellsForColsByRegex, body::find_cells_for_cols_by_regex>(),
          entry<kFindCellsMultiRegex, body::find_cells_multi_regex>(),
          entry<kFindCellsBetweenRegex, body::find_cells_between_regex>(),
          entry<kFindCellsRangeRows, body::find_cells_range_rows>(),
          entry<kFindCellsRangeCols, body::find_cells_range_cols>(),
          entry<kFindValuesByColRows, body::find_values_by_col_rows>(),
          entry<kFindValuesByRowCols, body::find_values_by_row_cols>(),
      },
      /*bound=*/false);
  return defs;
}

}  // namespace qm::py
