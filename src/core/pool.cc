#include "core/pool.h"

#include <tbb/parallel_sort.h>
#include <tbb/task_arena.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

namespace qm::pool {

namespace {

// The pid of the process that first used the pool; 0 until then.
std::atomic<pid_t> g_owner_pid{0};

}  // namespace

bool parallel_allowed() {
  pid_t me = getpid();
  pid_t owner = g_owner_pid.load(std::memory_order_relaxed);
  if (owner == 0) {
    // First use: this process owns the pool. A racing first use from another
    // thread of the same process stores the same pid.
    g_owner_pid.compare_exchange_strong(owner, me, std::memory_order_relaxed);
    owner = g_owner_pid.load(std::memory_order_relaxed);
  }
  return owner == me;
}

size_t worker_count() {
  // Checked first: in a forked child nothing of TBB may be touched.
  if (!parallel_allowed()) return 1;
  size_t arena = static_cast<size_t>(std::max(1, tbb::this_task_arena::max_concurrency()));
  size_t cap = tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
  return std::max<size_t>(1, std::min(arena, cap));
}

WorkerLimit::WorkerLimit(size_t threads)
    : control_(std::make_unique<tbb::global_control>(
          tbb::global_control::max_allowed_parallelism, std::max<size_t>(1, threads))) {}

WorkerLimit::~WorkerLimit() = default;

namespace {

using Entry = std::pair<uint64_t, CellRecord*>;

uint32_t row_of(const Entry& e) { return static_cast<uint32_t>(e.first >> 32); }

// Counting sort on the row, then a sort on the column within each row
// (insertion sort for the usual few cells, a comparison sort for wide rows).
// Sheets are dense in rows, so this is two linear passes over the entries;
// it is used when the row span is at most a few times the count.
void row_bucket_sort(std::vector<Entry>& entries, uint32_t min_row, uint32_t max_row) {
  std::vector<uint32_t> starts(static_cast<size_t>(max_row - min_row) + 2, 0);
  for (const Entry& e : entries) ++starts[row_of(e) - min_row + 1];
  for (size_t i = 1; i < starts.size(); ++i) starts[i] += starts[i - 1];
  std::vector<Entry> out(entries.size());
  {
    std::vector<uint32_t> next(starts.begin(), starts.end() - 1);
    for (const Entry& e : entries) out[next[row_of(e) - min_row]++] = e;
  }
  for (size_t b = 0; b + 1 < starts.size(); ++b) {
    Entry* first = out.data() + starts[b];
    Entry* last = out.data() + starts[b + 1];
    if (last - first > 32) {  // a wide row: insertion sort would go quadratic
      std::sort(first, last, [](const Entry& x, const Entry& y) { return x.first < y.first; });
      continue;
    }
    for (Entry* i = first + 1; i < last; ++i) {
      Entry v = *i;
      Entry* j = i;
      for (; j > first && (j - 1)->first > v.first; --j) *j = *(j - 1);
      *j = v;
    }
  }
  entries.swap(out);
}

}  // namespace

void sort_by_key(std::vector<std::pair<uint64_t, CellRecord*>>& entries) {
  auto less = [](const Entry& a, const Entry& b) { return a.first < b.first; };
  if (entries.size() < kSerialSortLimit) {
    std::sort(entries.begin(), entries.end(), less);
    return;
  }
  uint32_t min_row = UINT32_MAX, max_row = 0;
  for (const Entry& e : entries) {
    min_row = std::min(min_row, row_of(e));
    max_row = std::max(max_row, row_of(e));
  }
  if (static_cast<uint64_t>(max_row - min_row) <= 4 * static_cast<uint64_t>(entries.size())) {
    row_bucket_sort(entries, min_row, max_row);
  } else if (parallel_allowed()) {
    tbb::parallel_sort(entries.begin(), entries.end(), less);
  } else {
    std::sort(entries.begin(), entries.end(), less);
  }
}

}  // namespace qm::pool
