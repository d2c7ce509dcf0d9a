// Intrusive reference counting for the shared records.
//
// A record derives from RefCounted<Record>; Ref<Record> is the handle that
// holds one reference. The count is a 32-bit atomic inside the record, so a
// handle is one pointer and a record pays four bytes for being shared.
//
//   Ref<CellRecord> cell = make_ref<CellRecord>(row, column, value);
//   Ref<CellRecord> again = cell;  // two references, one record
//
// Handles may be copied and dropped on any thread; the record is deleted by
// whichever thread drops the last reference.
#ifndef QUILLMOOR_CORE_REF_H_
#define QUILLMOOR_CORE_REF_H_

#include <atomic>
#include <cstdint>
#include <utility>

namespace qm {

template <class T>
class RefCounted {
 public:
  RefCounted() = default;
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void retain() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void release() const noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete static_cast<const T*>(this);
  }
  // Adds a reference only while the record is still alive: fails (and adds
  // nothing) once the count has reached zero, that is, once the record's
  // destructor is running or about to run. For registries that list records
  // by raw pointer and must not revive a dying one.
  bool try_retain() const noexcept {
    uint32_t n = refs_.load(std::memory_order_relaxed);
    while (n != 0) {
      if (refs_.compare_exchange_weak(n, n + 1, std::memory_order_acquire,
                                      std::memory_order_relaxed))
        return true;
    }
    return false;
  }
  // The number of references; only meaningful while no other thread changes it.
  uint32_t use_count() const noexcept { return refs_.load(std::memory_order_acquire); }

 protected:
  ~RefCounted() = default;

 private:
  mutable std::atomic<uint32_t> refs_{1};
};

template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}  // NOLINT
  Ref(const Ref& o) noexcept : p_(o.p_) {
    if (p_) p_->retain();
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~Ref() {
    if (p_) p_->release();
  }
  Ref& operator=(const Ref& o) noexcept {
    Ref(o).swap(*this);
    return *this;
  }
  Ref& operator=(Ref&& o) noexcept {
    Ref(std::move(o)).swap(*this);
    return *this;
  }

  // Takes over one reference that the caller already owns.
  static Ref adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Adds a reference to a record that someone else keeps alive.
  static Ref share(T* p) noexcept {
    if (p) p->retain();
    return adopt(p);
  }
  // Gives up the reference without releasing it.
  T* leak() noexcept { return std::exchange(p_, nullptr); }

  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }
  void reset() noexcept { Ref().swap(*this); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> make_ref(Args&&... args) {
  return Ref<T>::adopt(new T(std::forward<Args>(args)...));
}

}  // namespace qm

#endif  // QUILLMOOR_CORE_REF_H_
