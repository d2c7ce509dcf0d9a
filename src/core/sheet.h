// The sheet record: a sheet's name and state, its cell table, its layout
// (row and column dimensions, merged ranges) and its comments, plus the
// sheet list of a workbook and the finder's list of sheets.
//
//   Ref<SheetRecord> sheet = SheetRecord::create("Report", "visible");
//   {
//     std::unique_lock w(sheet->lock());
//     CellValue v = parse_value("42");
//     CellRecord* c = sheet->cell(1, 2, &v);   // get or create, assign
//   }
//
// Locking. Lock order is always list > family > sheet > cell/comment, where
// the family mutex is shared by a sheet and all copies made from it (see
// copy()). Members marked "sheet lock shared/exclusive" expect the caller to
// hold lock() that way; the structural edits (delete_rows, delete_cols) and
// copy() take the locks they need themselves, as documented on each. The
// destructor of a sheet takes its family mutex, so never drop what may be
// the last reference to a sheet while holding a sheet lock.
#ifndef QUILLMOOR_CORE_SHEET_H_
#define QUILLMOOR_CORE_SHEET_H_

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/records.h"
#include "core/ref.h"
#include "core/rwlock.h"

namespace qm {

struct MergeRange {
  uint32_t start_row = 0;
  uint32_t end_row = 0;
  uint16_t start_col = 0;
  uint16_t end_col = 0;
  friend bool operator==(const MergeRange&, const MergeRange&) = default;
};

inline constexpr double kDefaultRowHeight = 20.0;
inline constexpr double kDefaultColumnWidth = 22.5;

struct RowDimension {
  uint32_t row_num = 0;
  double height = kDefaultRowHeight;
  bool hidden = false;
  bool collapsed = false;
  uint32_t level = 0;
};

struct ColumnDimension {
  uint16_t col_num = 0;
  double width = kDefaultColumnWidth;
  bool hidden = false;
  bool collapsed = false;
  uint32_t level = 0;
};

// The cells of one sheet: a hash set of shared cell records keyed by each
// record's own (row, column). Keying by the record itself makes "the key
// equals the record's coordinate" hold by construction and keeps one table
// entry at one pointer (8 bytes), which matters at millions of cells.
// A record's coordinate may only change while it is out of every table (or
// in delete_rows/delete_cols, which rebuild the table).
class CellTable {
 public:
  size_t size() const { return set_.size(); }
  bool empty() const { return set_.empty(); }

  CellRecord* find(uint32_t row, uint16_t column) const;
  // Inserts a record; a record already at its coordinate is replaced (and
  // released). Returns true when nothing was replaced.
  bool insert_or_replace(CellRef cell);
  // Inserts a record whose coordinate is known to be free.
  void insert_new(CellRef cell);
  // The record at (row, column), or, when there is none, the record make()
  // returns (it must stand at that coordinate), inserted. One probe of the
  // table either way; *created tells which happened.
  template <class Make>
  CellRecord* find_or_create(uint32_t row, uint16_t column, Make&& make, bool* created) {
    *created = false;
    auto it = set_.lazy_emplace(CellRecord::pack_key(row, column), [&](const auto& construct) {
      *created = true;
      construct(make());
    });
    return it->get();
  }
  void reserve(size_t n) { set_.reserve(n); }
  void clear() { set_.clear(); }

  uint32_t max_row() const;
  uint16_t max_column() const;

  // Storage order: the set's own (unspecified) order.
  template <class F>
  void for_each(F&& f) const {
    for (const CellRef& c : set_) f(c);
  }
  // The same orders as raw record pointers, without taking references (no
  // count changes on a million cold records): valid only while the caller
  // holds the sheet lock, which keeps every record of the table alive.
  std::vector<CellRecord*> storage_view() const;
  std::vector<CellRecord*> sorted_view() const;
  // The sorted cell sequence: by row, then column (pool::sort_by_key on the
  // packed keys).
  std::vector<CellRef> sorted() const;
  // The same order as (packed key, record) pairs without taking references:
  // the pointers stay valid only while the caller holds the sheet lock.
  std::vector<std::pair<uint64_t, CellRecord*>> sorted_entries() const;
  // Cells with start_row <= row <= end_row and start_col <= column <= end_col,
  // sorted; filters before it sorts.
  std::vector<CellRef> range(uint32_t start_row, uint32_t end_row, uint16_t start_col,
                             uint16_t end_col) const;

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(const CellRef& c) const { return absl::Hash<uint64_t>()(c->key()); }
    size_t operator()(uint64_t key) const { return absl::Hash<uint64_t>()(key); }
  };
  struct Eq {
    using is_transparent = void;
    bool operator()(const CellRef& a, const CellRef& b) const { return a->key() == b->key(); }
    bool operator()(const CellRef& a, uint64_t k) const { return a->key() == k; }
    bool operator()(uint64_t k, const CellRef& a) const { return a->key() == k; }
  };
  absl::flat_hash_set<CellRef, Hash, Eq> set_;
};

