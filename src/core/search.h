// The search engine: every cell search of the system over a search sequence
// (an ordered span of cell handles), and the sheet searches of a finder.
//
//   Result<std::vector<CellRef>> hits = find_cells_by_regex("^total$", cells);
//   const CellRef* first = find_cell_by_str("  Total ", cells);  // nullptr: none
//
// Sequences. The engine scans a CellView: a span of raw record pointers, so a
// search over a sheet's own table needs no reference per cell (see
// CellTable::storage_view) and a vector of handles is scanned in place (a
// CellView converts from a span of CellRef without copying). The caller keeps
// every record of the view alive during the call.
//
// Shapes. A first-match search returns a pointer to the first matching
// element of the view (the one a scan from the front finds first) or
// nullptr; it points into the caller's sequence and lives as long as it
// (hit_handle() turns it back into the caller's CellRef when the view was
// made from handles). A filtering
// search returns new handles (shared, never copies of records) to every
// matching record, in sequence order; a value lookup returns value texts in
// sequence order. Searches that compile a pattern or parse a letter return a
// Result whose error (ErrorCode::kPattern, ErrorCode::kLetter) means nothing
// was searched.
//
// Value text: the text of a record's value as value_text() writes it,
// produced afresh for each record examined, on the stack (no allocation).
// Only the *_by_str searches trim it (Unicode White_Space, both ends).
// Patterns: PCRE2 with "(?i)" put in front (so case is ignored unless the
// pattern turns it back on), matched anywhere in the value text; a match
// that fails at run time (backtracking limits, invalid UTF-8) is no match.
//
// Threads and locks. Every function may be called from any thread, never
// touches Python, and runs its scan on the process-wide pool (pool.h) with the
// calling thread taking part; the anchor scan of the two *_regex anchor
// searches is sequential, on the calling thread. Each record is read under
// the shared side of its own lock, held only while that record is examined;
// no thread holds two record locks. The caller must hold no record lock of a
// record in the sequence exclusively. Every handle in a sequence is non-null;
// duplicates are allowed. Sheets are read under their shared lock, one at a
// time. The only exception that can leave a function is std::bad_alloc.
#ifndef QUILLMOOR_CORE_SEARCH_H_
#define QUILLMOOR_CORE_SEARCH_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/records.h"
#include "core/sheet.h"
#include "core/status.h"

