// The process-wide data-parallel pool: oneTBB's default arena (one worker per
// processor, created on first use, the calling thread taking part), and the
// three shapes every scan of the engine is built from.
//
//   std::optional<size_t> hit = pool::first_match(n, [&](size_t b, size_t e) { ... });
//   std::vector<CellRef> kept = pool::collect<CellRef>(n, [&](size_t b, size_t e, auto& out) { ... });
//
// Pieces. A sequence of n items is cut into contiguous pieces of kPieceSize
// items (the last one shorter). A shape hands one piece at a time to a piece
// kernel, a function over a sub-range [begin, end): the same kernel serves the
// serial path (one call over [0, n)) and the parallel one, and it is where
// per-piece state such as regex match data lives. Results never depend on the
// worker count or on the piece size.
//
// Fork safety: worker threads do not survive fork(). A child process forked
// after the parent used the pool runs every shape on the calling thread
// instead (parallel_allowed() is false there), so it never waits for workers
// that do not exist.
//
// Exceptions: the shapes themselves never throw except std::bad_alloc; an
// exception thrown by a kernel reaches the caller (TBB carries it across).
#ifndef QUILLMOOR_CORE_POOL_H_
#define QUILLMOOR_CORE_POOL_H_

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace qm {
class CellRecord;
}

namespace qm::pool {

// False in a process forked after this process's pool was first used. Safe on
// any thread.
bool parallel_allowed();

// Items per piece. A record test costs 10-100 ns, so a piece is 10-100 us of
// work: far above the cost of handing out a piece (one atomic increment, one
// match data), yet small enough that a first-match search stops soon after
// the best hit and two workers stay evenly loaded.
inline constexpr size_t kPieceSize = 1024;

// Below this many items a scan stays on the calling thread: a sequence of one
// or two pieces is scanned faster than the workers are woken up.
inline constexpr size_t kSerialScanLimit = 2 * kPieceSize;

// Below this many items sort_by_key uses a comparison sort; above it a
// counting sort on the row, whose fixed cost (one counter per row of the
// span) pays off from a few thousand keys on.
inline constexpr size_t kSerialSortLimit = 4096;

// How many threads a parallel shape started on this thread may use (the
// calling thread included): the current arena's concurrency, capped by any
// live WorkerLimit. 1 when parallel_allowed() is false.
size_t worker_count();

// Caps the number of threads of every shape while it lives (benchmarks and
// tests use it for one-worker baselines). Process-wide: when several are
// alive, the smallest wins.
class WorkerLimit {
 public:
  explicit WorkerLimit(size_t threads);
  ~WorkerLimit();
  WorkerLimit(const WorkerLimit&) = delete;
  WorkerLimit& operator=(const WorkerLimit&) = delete;