class SheetFamily;

class SheetRecord : public RefCounted<SheetRecord> {
 public:
  static Ref<SheetRecord> create(std::string name, std::string sheet_state);

  RwLock& lock() const { return lock_; }

  // Fields (read under the sheet lock shared, written under it exclusive).
  std::string name;
  std::string sheet_state;
  std::vector<MergeRange> merge_cells;
  CellTable cells;
  absl::flat_hash_map<uint32_t, RowDimension> rows;
  double default_height = kDefaultRowHeight;
  absl::flat_hash_map<uint16_t, ColumnDimension> columns;
  double default_width = kDefaultColumnWidth;
  std::vector<CommentRef> comments;
  // What a value lookup reports for a coordinate without a cell.
  CellValue fallback_value;

  // Sheet.cell (sheet lock exclusive): the cell at (row, column), created
  // with the value (or Empty) when absent. With a value, the value is
  // assigned (formula removed, data type of the kind); without one, a cell
  // that is not a formula cell gets data type "s" and keeps its value. Takes
  // the cell's lock exclusive for the update. The value is moved into the
  // record (a long text is not copied). Returns the record (owned by the
  // table; share it to keep it).
  CellRecord* cell(uint32_t row, uint16_t column, CellValue* value);

  // Value lookup (sheet lock shared): the cell at (row, column) or nullptr.
  CellRecord* find_cell(uint32_t row, uint16_t column) const { return cells.find(row, column); }

  // Layout setters (sheet lock exclusive) and getters (shared).
  void set_row_height(uint32_t row, double height);
  void set_row_hidden(uint32_t row, bool hidden);
  void set_column_width(uint16_t column, double width);
  void set_column_hidden(uint16_t column, bool hidden);
  double row_height(uint32_t row) const;
  bool row_hidden(uint32_t row) const;
  double column_width(uint16_t column) const;
  bool column_hidden(uint16_t column) const;

  // Removes the cells of `amount` rows (columns) from `idx` on and moves the
  // cells after them up (left) by `amount`, rewriting the moved records in
  // place so Cell objects follow them. A range reaching past the last row
  // (column) removes everything from idx on. Dimensions, merged ranges and
  // comments are untouched. Takes the family lock, this sheet's lock
  // exclusive and each moved cell's lock exclusive itself: call it WITHOUT
  // holding this sheet's lock. Sheets that share moved records with this one
  // (copies) first get their own clones of those records at the old
  // coordinates, so no table ever holds a record whose coordinate differs
  // from its place.
  void delete_rows(uint32_t idx, uint32_t amount);
  void delete_cols(uint16_t idx, uint16_t amount);

  // A copy for copy_sheet: same name, state, defaults, merged ranges and
  // dimension tables (copied), the same cell and comment records (shared).
  // Takes the family lock and this sheet's lock shared itself: call it
  // WITHOUT holding this sheet's lock. The copy joins this sheet's family.
  Ref<SheetRecord> copy() const;

 private:
  friend class RefCounted<SheetRecord>;
  SheetRecord(std::string n, std::string s, Ref<SheetFamily> family);
  ~SheetRecord();

  // The shared body of delete_rows (rows == true) and delete_cols.
  void delete_span(bool rows, uint32_t idx, uint32_t amount);

  mutable RwLock lock_;
  // Sheets that share cell records through copy(); fixed at construction.
  Ref<SheetFamily> family_;
  // Listed among family_'s members (set once, under the family mutex).
  bool in_family_ = false;
};

using SheetRef = Ref<SheetRecord>;

// A workbook's ordered sheets (Book, Service) or a finder's (Finder). Sheets
// are only appended.
class SheetList : public RefCounted<SheetList> {
 public:
  RwLock& lock() const { return lock_; }
  std::vector<SheetRef> sheets;  // under lock()

  // Reads that take the lock shared themselves.
  size_t size() const {
    std::shared_lock r(lock_);
    return sheets.size();
  }
  std::vector<SheetRef> snapshot() const {
    std::shared_lock r(lock_);
    return sheets;
  }
  // The sheet at `position`, counted from 0, or null when there is none
  // (negative positions do not count from the end).
  SheetRef at(int64_t position) const {
    std::shared_lock r(lock_);
    if (position < 0 || static_cast<uint64_t>(position) >= sheets.size()) return SheetRef();
    return sheets[static_cast<size_t>(position)];
  }

 private:
  friend class RefCounted<SheetList>;
  ~SheetList() = default;
  mutable RwLock lock_;
};

using SheetListRef = Ref<SheetList>;

}  // namespace qm

#endif  // QUILLMOOR_CORE_SHEET_H_
