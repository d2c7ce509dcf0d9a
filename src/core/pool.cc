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

// Sorts the entries of one row bucket by column: insertion sort for the usual
// few cells, a comparison sort for wide rows.
void sort_bucket(Entry* first, Entry* last) {
  if (last - first > 32) {  // a wide row: insertion sort would go quadratic
    std::sort(first, last, [](const Entry& x, const Entry& y) { return x.first < y.first; });
    return;
  }
  for (Entry* i = first + 1; i < last; ++i) {
    Entry v = *i;
    Entry* j = i;
    for (; j > first && (j - 1)->first > v.first; --j) *j = *(j - 1);
    *j = v;
  }
}

// Counting sort on the row, then a sort on the column within each row.
// Sheets are dense in rows, so this is two linear passes over the entries;
// it is used when the row span is at most a few times the count.
//
// With several threads, each takes a contiguous part of the entries and
// counts its rows in its own histogram; the offsets are laid out row by row,
// part by part within a row, so each thread then scatters its part into
// places no other thread writes, and finally the buckets are sorted by
// ranges of rows, again in parallel.
void row_bucket_sort(std::vector<Entry>& entries, uint32_t min_row, uint32_t max_row,
                     size_t threads) {
  const size_t n = entries.size();
  const size_t buckets = static_cast<size_t>(max_row - min_row) + 1;
  threads = std::max<size_t>(1, threads);
  std::vector<std::vector<uint32_t>> counts(threads, std::vector<uint32_t>(buckets, 0));
  std::vector<Entry> out(n);
  auto part = [&](size_t t) {
    return std::pair<size_t, size_t>(n * t / threads, n * (t + 1) / threads);
  };
  auto run = [&](auto&& body) {
    if (threads == 1) {
      body(size_t{0});
      return;
    }
    auto step = [&](size_t t) {
      body(t);
      return true;
    };
    detail::run_ordered(threads, threads, step);
  };
  run([&](size_t t) {
    auto [b, e] = part(t);
    std::vector<uint32_t>& c = counts[t];
    for (size_t i = b; i < e; ++i) ++c[row_of(entries[i]) - min_row];
  });
  // counts[t][r] becomes the place of part t's first entry of row r; starts
  // keeps where each row begins.
  std::vector<uint32_t> starts(buckets + 1);
  uint32_t at = 0;
  for (size_t r = 0; r < buckets; ++r) {
    starts[r] = at;
    for (size_t t = 0; t < threads; ++t) {
      uint32_t k = counts[t][r];
      counts[t][r] = at;
      at += k;
    }
  }
  starts[buckets] = at;
  run([&](size_t t) {
    auto [b, e] = part(t);
    std::vector<uint32_t>& next = counts[t];
    for (size_t i = b; i < e; ++i) out[next[row_of(entries[i]) - min_row]++] = entries[i];
  });
  run([&](size_t t) {
    size_t rb = buckets * t / threads, re = buckets * (t + 1) / threads;
    for (size_t r = rb; r < re; ++r) sort_bucket(out.data() + starts[r], out.data() + starts[r + 1]);
  });
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
    // Several threads only for large inputs: each costs a histogram of the
    // rows and a wake-up.
    size_t threads =
        entries.size() < 16 * kSerialSortLimit ? 1 : std::min<size_t>(worker_count(), 8);
    row_bucket_sort(entries, min_row, max_row, threads);
  } else if (parallel_allowed()) {
    tbb::parallel_sort(entries.begin(), entries.end(), less);
  } else {
    std::sort(entries.begin(), entries.end(), less);
  }
}

}  // namespace qm::pool