 private:
  std::unique_ptr<tbb::global_control> control_;
};

// Sorts by the packed (row << 32 | column) key, ascending: a comparison sort
// for small inputs; for a dense row span a counting sort on the row (1.5x
// faster at a million keys than the parallel comparison sort on two workers,
// even on one thread, because it reads memory in order), on the pool for
// large inputs; otherwise the parallel comparison sort. Keys are unique in a cell table,
// so stability does not matter.
void sort_by_key(std::vector<std::pair<uint64_t, CellRecord*>>& entries);

namespace detail {

inline size_t piece_count(size_t n) { return (n + kPieceSize - 1) / kPieceSize; }

// Runs body(piece) for every piece index in [0, pieces), on up to `threads`
// threads (the calling thread among them). Pieces are handed out in ascending
// order from one shared counter, so the front of the sequence is scanned
// first whatever the number of threads; body returns false to stop the thread
// that runs it.
template <class Body>
void run_ordered(size_t pieces, size_t threads, Body& body) {
  std::atomic<size_t> next{0};
  auto participant = [&](const tbb::blocked_range<size_t>&) {
    for (;;) {
      size_t p = next.fetch_add(1, std::memory_order_relaxed);
      if (p >= pieces || !body(p)) return;
    }
  };
  tbb::parallel_for(tbb::blocked_range<size_t>(0, threads, 1), participant,
                    tbb::simple_partitioner());
}

// Whether n items are worth the pool, and with how many threads.
inline size_t threads_for(size_t n) {
  if (n < kSerialScanLimit) return 1;
  return std::min(worker_count(), piece_count(n));
}

}  // namespace detail

// First-match shape. scan(begin, end) returns the position of the first hit
// in [begin, end), or end when there is none; it must have no side effects
// that matter, since pieces after the winning one may be scanned too.
// Returns the smallest hit position over [0, n), exactly what one scan over
// [0, n) returns, or nullopt (always for n == 0).
//
// The best position is one atomic, lowered by a compare-and-swap loop; a
// thread stops at its first hit, and skips every piece that starts after the
// best hit found by anyone.
template <class Scan>
std::optional<size_t> first_match(size_t n, Scan&& scan) {
  if (n == 0) return std::nullopt;
  size_t threads = detail::threads_for(n);
  if (threads <= 1) {
    size_t hit = scan(size_t{0}, n);
    return hit < n ? std::optional<size_t>(hit) : std::nullopt;
  }
  constexpr size_t kNone = std::numeric_limits<size_t>::max();
  std::atomic<size_t> best{kNone};
  auto body = [&](size_t piece) {
    size_t begin = piece * kPieceSize;
    // Pieces are handed out in ascending order: once one starts after the
    // best hit, so do all the rest this thread would get.
    if (begin > best.load(std::memory_order_acquire)) return false;
    size_t end = std::min(n, begin + kPieceSize);
    size_t hit = scan(begin, end);
    if (hit >= end) return true;
    size_t cur = best.load(std::memory_order_relaxed);
    while (hit < cur &&
           !best.compare_exchange_weak(cur, hit, std::memory_order_acq_rel,
                                       std::memory_order_relaxed)) {
    }
    return false;
  };
  detail::run_ordered(detail::piece_count(n), threads, body);
  size_t hit = best.load(std::memory_order_acquire);
  return hit == kNone ? std::nullopt : std::optional<size_t>(hit);
}

// Order-keeping filter-map shape. kernel(begin, end, out) appends the results
// of the items [begin, end) to `out` (a std::vector<T>), in item order. The
// result holds the outputs of all pieces joined in piece order, so it equals
// one kernel call over [0, n); the join sizes the result once (T must be
// default-constructible) and moves each piece's items once.
template <class T, class Kernel>
std::vector<T> collect(size_t n, Kernel&& kernel) {
  std::vector<T> result;
  if (n == 0) return result;
  size_t threads = detail::threads_for(n);
  if (threads <= 1) {
    kernel(size_t{0}, n, result);
    return result;
  }
  size_t pieces = detail::piece_count(n);
  std::vector<std::vector<T>> parts(pieces);
  auto body = [&](size_t piece) {
    size_t begin = piece * kPieceSize;
    // Filled locally and stored once: the vectors of neighbouring pieces
    // share cache lines, and two threads appending to them in place would
    // pass those lines back and forth on every append.
    std::vector<T> local;
    kernel(begin, std::min(n, begin + kPieceSize), local);
    parts[piece] = std::move(local);
    return true;
  };
  detail::run_ordered(pieces, threads, body);
  // Join: every piece's items go to their final place, the pieces in
  // parallel (moving half a million handles is worth two threads), into a
  // result sized once.
  std::vector<size_t> offsets(pieces + 1, 0);
  for (size_t p = 0; p < pieces; ++p) offsets[p + 1] = offsets[p] + parts[p].size();
  result.resize(offsets[pieces]);
  auto join = [&](size_t piece) {
    std::move(parts[piece].begin(), parts[piece].end(), result.begin() + offsets[piece]);
    return true;
  };
  detail::run_ordered(pieces, std::min(threads, detail::threads_for(offsets[pieces])), join);
  return result;
}

// Element-wise conveniences over the shapes above.

// Position of the first item for which pred(item) holds.
template <class T, class Pred>
std::optional<size_t> find_first(std::span<const T> items, Pred&& pred) {
  return first_match(items.size(), [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i)
      if (pred(items[i])) return i;
    return end;
  });
}

// Copies of the items for which pred(item) holds, in item order.
template <class T, class Pred>
std::vector<T> filter(std::span<const T> items, Pred&& pred) {
  return collect<T>(items.size(), [&](size_t begin, size_t end, std::vector<T>& out) {
    for (size_t i = begin; i < end; ++i)
      if (pred(items[i])) out.push_back(items[i]);
  });
}

// The values of map(item) that are engaged (map returns std::optional<U>), in
// item order.
template <class U, class T, class Map>
std::vector<U> filter_map(std::span<const T> items, Map&& map) {
  return collect<U>(items.size(), [&](size_t begin, size_t end, std::vector<U>& out) {
    for (size_t i = begin; i < end; ++i)
      if (std::optional<U> u = map(items[i])) out.push_back(std::move(*u));
  });
}

}  // namespace qm::pool

#endif  // QUILLMOOR_CORE_POOL_H_
