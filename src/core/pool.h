// The process-wide data-parallel pool (oneTBB's default arena: one worker per
// processor, created on first use, the calling thread taking part).
//
//   pool::sort_by_key(entries);   // parallel sort of (packed key, record) pairs
//
// Fork safety: worker threads do not survive fork(). A child process forked
// after the parent used the pool runs every parallel shape on the calling
// thread instead (parallel_allowed() is false there), so it never waits for
// workers that do not exist.
#ifndef QUILLMOOR_CORE_POOL_H_
#define QUILLMOOR_CORE_POOL_H_

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace qm {
class CellRecord;
}

namespace qm::pool {

// False in a process forked after this process's pool was first used.
bool parallel_allowed();

// Below this many items a sort stays on the calling thread: handing work to
// the pool costs more than sorting a few thousand keys.
inline constexpr size_t kSerialSortLimit = 4096;

// Sorts by the packed (row << 32 | column) key, ascending. Keys are unique in
// a cell table, so stability does not matter.
void sort_by_key(std::vector<std::pair<uint64_t, CellRecord*>>& entries);

}  // namespace qm::pool

#endif  // QUILLMOOR_CORE_POOL_H_