namespace qm {

using CellSpan = std::span<const CellRef>;
using SheetSpan = std::span<const SheetRef>;

// A handle is exactly its record pointer, so a run of handles is read as a
// run of pointers.
static_assert(std::is_standard_layout_v<CellRef> && sizeof(CellRef) == sizeof(CellRecord*) &&
              alignof(CellRef) == alignof(CellRecord*));

// The engine's search sequence: record pointers, in sequence order.
class CellView : public std::span<CellRecord* const> {
 public:
  using std::span<CellRecord* const>::span;
  CellView() = default;
  CellView(std::span<CellRecord* const> raw) : span(raw) {}  // NOLINT: implicit on purpose
  CellView(const std::vector<CellRecord*>& raw) : span(raw) {}  // NOLINT
  // The handles' own pointers, in place.
  CellView(CellSpan refs)  // NOLINT
      : span(reinterpret_cast<CellRecord* const*>(refs.data()), refs.size()) {}
  CellView(const std::vector<CellRef>& refs) : CellView(CellSpan(refs)) {}  // NOLINT
};

// A first-match answer: a pointer to the matching element, or nullptr.
using CellHit = CellRecord* const*;

// The caller's handle behind a hit of a view made from handles.
inline const CellRef* hit_handle(CellHit hit) { return reinterpret_cast<const CellRef*>(hit); }

// ---- text, pattern, coordinate and letter searches ---------------------------

// First / every record whose trimmed value text equals the trimmed text, byte
// for byte (case-sensitive, no other normalisation). An empty or all-space
// text finds the records whose value text is empty or all space.
CellHit find_cell_by_str(std::string_view text, CellView seq);
std::vector<CellRef> find_cells_by_str(std::string_view text, CellView seq);

// First / every record whose value text the pattern "(?i)" + regex matches
// somewhere. The pattern is compiled once per call and shared by the workers.
Result<CellHit> find_cell_by_regex(std::string_view regex, CellView seq);
Result<std::vector<CellRef>> find_cells_by_regex(std::string_view regex, CellView seq);

// First record at (row, column).
CellHit find_cell_by_coords(uint32_t row, uint16_t column, CellView seq);

// Value text (not trimmed) of the first record at (row, column), or nullopt.
std::optional<std::string> find_value_by_coords(uint32_t row, uint16_t column, CellView seq);

// First record at the coordinate that letter parsing reads from letter
// ("$b$3" is row 3, column 2). The letter is parsed once, before any record
// is examined; a refusal is returned as parse_letter's Status (kLetter).
Result<CellHit> find_cell_by_letter(std::string_view letter, CellView seq);

// ---- ranges, bounded scans and value lookups ---------------------------------

// Records with start_row <= row <= end_row (start_col <= column <= end_col).
// Inverted bounds select nothing; they are not swapped.
std::vector<CellRef> find_cells_range_rows(uint32_t start_row, uint32_t end_row, CellView seq);
std::vector<CellRef> find_cells_range_cols(uint16_t start_col, uint16_t end_col, CellView seq);

// Records with row <= row_stop (column <= col_stop) whose value text the
// pattern "(?i)" + regex matches. The position is tested first, so records
// past the stop cost no text and no matching.
Result<std::vector<CellRef>> find_cells_for_cols_by_regex(std::string_view regex,
                                                          uint32_t row_stop, CellView seq);
Result<std::vector<CellRef>> find_cells_for_rows_by_regex(std::string_view regex,
                                                          uint16_t col_stop, CellView seq);

// Value texts (not trimmed) of the records in column `column` whose row is
// one of `rows` (in row `row` whose column is one of `columns`): one text per
// record, in sequence order. The order and repetitions of the list do not
// matter.
std::vector<std::string> find_values_by_col_rows(uint16_t column, std::span<const uint32_t> rows,
                                                 CellView seq);
std::vector<std::string> find_values_by_row_cols(uint32_t row, std::span<const uint16_t> columns,
                                                 CellView seq);

// ---- anchor searches -----------------------------------------------------------

// The marker records of the anchor scan, in the order met: walking the
// sequence with a flag `open` (initially false), a record whose value text
// before_regex matches while closed is a start marker (opens; not tested
// against after_regex), otherwise a record that after_regex matches while
// open is an end marker (closes). Both patterns get the "(?i)" prefix;
// before_regex is compiled first, so when both are invalid its error is the
// one returned. The scan is sequential, on the calling thread.
Result<std::vector<CellRef>> find_cells_multi_regex(std::string_view before_regex,
                                                    std::string_view after_regex, CellView seq);

// Every record whose row lies in the band of the first two markers of the
// anchor scan above: from the first marker's row to the second's, both
// included; with only a start marker, from its row on without limit; with no
// marker, or a second row below the first, nothing. The scan stops after two
// markers; the band filter runs on the pool over the whole sequence.
Result<std::vector<CellRef>> find_cells_between_regex(std::string_view before_regex,
                                                      std::string_view after_regex, CellView seq);

// ---- rectangle selection ---------------------------------------------------------

// Bounds of get_cells_by_range, all inclusive; the defaults are what an
// omitted bound stands for (rows 1 to 1048576, columns 1 to 16384, i.e. XFD).
struct CellRect {
  static constexpr uint32_t kDefaultEndRow = 1048576;
  static constexpr uint16_t kDefaultEndColumn = 16384;
  uint32_t start_row = 1;
  uint32_t end_row = kDefaultEndRow;
  uint16_t start_col = 1;
  uint16_t end_col = kDefaultEndColumn;

  // Omitted bounds (nullopt) take their defaults.
  static CellRect with_defaults(std::optional<uint32_t> start_row, std::optional<uint32_t> end_row,
                                std::optional<uint16_t> start_col,
                                std::optional<uint16_t> end_col);
  bool contains(uint32_t row, uint16_t column) const {
    return start_row <= row && row <= end_row && start_col <= column && column <= end_col;
  }
};

// The records of `cells` (any order, e.g. a cell table's storage order) that
// lie inside rect, ordered by row, then column: filtered on the pool first,
// then only the kept ones sorted (pool::sort_by_key). Records sharing a
// coordinate (impossible in a cell table) come out in unspecified order.
std::vector<CellRef> select_range(CellView cells, const CellRect& rect);

// Orders the handles by row, then column, in place (pool::sort_by_key): how
// a filter over a table's storage order gets sorted results. The caller keeps
// the coordinates from changing meanwhile (holds the sheet lock shared).
void sort_by_position(std::vector<CellRef>& cells);

// ---- sheet searches of a finder ----------------------------------------------------

// First sheet whose name equals name byte for byte.
const SheetRef* find_sheet_by_name(std::string_view name, SheetSpan sheets);

// First sheet whose name the pattern matches somewhere. The pattern is
// compiled as given, without "(?i)": case-sensitive unless it says otherwise.
Result<const SheetRef*> find_sheet_by_regex(std::string_view pattern, SheetSpan sheets);

// The sheets whose name is (is not) one of names, in sheet order, each at
// most once however often its name is listed.
std::vector<SheetRef> sheets_with_names(std::span<const std::string> names, SheetSpan sheets);
std::vector<SheetRef> sheets_without_names(std::span<const std::string> names, SheetSpan sheets);

}  // namespace qm

#endif  // QUILLMOOR_CORE_SEARCH_H_
