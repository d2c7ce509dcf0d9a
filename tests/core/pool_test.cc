#include "core/pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace qm {
namespace {

using Entry = std::pair<uint64_t, CellRecord*>;

struct SortCase {
  const char* name;
  size_t count;
  uint32_t row_span;  // rows drawn from [first_row, first_row + row_span)
  uint32_t first_row;
  uint16_t columns;
};

class SortByKeyTest : public ::testing::TestWithParam<SortCase> {};

// Dense sheets take the counting sort, sparse ones the comparison sort; both
// must give exactly the order of a plain sort of unique keys.
TEST_P(SortByKeyTest, MatchesPlainSort) {
  const SortCase& c = GetParam();
  std::mt19937_64 rng(42);
  // Keys in a cell table are unique: repeats are drawn again.
  std::vector<Entry> unique;
  std::set<uint64_t> seen;
  while (unique.size() < c.count) {
    uint64_t row = c.first_row + rng() % c.row_span;
    uint64_t col = rng() % c.columns;
    uint64_t key = row << 32 | col;
    if (seen.insert(key).second)
      unique.emplace_back(key, reinterpret_cast<CellRecord*>(unique.size() + 1));
  }
  std::vector<Entry> expected = unique;
  std::sort(expected.begin(), expected.end());
  pool::sort_by_key(unique);
  EXPECT_EQ(unique, expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, SortByKeyTest,
    ::testing::Values(SortCase{"small", 100, 50, 1, 10}, SortCase{"dense", 200000, 20000, 1, 12},
                      SortCase{"dense high rows", 50000, 10000, 4294950000u, 65535},
                      SortCase{"one row", 30000, 1, 7, 65535},
                      SortCase{"sparse", 50000, 4000000000u, 0, 3},
                      // Large enough for the counting sort on several threads.
                      SortCase{"large dense high rows", 100000, 30000, 4294900000u, 300},
                      SortCase{"large one row", 60000, 1, 3, 65535},
                      SortCase{"large rows of one cell", 80000, 200000, 0, 1}),
    [](const auto& param_info) {
      std::string n = param_info.param.name;
      std::replace(n.begin(), n.end(), ' ', '_');
      return n;
    });

}  // namespace
}  // namespace qm
