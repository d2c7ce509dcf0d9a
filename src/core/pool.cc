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

void sort_by_key(std::vector<std::pair<uint64_t, CellRecord*>>& entries) {
  auto less = [](const auto& a, const auto& b) { return a.first < b.first; };
  if (entries.size() < kSerialSortLimit || !parallel_allowed()) {
    std::sort(entries.begin(), entries.end(), less);
  } else {
    tbb::parallel_sort(entries.begin(), entries.end(), less);
  }
}

}  // namespace qm::pool
