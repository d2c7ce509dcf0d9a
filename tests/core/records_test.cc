#include "core/records.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace qm {
namespace {

TEST(CellRecordTest, SizeIsPinned) {
  // The whole memory budget of a sheet rests on this figure.
  EXPECT_EQ(sizeof(CellRecord), 40u);
  EXPECT_EQ(sizeof(RwLock), 4u);
}

TEST(CellRecordTest, AssignValueRemovesFormulaAndSetsCode) {
  CellRef c = make_ref<CellRecord>(7, 2, parse_value("5"));
  EXPECT_EQ(c->data_type(), "n");
  c->set_style_id("bold");
  c->assign_formula("=A1+1");
  EXPECT_EQ(c->data_type(), "f");
  EXPECT_TRUE(c->is_formula());
  EXPECT_EQ(c->value(), CellValue::integer(5));
  c->assign_value(parse_value("TRUE"));
  EXPECT_EQ(c->formula(), nullptr);
  EXPECT_FALSE(c->is_formula());
  EXPECT_EQ(c->data_type(), "b");
  ASSERT_NE(c->style_id(), nullptr);
  EXPECT_EQ(*c->style_id(), "bold");
}

TEST(CellRecordTest, DataTypeKeepsAnyText) {
  for (const char* dt : {"", "s", "f", "inlineStr", "\xC3\xA9", "\xFF"}) {
    CellRef c = CellRecord::create(1, 1, CellValue::empty(), std::nullopt, dt, std::nullopt,
                                   std::nullopt);
    EXPECT_EQ(c->data_type(), dt);
  }
  CellRef f = CellRecord::create(1, 1, CellValue::integer(1), "=1", "n", "s1", "h");
  EXPECT_FALSE(f->is_formula());  // a formula with a data type other than "f"
  CellRef copy = f->clone();
  EXPECT_EQ(*copy->formula(), "=1");
  EXPECT_EQ(*copy->hidden_value(), "h");
  EXPECT_EQ(copy->data_type(), "n");
}

TEST(RefTest, CountsAndFrees) {
  CellRef a = make_ref<CellRecord>(1, 1, CellValue());
  EXPECT_EQ(a->use_count(), 1u);
  {
    CellRef b = a;
    EXPECT_EQ(a->use_count(), 2u);
    CellRef c = std::move(b);
    EXPECT_EQ(a->use_count(), 2u);
  }
  EXPECT_EQ(a->use_count(), 1u);
}

// Writers flip a record between two consistent states (value, data type and
// formula change together); readers must never see a mix of the two.
TEST(RwLockTest, ReadersNeverSeeTornRecords) {
  CellRef cell = make_ref<CellRecord>(1, 1, CellValue::text("a long text value for state A"));
  std::atomic<bool> stop{false};
  std::atomic<long> torn{0}, reads{0};
  auto writer = [&] {
    for (int i = 0; i < 20000; ++i) {
      std::unique_lock w(cell->lock());
      if (i % 2) {
        cell->assign_value(CellValue::text("a long text value for state A"));
      } else {
        cell->assign_value(CellValue::integer(42));
        cell->assign_formula("=6*7");
      }
    }
  };
  auto reader = [&] {
    while (!stop.load()) {
      std::shared_lock r(cell->lock());
      bool a = cell->value().kind() == ValueKind::kText && cell->data_type() == "s" &&
               cell->formula() == nullptr &&
               cell->value().as_text() == "a long text value for state A";
      bool b = cell->value() == CellValue::integer(42) && cell->data_type() == "f" &&
               cell->formula() != nullptr && *cell->formula() == "=6*7";
      bool fresh = cell->value().kind() == ValueKind::kInteger && cell->data_type() == "n";
      if (!a && !b && !fresh) ++torn;
      ++reads;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) threads.emplace_back(reader);
  std::thread w1(writer), w2(writer);
  w1.join();
  w2.join();
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_GT(reads.load(), 0);
}

// Plain mutual exclusion: unsynchronised increments under the lock add up.
TEST(RwLockTest, ExclusiveSectionsDoNotOverlap) {
  RwLock lock;
  long counter = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  auto work = [&] {
    for (int i = 0; i < 50000; ++i) {
      if (i % 4 == 0) {
        std::shared_lock r(lock);
        if (inside.load() != 0) overlap = true;
      } else {
        std::unique_lock w(lock);
        if (inside.fetch_add(1) != 0) overlap = true;
        ++counter;
        inside.fetch_sub(1);
      }
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4L * 37500);
  EXPECT_FALSE(overlap.load());
}

}  // namespace
}  // namespace qm
