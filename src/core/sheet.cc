#include "core/sheet.h"

#include <algorithm>
#include <shared_mutex>

#include "core/pool.h"

namespace qm {

// The sheets that may share cell records: a sheet and every copy made from it
// (and from its copies). A structural edit of one member locks the family so
// that no copy is made meanwhile and no other member edits at the same time,
// then gives the other members their own clones of the records it is about to
// move.
class SheetFamily : public RefCounted<SheetFamily> {
 public:
  std::mutex mutex;
  // Live members, by raw pointer (under mutex). A member adds itself when it
  // is created and removes itself in its destructor, so a pointer found here
  // while the mutex is held points to a record whose memory is still valid;
  // its count may already be zero, hence try_retain() before using it.
  std::vector<SheetRecord*> members;

 private:
  friend class RefCounted<SheetFamily>;
  ~SheetFamily() = default;
};

// ---- CellTable ---------------------------------------------------------------------

CellRecord* CellTable::find(uint32_t row, uint16_t column) const {
  auto it = set_.find(CellRecord::pack_key(row, column));
  return it == set_.end() ? nullptr : it->get();
}

bool CellTable::insert_or_replace(CellRef cell) {
  auto it = set_.find(cell->key());
  if (it == set_.end()) {
    set_.insert(std::move(cell));
    return true;
  }
  set_.erase(it);
  set_.insert(std::move(cell));
  return false;
}

void CellTable::insert_new(CellRef cell) { set_.insert(std::move(cell)); }

uint32_t CellTable::max_row() const {
  uint32_t m = 0;
  for (const CellRef& c : set_) m = std::max(m, c->row());
  return m;
}

uint16_t CellTable::max_column() const {
  uint16_t m = 0;
  for (const CellRef& c : set_) m = std::max(m, c->column());
  return m;
}

std::vector<CellRecord*> CellTable::storage_view() const {
  std::vector<CellRecord*> out;
  out.reserve(set_.size());
  for (const CellRef& c : set_) out.push_back(c.get());
  return out;
}

std::vector<std::pair<uint64_t, CellRecord*>> CellTable::sorted_entries() const {
  using Entry = std::pair<uint64_t, CellRecord*>;
  // The pointers first (a walk over the table's slots, touching no record),
  // then the keys, which read every record: a cache miss each, so they are
  // read on the pool with the next records prefetched.
  std::vector<Entry> entries(set_.size());
  {
    size_t i = 0;
    for (const CellRef& c : set_) entries[i++].second = c.get();
  }
  constexpr size_t kAhead = 8;
  auto fill_keys = [&entries](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      if (i + kAhead < end) __builtin_prefetch(entries[i + kAhead].second);
      entries[i].first = entries[i].second->key();
    }
  };
  const size_t n = entries.size();
  const size_t pieces = pool::detail::piece_count(n);
  const size_t threads = pool::detail::threads_for(n);
  if (threads <= 1) {
    fill_keys(0, n);
  } else {
    auto body = [&](size_t piece) {
      size_t begin = piece * pool::kPieceSize;
      fill_keys(begin, std::min(n, begin + pool::kPieceSize));
      return true;
    };
    pool::detail::run_ordered(pieces, threads, body);
  }
  pool::sort_by_key(entries);
  return entries;
}

std::vector<CellRecord*> CellTable::sorted_view() const {
  std::vector<std::pair<uint64_t, CellRecord*>> entries = sorted_entries();
  std::vector<CellRecord*> out(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) out[i] = entries[i].second;
  return out;
}

namespace {

std::vector<CellRef> share_all(const std::vector<std::pair<uint64_t, CellRecord*>>& entries) {
  std::vector<CellRef> out;
  out.reserve(entries.size());
  for (const auto& e : entries) out.push_back(CellRef::share(e.second));
  return out;
}

}  // namespace

std::vector<CellRef> CellTable::sorted() const { return share_all(sorted_entries()); }

std::vector<CellRef> CellTable::range(uint32_t start_row, uint32_t end_row, uint16_t start_col,
                                      uint16_t end_col) const {
  std::vector<std::pair<uint64_t, CellRecord*>> hits;
  for (const CellRef& c : set_) {
    uint32_t r = c->row();
    uint16_t col = c->column();
    if (r >= start_row && r <= end_row && col >= start_col && col <= end_col)
      hits.emplace_back(c->key(), c.get());
  }
  pool::sort_by_key(hits);
  return share_all(hits);
}

// ---- SheetRecord -------------------------------------------------------------------

SheetRecord::SheetRecord(std::string n, std::string s, Ref<SheetFamily> family)
    : name(std::move(n)), sheet_state(std::move(s)), family_(std::move(family)) {}

SheetRecord::~SheetRecord() {
  if (!in_family_) return;
  std::lock_guard guard(family_->mutex);
  auto& m = family_->members;
  m.erase(std::find(m.begin(), m.end(), this));
}

Ref<SheetRecord> SheetRecord::create(std::string name, std::string sheet_state) {
  Ref<SheetRecord> sheet = Ref<SheetRecord>::adopt(
      new SheetRecord(std::move(name), std::move(sheet_state), make_ref<SheetFamily>()));
  std::lock_guard guard(sheet->family_->mutex);
  sheet->family_->members.push_back(sheet.get());
  sheet->in_family_ = true;
  return sheet;
}

