#include "core/sheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <shared_mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace qm {
namespace {

constexpr uint32_t kMaxRow = std::numeric_limits<uint32_t>::max();
constexpr uint16_t kMaxCol = std::numeric_limits<uint16_t>::max();

// Sheet.cell with a value text (or none), under the sheet lock as the
// bindings call it.
CellRecord* put(SheetRecord& s, uint32_t row, uint16_t col, const char* text = nullptr) {
  std::unique_lock write(s.lock());
  if (text == nullptr) return s.cell(row, col, nullptr);
  CellValue v = parse_value(text);
  return s.cell(row, col, &v);
}

std::string text_of(const CellRecord& c) {
  std::shared_lock read(c.lock());
  return value_text_string(c.value());
}

using Snapshot = std::vector<std::tuple<uint32_t, uint16_t, std::string>>;

// The sheet's cells in table order: (row, column, value text).
Snapshot snapshot(const SheetRecord& s) {
  std::shared_lock read(s.lock());
  Snapshot out;
  for (const CellRef& c : s.cells.sorted()) out.emplace_back(c->row(), c->column(), text_of(*c));
  return out;
}

// Every record of the table is found under its own coordinate: the table is
// keyed by the records, so a record rewritten while it sat in the table
// would be lost to lookups.
void expect_consistent(const SheetRecord& s) {
  std::shared_lock read(s.lock());
  s.cells.for_each([&](const CellRef& c) {
    EXPECT_EQ(s.cells.find(c->row(), c->column()), c.get())
        << "record at (" << c->row() << ", " << c->column() << ") not under its key";
  });
}

// ---- cell() -------------------------------------------------------------------------

TEST(SheetCellTest, NewSheetIsEmpty) {
  SheetRef s = SheetRecord::create("Data", "visible");
  std::shared_lock read(s->lock());
  EXPECT_EQ(s->name, "Data");
  EXPECT_EQ(s->sheet_state, "visible");
  EXPECT_TRUE(s->cells.empty());
  EXPECT_EQ(s->cells.max_row(), 0u);
  EXPECT_EQ(s->cells.max_column(), 0u);
  EXPECT_EQ(s->find_cell(1, 1), nullptr);
  EXPECT_EQ(s->fallback_value.kind(), ValueKind::kEmpty);
  EXPECT_EQ(s->default_height, 20.0);
  EXPECT_EQ(s->default_width, 22.5);
  EXPECT_TRUE(s->merge_cells.empty());
  EXPECT_TRUE(s->comments.empty());
}

struct DataTypeCase {
  const char* name;
  const char* first;   // value of the first cell() call (nullptr: none)
  bool formula;        // assign a formula between the calls
  bool second_call;    // call cell() a second time
  const char* second;  // value of the second call (nullptr: none)
  const char* want_text;
  const char* want_type;
  bool want_formula;
};

class DataTypeTest : public testing::TestWithParam<DataTypeCase> {};

TEST_P(DataTypeTest, FollowsTheRules) {
  const DataTypeCase& tc = GetParam();
  SheetRef s = SheetRecord::create("S", "visible");
  CellRecord* c = put(*s, 2, 3, tc.first);
  if (tc.formula) {
    std::unique_lock w(c->lock());
    c->assign_formula("=A1");
  }
  if (tc.second_call) {
    EXPECT_EQ(put(*s, 2, 3, tc.second), c);
  }
  std::shared_lock r(c->lock());
  EXPECT_EQ(value_text_string(c->value()), tc.want_text);
  EXPECT_EQ(c->data_type(), tc.want_type);
  EXPECT_EQ(c->formula() != nullptr, tc.want_formula);
  EXPECT_EQ(c->row(), 2u);
  EXPECT_EQ(c->column(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataTypeTest,
    testing::Values(
        DataTypeCase{"NewWithoutValue", nullptr, false, false, nullptr, "", "s", false},
        DataTypeCase{"NewWithInteger", "5", false, false, nullptr, "5", "n", false},
        DataTypeCase{"NewWithBool", "TRUE", false, false, nullptr, "true", "b", false},
        DataTypeCase{"NewWithDate", "2024-01-31 23:59:59", false, false, nullptr,
                     "2024-01-31 23:59:59", "d", false},
        DataTypeCase{"NoValueResetsCodeKeepsValue", "5", false, true, nullptr, "5", "s", false},
        DataTypeCase{"ValueReplaces", "5", false, true, "2.5", "2.5", "n", false},
        DataTypeCase{"FormulaCellUntouchedWithoutValue", "5", true, true, nullptr, "5", "f", true},
        DataTypeCase{"ValueRemovesFormula", "5", true, true, "x", "x", "s", false},
        DataTypeCase{"EmptyTextGivesEmpty", "5", false, true, "", "", "s", false}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(SheetCellTest, ExtremeCoordinatesAccepted) {
  SheetRef s = SheetRecord::create("S", "visible");
  CellRecord* a = put(*s, 0, 0, "a");
  CellRecord* b = put(*s, kMaxRow, kMaxCol, "b");
  std::shared_lock read(s->lock());
  EXPECT_EQ(s->find_cell(0, 0), a);
  EXPECT_EQ(s->find_cell(kMaxRow, kMaxCol), b);
  EXPECT_EQ(s->cells.max_row(), kMaxRow);
  EXPECT_EQ(s->cells.max_column(), kMaxCol);
}

// ---- ordering and ranges -------------------------------------------------------------

TEST(CellTableTest, SortedByRowThenColumn) {
  SheetRef s = SheetRecord::create("S", "visible");
  // Enough cells to take the pool's parallel sort as well as the serial one.
  for (uint32_t r = 5000; r > 0; --r) {
    put(*s, r, static_cast<uint16_t>(r % 7));
    put(*s, r, 9);
  }
  put(*s, 0, kMaxCol);
  std::shared_lock read(s->lock());
  std::vector<CellRef> cells = s->cells.sorted();
  ASSERT_EQ(cells.size(), 10001u);
  for (size_t i = 1; i < cells.size(); ++i) {
    EXPECT_LT(std::make_pair(cells[i - 1]->row(), cells[i - 1]->column()),
              std::make_pair(cells[i]->row(), cells[i]->column()));
  }
  EXPECT_EQ(cells.front()->row(), 0u);
  EXPECT_EQ(s->cells.max_row(), 5000u);
  EXPECT_EQ(s->cells.max_column(), kMaxCol);
}

TEST(CellTableTest, RawViewsFollowTheHandleOrders) {
  SheetRef s = SheetRecord::create("S", "visible");
  for (uint32_t r = 3000; r > 0; --r)
    for (uint16_t c : {4, 1, 3}) put(*s, r, c);
  std::shared_lock read(s->lock());
  auto pointers = [](const std::vector<CellRef>& v) {
    std::vector<CellRecord*> out;
    for (const CellRef& c : v) out.push_back(c.get());
    return out;
  };
  std::vector<CellRef> sorted = s->cells.sorted();
  EXPECT_EQ(s->cells.sorted_view(), pointers(sorted));
  std::vector<CellRecord*> walked;
  s->cells.for_each([&](const CellRef& c) { walked.push_back(c.get()); });
  EXPECT_EQ(s->cells.storage_view(), walked);
  // A view takes no reference: each record is held by the table and `sorted`.
  for (const CellRef& c : sorted) EXPECT_EQ(c->use_count(), 2u);
}

TEST(CellTableTest, RangeIsInclusiveAndSorted) {
  SheetRef s = SheetRecord::create("S", "visible");
  for (uint32_t r : {0u, 1u, 2u, 3u, 4u})
    for (uint16_t c : {0, 1, 2, 3}) put(*s, r, c);
  struct Case {
    uint32_t r0, r1;
    uint16_t c0, c1;
    std::vector<std::pair<uint32_t, uint16_t>> want;
  };
  const Case cases[] = {
      {2, 3, 2, 2, {{2, 2}, {3, 2}}},
      {4, 4, 0, 1, {{4, 0}, {4, 1}}},
      {3, 2, 0, 3, {}},  // reversed: nothing
      {1, 1048576, 1, 16384, {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}, {3, 1}, {3, 2},
                              {3, 3}, {4, 1}, {4, 2}, {4, 3}}},
      {0, kMaxRow, 3, kMaxCol, {{0, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 3}}},
  };
  std::shared_lock read(s->lock());
  for (const Case& tc : cases) {
    std::vector<std::pair<uint32_t, uint16_t>> got;
    for (const CellRef& c : s->cells.range(tc.r0, tc.r1, tc.c0, tc.c1))
      got.emplace_back(c->row(), c->column());
    EXPECT_EQ(got, tc.want) << tc.r0 << ".." << tc.r1 << " x " << tc.c0 << ".." << tc.c1;
  }
}

// ---- delete_rows / delete_cols ---------------------------------------------------------

struct DeleteCase {
  const char* name;
  bool rows;  // delete_rows, else delete_cols
  uint32_t idx;
  uint32_t amount;
  std::vector<std::pair<uint32_t, uint16_t>> before;  // cell i holds the value text "v<i>"
  Snapshot after;
};

class DeleteTest : public testing::TestWithParam<DeleteCase> {};

TEST_P(DeleteTest, RemovesTheRangeAndMovesTheRest) {
  const DeleteCase& tc = GetParam();
  SheetRef s = SheetRecord::create("S", "visible");
  std::vector<CellRef> held;  // Cell objects the caller keeps
  Snapshot original;
  for (size_t i = 0; i < tc.before.size(); ++i) {
    std::string v = "v" + std::to_string(i);
    auto [r, c] = tc.before[i];
    held.push_back(CellRef::share(put(*s, r, c, v.c_str())));
    original.emplace_back(r, c, v);
  }
  if (tc.rows) {
    s->delete_rows(tc.idx, tc.amount);
  } else {
    s->delete_cols(static_cast<uint16_t>(tc.idx), static_cast<uint16_t>(tc.amount));
  }
  EXPECT_EQ(snapshot(*s), tc.after);
  expect_consistent(*s);
  // Moved records were rewritten in place (held handles follow them); removed
  // ones are detached with their coordinates and values unchanged.
  std::shared_lock read(s->lock());
  for (size_t i = 0; i < held.size(); ++i) {
    const CellRecord& c = *held[i];
    if (s->find_cell(c.row(), c.column()) == &c) continue;  // still in the sheet
    EXPECT_EQ(std::make_tuple(c.row(), c.column(), text_of(c)), original[i]);
    const uint64_t place = tc.rows ? c.row() : c.column();
    EXPECT_GE(place, tc.idx);
    EXPECT_LT(place, uint64_t{tc.idx} + tc.amount);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteTest,
    testing::Values(
        DeleteCase{"OneRowInTheMiddle", true, 2, 1, {{1, 1}, {2, 1}, {3, 1}},
                   {{1, 1, "v0"}, {2, 1, "v2"}}},
        DeleteCase{"TwoColumnsAtTheStart", false, 1, 2, {{1, 1}, {1, 2}, {1, 3}, {1, 4}},
                   {{1, 1, "v2"}, {1, 2, "v3"}}},
        DeleteCase{"AmountZeroChangesNothing", true, 5, 0, {{4, 1}, {5, 1}, {6, 2}},
                   {{4, 1, "v0"}, {5, 1, "v1"}, {6, 2, "v2"}}},
        DeleteCase{"AmountZeroColumns", false, 0, 0, {{1, 0}, {1, 1}},
                   {{1, 0, "v0"}, {1, 1, "v1"}}},
        DeleteCase{"BlockOfRowsAcrossColumns",
                   true,
                   2,
                   2,
                   {{1, 1}, {2, 1}, {3, 2}, {4, 1}, {5, 2}, {6, 1}},
                   {{1, 1, "v0"}, {2, 1, "v3"}, {3, 2, "v4"}, {4, 1, "v5"}}},
        DeleteCase{"RowZero", true, 0, 1, {{0, 1}, {1, 1}, {2, 3}},
                   {{0, 1, "v1"}, {1, 3, "v2"}}},
        DeleteCase{"NothingAtOrAfterIdx", true, 10, 3, {{1, 1}, {9, 1}},
                   {{1, 1, "v0"}, {9, 1, "v1"}}},
        DeleteCase{"RangePastTheLastRow", true, 6, kMaxRow, {{5, 1}, {6, 1}, {10, 1}, {kMaxRow, 1}},
                   {{5, 1, "v0"}}},
        DeleteCase{"RangeEndingExactlyAtTwoTo32", true, kMaxRow, 1, {{1, 1}, {kMaxRow, 1}},
                   {{1, 1, "v0"}}},
        DeleteCase{"HugeIdxNearTwoTo32",
                   true,
                   kMaxRow - 5,
                   10,
                   {{1, 1}, {kMaxRow - 6, 1}, {kMaxRow - 5, 1}, {kMaxRow, 1}},
                   {{1, 1, "v0"}, {kMaxRow - 6, 1, "v1"}}},
        DeleteCase{"LastRowMovesToZero", true, 0, kMaxRow, {{0, 1}, {7, 1}, {kMaxRow, 2}},
                   {{0, 2, "v2"}}},
        DeleteCase{"RangePastTheLastColumn",
                   false,
                   65530,
                   10,
                   {{1, 1}, {1, 65529}, {1, 65530}, {1, kMaxCol}},
                   {{1, 1, "v0"}, {1, 65529, "v1"}}},
        DeleteCase{"MaxAmountColumns", false, 1, kMaxCol, {{1, 0}, {1, 1}, {2, kMaxCol}},
                   {{1, 0, "v0"}}},
        DeleteCase{"LastColumnMovesToZero", false, 0, kMaxCol - 1, {{3, 0}, {3, 7}, {3, kMaxCol}},
                   {{3, 1, "v2"}}}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST(SheetDeleteTest, LayoutMergesAndCommentsStayPut) {
  SheetRef s = SheetRecord::create("S", "visible");
  for (uint32_t r = 1; r <= 6; ++r) put(*s, r, 1, "x");
  {
    std::unique_lock w(s->lock());
    s->set_row_height(3, 31.0);
    s->set_column_width(2, 9.0);
    s->merge_cells.push_back({5, 6, 1, 2});
    s->comments.push_back(make_ref<CommentRecord>(5, 1, "a", "t"));
  }
  s->delete_rows(1, 1);
  s->delete_cols(1, 1);
  std::shared_lock r(s->lock());
  EXPECT_EQ(s->row_height(3), 31.0);
  EXPECT_EQ(s->row_height(2), 20.0);
  EXPECT_EQ(s->column_width(2), 9.0);
  EXPECT_EQ(s->merge_cells, (std::vector<MergeRange>{{5, 6, 1, 2}}));
  EXPECT_EQ(s->comments[0]->row(), 5u);
  EXPECT_EQ(s->comments[0]->column(), 1u);
}

// ---- dimensions ---------------------------------------------------------------------

TEST(SheetLayoutTest, DefaultsAndSetters) {
  SheetRef s = SheetRecord::create("S", "visible");
  std::unique_lock w(s->lock());
  EXPECT_EQ(s->row_height(1), 20.0);
  EXPECT_EQ(s->column_width(1), 22.5);
  EXPECT_FALSE(s->row_hidden(1));
  EXPECT_FALSE(s->column_hidden(1));

  s->set_row_hidden(4, true);  // new record: default height
  EXPECT_EQ(s->row_height(4), 20.0);
  EXPECT_TRUE(s->row_hidden(4));
  s->set_row_height(5, 30.0);
  s->set_row_hidden(5, true);  // keeps the height
  EXPECT_EQ(s->row_height(5), 30.0);
  s->set_row_height(4, 12.0);  // keeps the hidden flag
  EXPECT_TRUE(s->row_hidden(4));
  const RowDimension& d = s->rows.at(4);
  EXPECT_EQ(d.row_num, 4u);
  EXPECT_FALSE(d.collapsed);
  EXPECT_EQ(d.level, 0u);

  s->set_column_hidden(kMaxCol, true);
  EXPECT_EQ(s->column_width(kMaxCol), 22.5);
  EXPECT_EQ(s->columns.at(kMaxCol).col_num, kMaxCol);
  s->set_column_width(kMaxCol, 7.0);
  EXPECT_TRUE(s->column_hidden(kMaxCol));

  // Any float is stored as given.
  s->set_row_height(kMaxRow, -1.0);
  EXPECT_EQ(s->row_height(kMaxRow), -1.0);
  s->set_column_width(0, std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isinf(s->column_width(0)));
  s->set_row_height(0, std::nan(""));
  EXPECT_TRUE(std::isnan(s->row_height(0)));
}

// ---- copy -------------------------------------------------------------------------------

TEST(SheetCopyTest, CopiesLayoutAndSharesCellsAndComments) {
  SheetRef s = SheetRecord::create("Src", "hidden");
  CellRecord* a = put(*s, 1, 1, "1");
  {
    std::unique_lock w(s->lock());
    s->merge_cells.push_back({1, 2, 1, 2});
    s->set_row_height(3, 40.0);
    s->set_column_hidden(2, true);
    s->default_height = 15.0;
    s->comments.push_back(make_ref<CommentRecord>(1, 1, "auditor", "check"));
  }
  SheetRef c = s->copy();
  {
    std::shared_lock r(c->lock());
    EXPECT_EQ(c->name, "Src");
    EXPECT_EQ(c->sheet_state, "hidden");
    EXPECT_EQ(c->default_height, 15.0);
    EXPECT_EQ(c->default_width, 22.5);
    EXPECT_EQ(c->merge_cells, s->merge_cells);
    EXPECT_EQ(c->row_height(3), 40.0);
    EXPECT_TRUE(c->column_hidden(2));
    EXPECT_EQ(c->find_cell(1, 1), a);  // the same record
    ASSERT_EQ(c->comments.size(), 1u);
    EXPECT_EQ(c->comments[0].get(), s->comments[0].get());
  }
  // A value edit through either sheet shows in both.
  put(*c, 1, 1, "7");
  EXPECT_EQ(text_of(*a), "7");
  {
    std::unique_lock w(s->comments[0]->lock());
    s->comments[0]->set_text("changed");
  }
  EXPECT_EQ(c->comments[0]->text(), "changed");
  // Additions reach only the sheet they are made on.
  put(*c, 5, 5, "x");
  {
    std::unique_lock w(c->lock());
    c->merge_cells.push_back({3, 4, 3, 4});
    c->set_row_height(3, 1.0);
    c->set_column_width(9, 1.0);
    c->comments.push_back(make_ref<CommentRecord>(2, 2, "b", "c"));
  }
  std::shared_lock r(s->lock());
  EXPECT_EQ(s->find_cell(5, 5), nullptr);
  EXPECT_EQ(s->merge_cells.size(), 1u);
  EXPECT_EQ(s->row_height(3), 40.0);
  EXPECT_EQ(s->columns.count(9), 0u);
  EXPECT_EQ(s->comments.size(), 1u);
}

// Both directions of a structural edit on sheets that share records: the
// edited sheet behaves as if alone (its handles follow the moves), the other
// keeps every cell where it was, and no table holds a record under a foreign
// coordinate.
struct MendCase {
  const char* name;
  bool edit_copy;  // delete on the copy, else on the source
};

class CopyMendTest : public testing::TestWithParam<MendCase> {};

TEST_P(CopyMendTest, EditedSheetMovesOtherStays) {
  SheetRef src = SheetRecord::create("S", "visible");
  for (uint32_t r = 1; r <= 5; ++r) put(*src, r, 1, ("r" + std::to_string(r)).c_str());
  SheetRef cpy = src->copy();
  // A cell that only the copy has (added after the copy was made).
  put(*cpy, 6, 1, "only-copy");

  SheetRef edited = GetParam().edit_copy ? cpy : src;
  SheetRef other = GetParam().edit_copy ? src : cpy;
  Snapshot other_before = snapshot(*other);
  CellRef moved_handle;  // the edited sheet's handle on row 4
  {
    std::shared_lock r(edited->lock());
    moved_handle = CellRef::share(edited->find_cell(4, 1));
  }

  edited->delete_rows(2, 1);

  EXPECT_EQ(snapshot(*other), other_before);
  expect_consistent(*src);
  expect_consistent(*cpy);
  EXPECT_EQ(moved_handle->row(), 3u);
  EXPECT_EQ(text_of(*moved_handle), "r4");
  {
    std::shared_lock r(edited->lock());
    EXPECT_EQ(edited->find_cell(3, 1), moved_handle.get());
  }
  {
    std::shared_lock r(other->lock());
    // The other sheet now has its own record for row 4 ...
    CellRecord* own = other->find_cell(4, 1);
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, moved_handle.get());
    // ... while the unmoved row 1 is still shared.
    std::shared_lock re(edited->lock());
    EXPECT_EQ(other->find_cell(1, 1), edited->find_cell(1, 1));
  }
  // Value edits through the still-shared cell reach both; through the
  // separated ones they do not.
  put(*edited, 1, 1, "both");
  put(*edited, 3, 1, "edited-only");
  std::shared_lock r(other->lock());
  EXPECT_EQ(text_of(*other->find_cell(1, 1)), "both");
  EXPECT_EQ(text_of(*other->find_cell(4, 1)), "r4");
}

INSTANTIATE_TEST_SUITE_P(Directions, CopyMendTest,
                         testing::Values(MendCase{"EditSource", false}, MendCase{"EditCopy", true}),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(SheetCopyTest, MendReachesEveryCopyInTheFamily) {
  SheetRef a = SheetRecord::create("A", "visible");
  for (uint16_t c = 1; c <= 4; ++c) put(*a, 1, c, std::to_string(c).c_str());
  SheetRef b = a->copy();
  SheetRef c = b->copy();  // a copy of a copy shares with both
  SheetRef d = a->copy();
  d.reset();  // a dead member is skipped
  b->delete_cols(1, 1);
  EXPECT_EQ(snapshot(*b), (Snapshot{{1, 1, "2"}, {1, 2, "3"}, {1, 3, "4"}}));
  Snapshot untouched{{1, 1, "1"}, {1, 2, "2"}, {1, 3, "3"}, {1, 4, "4"}};
  EXPECT_EQ(snapshot(*a), untouched);
  EXPECT_EQ(snapshot(*c), untouched);
  for (const SheetRef& s : {a, b, c}) expect_consistent(*s);
  // a and c were not separated from each other: they still share.
  std::shared_lock ra(a->lock()), rc(c->lock());
  EXPECT_EQ(a->find_cell(1, 3), c->find_cell(1, 3));
}

TEST(SheetCopyTest, SourceMayDieBeforeItsCopy) {
  SheetRef s = SheetRecord::create("S", "visible");
  put(*s, 2, 2, "x");
  SheetRef c = s->copy();
  s.reset();
  c->delete_rows(1, 1);
  EXPECT_EQ(snapshot(*c), (Snapshot{{1, 2, "x"}}));
}

// Deletes, copies, value edits, readers and dying copies at once: the lock
// order (family > sheet > cell) holds, a copy that dies during a delete is
// skipped, and every table stays keyed by its records' own coordinates.
TEST(SheetCopyTest, ConcurrentEditsAndCopies) {
  SheetRef src = SheetRecord::create("S", "visible");
  for (uint32_t r = 0; r < 64; ++r) put(*src, r, static_cast<uint16_t>(r % 4), "x");
  constexpr int kRounds = 300;
  std::thread editor([&] {
    for (int i = 0; i < kRounds; ++i) {
      src->delete_rows(static_cast<uint32_t>(i % 7), 1);
      put(*src, static_cast<uint32_t>(i % 50), static_cast<uint16_t>(i % 3), "e");
    }
  });
  std::thread copier([&] {
    for (int i = 0; i < kRounds; ++i) {
      SheetRef c = src->copy();
      put(*c, 1, 1, "c");
      c->delete_cols(0, 1);
      expect_consistent(*c);
    }  // each copy dies here, possibly while the editor runs a delete
  });
  std::thread reader([&] {
    for (int i = 0; i < kRounds; ++i) {
      expect_consistent(*src);
      std::shared_lock read(src->lock());
      for (const CellRef& c : src->cells.sorted()) text_of(*c);
    }
  });
  editor.join();
  copier.join();
  reader.join();
  expect_consistent(*src);
}

// ---- a randomized walk against a model ------------------------------------------------

// Model: per sheet, an ordered map from (row, column) to a shared value box.
// Sheets that share a box share a record; a structural edit gives the other
// sheets that held a cell it moves one new box for it, shared among them.
using Box = std::shared_ptr<std::string>;
using ModelSheet = std::map<std::pair<uint32_t, uint16_t>, Box>;

// Returns how many cells the edit separated from other sheets.
int model_delete(std::vector<ModelSheet>& model, size_t which, bool rows, uint32_t idx,
                 uint32_t amount) {
  int separated = 0;
  if (amount == 0) return separated;
  const uint64_t end = uint64_t{idx} + amount;
  ModelSheet next;
  for (auto& [key, box] : model[which]) {
    uint64_t p = rows ? key.first : key.second;
    if (p < idx) {
      next.emplace(key, box);
    } else if (p >= end) {
      Box stays = std::make_shared<std::string>(*box);
      for (size_t o = 0; o < model.size(); ++o) {
        if (o == which) continue;
        auto it = model[o].find(key);
        if (it != model[o].end() && it->second == box) {
          it->second = stays;
          ++separated;
        }
      }
      auto moved = key;
      if (rows) {
        moved.first = static_cast<uint32_t>(p - amount);
      } else {
        moved.second = static_cast<uint16_t>(p - amount);
      }
      next.emplace(moved, box);
    }
  }
  model[which] = std::move(next);
  return separated;
}

TEST(SheetModelTest, RandomEditsMatchTheModel) {
  std::mt19937 rng(20240305);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  std::vector<SheetRef> sheets{SheetRecord::create("S", "visible")};
  std::vector<ModelSheet> model(1);
  int counter = 0;
  int separated = 0;  // the walk must actually exercise the copy mend

  for (int step = 0; step < 20000; ++step) {
    size_t w = pick(static_cast<uint32_t>(sheets.size()));
    uint32_t op = pick(100);
    if (op < 55) {  // cell with a value
      uint32_t r = pick(12);
      uint16_t c = static_cast<uint16_t>(pick(6));
      std::string v = "v" + std::to_string(counter++);
      put(*sheets[w], r, c, v.c_str());
      Box& box = model[w][{r, c}];
      if (box) {
        *box = v;
      } else {
        box = std::make_shared<std::string>(v);
      }
    } else if (op < 75) {
      uint32_t idx = pick(12);
      uint32_t amount = pick(10) == 0 ? kMaxRow - pick(3) : pick(4);
      sheets[w]->delete_rows(idx, amount);
      separated += model_delete(model, w, true, idx, amount);
    } else if (op < 90) {
      uint16_t idx = static_cast<uint16_t>(pick(6));
      uint16_t amount = static_cast<uint16_t>(pick(10) == 0 ? kMaxCol : pick(3));
      sheets[w]->delete_cols(idx, amount);
      separated += model_delete(model, w, false, idx, amount);
    } else if (op < 97 && sheets.size() < 5) {
      sheets.push_back(sheets[w]->copy());
      model.push_back(model[w]);
    } else if (sheets.size() > 1) {  // drop a sheet
      sheets.erase(sheets.begin() + w);
      model.erase(model.begin() + w);
    }

    for (size_t i = 0; i < sheets.size(); ++i) {
      Snapshot want;
      for (const auto& [key, box] : model[i]) want.emplace_back(key.first, key.second, *box);
      ASSERT_EQ(snapshot(*sheets[i]), want) << "step " << step << " sheet " << i;
      expect_consistent(*sheets[i]);
    }
    // Two sheets share a record exactly where the model shares a box.
    for (size_t i = 0; i < sheets.size(); ++i) {
      for (size_t j = i + 1; j < sheets.size(); ++j) {
        std::shared_lock ri(sheets[i]->lock()), rj(sheets[j]->lock());
        for (const auto& [key, box] : model[i]) {
          auto it = model[j].find(key);
          if (it == model[j].end()) continue;
          bool shared = sheets[i]->find_cell(key.first, key.second) ==
                        sheets[j]->find_cell(key.first, key.second);
          ASSERT_EQ(shared, it->second == box) << "step " << step << " sheets " << i << "," << j;
        }
      }
    }
  }
  EXPECT_GT(separated, 100);
}

}  // namespace
}  // namespace qm
