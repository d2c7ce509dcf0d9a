// A reader-writer lock in one 32-bit word.
//
// Every record of the workbook carries one, so it has to be small: the state
// word holds the reader count, a writer bit and a "someone sleeps" bit, and
// blocked threads sleep on the word itself with C++20 atomic wait/notify
// (a futex on Linux). Uncontended lock and unlock are one compare-and-swap or
// one fetch_sub. It satisfies the standard Lockable and SharedLockable
// requirements, so std::unique_lock and std::shared_lock work with it.
//
//   std::shared_lock read(record.lock());   // shared: many readers
//   std::unique_lock write(record.lock());  // exclusive: one writer
//
// Not recursive, no fairness guarantee beyond the scheduler's.
#ifndef QUILLMOOR_CORE_RWLOCK_H_
#define QUILLMOOR_CORE_RWLOCK_H_

#include <atomic>
#include <cstdint>

namespace qm {

class RwLock {
 public:
  RwLock() = default;
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  void lock_shared() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((s & kWriter) == 0) {
        if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                         std::memory_order_relaxed))
          return;
        continue;
      }
      s = sleep(s);
    }
  }

  bool try_lock_shared() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    while ((s & kWriter) == 0) {
      if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                       std::memory_order_relaxed))
        return true;
    }
    return false;
  }

  void unlock_shared() noexcept {
    uint32_t prev = state_.fetch_sub(1, std::memory_order_release);
    if ((prev & kReaders) == 1 && (prev & kSleepers) != 0) wake();
  }

  void lock() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((s & (kWriter | kReaders)) == 0) {
        if (state_.compare_exchange_weak(s, s | kWriter, std::memory_order_acquire,
                                         std::memory_order_relaxed))
          return;
        continue;
      }
      s = sleep(s);
    }
  }

  bool try_lock() noexcept {
    uint32_t s = state_.load(std::memory_order_relaxed);
    while ((s & (kWriter | kReaders)) == 0) {
      if (state_.compare_exchange_weak(s, s | kWriter, std::memory_order_acquire,
                                       std::memory_order_relaxed))
        return true;
    }
    return false;
  }

  void unlock() noexcept {
    uint32_t prev = state_.fetch_and(~(kWriter | kSleepers), std::memory_order_release);
    if ((prev & kSleepers) != 0) state_.notify_all();
  }

 private:
  static constexpr uint32_t kWriter = 1u << 30;
  static constexpr uint32_t kSleepers = 1u << 31;
  static constexpr uint32_t kReaders = kWriter - 1;

  // Marks the word as having a sleeper and waits until it changes. Any release
  // changes the word (and sees the mark, since it is set by a read-modify-write
  // on the very value the sleeper observed), so no wake-up is lost.
  uint32_t sleep(uint32_t s) noexcept {
    if ((s & kSleepers) == 0) {
      if (!state_.compare_exchange_weak(s, s | kSleepers, std::memory_order_relaxed,
                                        std::memory_order_relaxed))
        return s;
      s |= kSleepers;
    }
    state_.wait(s, std::memory_order_relaxed);
    return state_.load(std::memory_order_relaxed);
  }

  void wake() noexcept {
    state_.fetch_and(~kSleepers, std::memory_order_relaxed);
    state_.notify_all();
  }

  std::atomic<uint32_t> state_{0};
};

static_assert(sizeof(RwLock) == 4);

}  // namespace qm

#endif  // QUILLMOOR_CORE_RWLOCK_H_
