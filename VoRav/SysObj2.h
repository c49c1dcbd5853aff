// The reference-counted object base and its smart pointer.
//
// A TRefObject starts with a count of 1 (the creator's reference). RefAddRef
// takes another reference, RefRelease or Free drops one; the release that
// takes the count to 0 runs Dispose once and deletes the object. Objects are
// always created with `new` (or MakeRef) and never deleted directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "VoRav/wpExceptions.h"

namespace kav {

class TRefObject {
 public:
  TRefObject() noexcept;
  TRefObject(const TRefObject&) = delete;
  TRefObject& operator=(const TRefObject&) = delete;

  // Drops the creator's (or any one) reference. Same as RefRelease(this).
  void Free();

  int32_t RefCount() const noexcept { return ref_count_.load(std::memory_order_acquire); }
  // The class name without namespace, as the use checks report it.
  std::string ClassName() const;

  friend int32_t RefAddRef(TRefObject* obj) noexcept;
  friend bool RefTryAddRef(TRefObject* obj) noexcept;
  friend int32_t RefRelease(TRefObject* obj);

 protected:
  virtual ~TRefObject();
  // Clean-up run once by the last release, while the object is still whole.
  // Descendants release what they own and call the inherited Dispose last.
  virtual void Dispose();
  // The instance-release step after Dispose: deletes the object. A class may
  // put it off (its memory and fields stay whole until it deletes itself).
  virtual void FreeInstance();

 private:
  enum : uint8_t { kCreated = 1, kConstructed = 2, kDisposed = 4 };
  void Destroy();

  std::atomic<int32_t> ref_count_;
  uint8_t flags_;
};

// Nil-safe: takes a reference and returns the new count (0 for nil).
int32_t RefAddRef(TRefObject* obj) noexcept;
// Takes a reference unless the count has already reached 0 (the object is
// being disposed): for lists that hold objects without a reference and drop
// them in Dispose under their own lock. False for nil.
bool RefTryAddRef(TRefObject* obj) noexcept;
// Nil-safe: drops a reference; the last one disposes and deletes the object.
// Returns the remaining count. A use fault is reported as an assertion
// (EAbort); the object's memory is released all the same.
int32_t RefRelease(TRefObject* obj);

// Intrusive owning pointer to a TRefObject descendant.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  // Shares: takes a new reference to `p`.
  explicit Ref(T* p) noexcept : p_(p) { RefAddRef(p_); }
  Ref(const Ref& o) noexcept : p_(o.p_) { RefAddRef(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& o) noexcept : p_(o.get()) { RefAddRef(p_); }
  template <class U>
  Ref(Ref<U>&& o) noexcept : p_(o.release()) {}
  ~Ref() { reset(); }

  Ref& operator=(const Ref& o) noexcept { Ref(o).swap(*this); return *this; }
  Ref& operator=(Ref&& o) noexcept { Ref(std::move(o)).swap(*this); return *this; }
  Ref& operator=(std::nullptr_t) noexcept { reset(); return *this; }

  // Takes over a reference the caller already owns (such as a fresh object's).
  static Ref Adopt(T* p) noexcept { Ref r; r.p_ = p; return r; }
  // Gives up ownership of the reference without releasing it.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) {
      try { RefRelease(p); } catch (...) { /* reported through the debug output */ }
    }
  }
  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// Creates a T and adopts its initial reference.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>::Adopt(new T(std::forward<Args>(args)...));
}

// Demangled class name of a polymorphic object, namespace cut off.
std::string DemangledClassName(const std::type_info& type);

}  // namespace kav
