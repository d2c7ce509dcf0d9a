// Adaptation of foreign Python objects (any object or dict carrying the
// expected fields, such as the cells and sheets of a spreadsheet reader) into
// core records, so that the search engine and the readable classes never see
// a Python object.
//
//   std::vector<CellRef> seq;
//   if (!adapt_cell_list(cells, &seq)) return nullptr;   // exception set
//
// Field lookup: item access for a dict (or subclass), attribute access for
// anything else; every exception raised by a lookup, a property, __str__ or a
// conversion passes through unchanged. Each field is read exactly once, in a
// fixed order (cells: row, column, value, formula, data_type, style_id;
// sheets: name, sheet_state, merge_cells, cells).
//
// Threads: everything here runs on the calling thread with the interpreter
// lock held, and may run arbitrary Python code. On failure nothing is kept:
// every record built so far is dropped and the exception is left set.
#ifndef QUILLMOOR_BINDINGS_READABLE_ADAPT_H_
#define QUILLMOOR_BINDINGS_READABLE_ADAPT_H_

#include <vector>

#include "bindings/readable/readable.h"
#include "core/records.h"
#include "core/sheet.h"

namespace qm::py {

// The cell adapter: a new, unshared cell record built from the fields of
// `obj`, or a null handle with the Python exception set.
CellRef adapt_cell(PyObject* obj);

// The sheet adapter: a new sheet record (name, state, merged ranges and a
// cell table where the last of several cells at one coordinate wins), or a
// null handle with the exception set. `cells` must be a list: otherwise
// TypeError "'<type>' object cannot be cast as 'list'".
SheetRef adapt_sheet(PyObject* obj);

// The cell list conversion for the module search functions: one record per
// element of `list` (a list or subclass), in list order, duplicates kept. A
// ReadableCell element contributes the record it already shares; any other
// element is adapted. On failure returns false with the exception set and
// `out` empty.
bool adapt_cell_list(PyObject* list, std::vector<CellRef>* out);

// The sheet list conversion for Finder(sheets) and create_finder: every
// element adapted (a ReadableSheet too), in list order. On failure returns
// false with the exception set and `out` empty.
bool adapt_sheet_list(PyObject* list, std::vector<SheetRef>* out);

}  // namespace qm::py

#endif  // QUILLMOOR_BINDINGS_READABLE_ADAPT_H_