Ref<SheetRecord> SheetRecord::copy() const {
  // Made before any lock is taken and registered last: if anything below
  // fails, the unregistered copy dies after the locks are gone, without
  // touching the family.
  Ref<SheetRecord> c =
      Ref<SheetRecord>::adopt(new SheetRecord(std::string(), std::string(), family_));
  std::lock_guard guard(family_->mutex);
  std::shared_lock read(lock_);
  c->name = name;
  c->sheet_state = sheet_state;
  c->merge_cells = merge_cells;
  c->cells = cells;  // the same records, shared
  c->rows = rows;
  c->default_height = default_height;
  c->columns = columns;
  c->default_width = default_width;
  c->comments = comments;  // the same records, shared
  c->fallback_value = fallback_value;
  family_->members.push_back(c.get());
  c->in_family_ = true;
  return c;
}

CellRecord* SheetRecord::cell(uint32_t row, uint16_t column, CellValue* value) {
  // A new record already has its value and that value's code; no other
  // thread can reach it before the sheet lock is released.
  bool created = false;
  CellRecord* c = cells.find_or_create(
      row, column,
      [&] { return make_ref<CellRecord>(row, column, value ? std::move(*value) : CellValue()); },
      &created);
  if (created) return c;
  std::unique_lock write(c->lock());
  if (value != nullptr) {
    c->assign_value(std::move(*value));
  } else if (!c->is_formula()) {
    c->set_data_type("s");
  }
  return c;
}

void SheetRecord::set_row_height(uint32_t row, double height) {
  rows.try_emplace(row, RowDimension{.row_num = row}).first->second.height = height;
}

void SheetRecord::set_row_hidden(uint32_t row, bool hidden) {
  rows.try_emplace(row, RowDimension{.row_num = row}).first->second.hidden = hidden;
}

void SheetRecord::set_column_width(uint16_t column, double width) {
  columns.try_emplace(column, ColumnDimension{.col_num = column}).first->second.width = width;
}

void SheetRecord::set_column_hidden(uint16_t column, bool hidden) {
  columns.try_emplace(column, ColumnDimension{.col_num = column}).first->second.hidden = hidden;
}

double SheetRecord::row_height(uint32_t row) const {
  auto it = rows.find(row);
  return it == rows.end() ? default_height : it->second.height;
}

bool SheetRecord::row_hidden(uint32_t row) const {
  auto it = rows.find(row);
  return it != rows.end() && it->second.hidden;
}

double SheetRecord::column_width(uint16_t column) const {
  auto it = columns.find(column);
  return it == columns.end() ? default_width : it->second.width;
}

bool SheetRecord::column_hidden(uint16_t column) const {
  auto it = columns.find(column);
  return it != columns.end() && it->second.hidden;
}

void SheetRecord::delete_rows(uint32_t idx, uint32_t amount) { delete_span(true, idx, amount); }

void SheetRecord::delete_cols(uint16_t idx, uint16_t amount) { delete_span(false, idx, amount); }

void SheetRecord::delete_span(bool by_row, uint32_t idx, uint32_t amount) {
  if (amount == 0) return;
  // The removed range is [idx, end). Computed in 64 bits: a range that reaches
  // past the last row (column) simply has no cell beyond it, so everything
  // from idx on goes and nothing wraps around onto low numbers.
  const uint64_t end = static_cast<uint64_t>(idx) + amount;
  auto place = [by_row](const CellRecord& c) -> uint64_t { return by_row ? c.row() : c.column(); };

  // Declared before the locks so that they are released after them: dropping
  // the last reference to a sibling runs its destructor, which takes the
  // family mutex.
  std::vector<Ref<SheetRecord>> siblings;
  std::vector<CellRecord*> moving;

  std::lock_guard family(family_->mutex);
  std::unique_lock write(lock_);

  for (SheetRecord* m : family_->members) {
    if (m != this && m->try_retain()) siblings.push_back(Ref<SheetRecord>::adopt(m));
  }
  if (!siblings.empty()) {
    cells.for_each([&](const CellRef& c) {
      if (place(*c) >= end) moving.push_back(c.get());
    });
    // A sibling that holds a record about to move gets a clone of it, taken
    // at the old coordinate, so its key keeps matching its record. Value
    // sharing with this sheet ends for that cell (this sheet keeps the
    // original, so its Cell objects follow the move); siblings that held the
    // same record get the same clone, so they keep sharing among themselves.
    std::vector<CellRef> clones(moving.size());
    for (const Ref<SheetRecord>& sib : siblings) {
      std::unique_lock sib_write(sib->lock_);
      for (size_t i = 0; i < moving.size(); ++i) {
        CellRecord* c = moving[i];
        if (sib->cells.find(c->row(), c->column()) != c) continue;
        if (!clones[i]) {
          std::shared_lock read(c->lock());
          clones[i] = c->clone();
        }
        sib->cells.insert_or_replace(clones[i]);
      }
    }
  }

  CellTable old;
  std::swap(old, cells);
  // Reserve before anything is rewritten, so the rebuild below cannot fail
  // half-way.
  cells.reserve(old.size());
  old.for_each([&](const CellRef& c) {
    uint64_t p = place(*c);
    if (p < idx) {
      cells.insert_new(c);
    } else if (p >= end) {
      // p >= end > idx: the cell moves back by amount. The record is rewritten
      // while it still sits in `old`, which is only destroyed from now on,
      // never searched.
      {
        std::unique_lock cell_write(c->lock());
        if (by_row) {
          c->set_coordinate(static_cast<uint32_t>(p - amount), c->column());
        } else {
          c->set_coordinate(c->row(), static_cast<uint16_t>(p - amount));
        }
      }
      cells.insert_new(c);
    }
    // Otherwise the cell lies in the removed range: the table's reference is
    // dropped with `old`; holders elsewhere keep the record, detached.
  });
}

}  // namespace qm
