// Locks, events and atomic counters.
//
// TCriticalSection is a plain re-entrant lock. TSafeCriticalSection and TMutex
// sit on a kernel mutex handle (TOSMutex): re-entrant, owned by one thread, and
// able to tell that its owner thread ended while holding it ("abandoned").
// TEvent is a manual-reset event. All timeouts are milliseconds; kInfinite
// waits without a time-out. Every operation may be called from any thread.
#pragma once

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "VoRav/SysObj2.h"

namespace kav {

// Timeout value meaning "wait without a time-out".
inline constexpr uint32_t kInfinite = 0xFFFFFFFF;

// A recursive mutex owned by one thread at a time. When the owner thread ends
// while holding it, the next wait acquires it and reports kWaitAbandoned; the
// mutex is then usable as before. Built on a robust POSIX mutex.
class TOSMutex {
 public:
  enum TWaitResult { kWaitAcquired, kWaitAbandoned, kWaitTimeout, kWaitFailed };

  // Raises EOSError when the system cannot create the mutex.
  TOSMutex();
  TOSMutex(const TOSMutex&) = delete;
  TOSMutex& operator=(const TOSMutex&) = delete;

  // Waits up to `timeout_ms` (0 tries once, kInfinite waits for good). On
  // kWaitAcquired and kWaitAbandoned the caller holds the mutex once more.
  // kWaitFailed: the recursion count overflowed or the mutex is unusable.
  TWaitResult Wait(uint32_t timeout_ms);
  // Drops one level of ownership; false when the caller does not own it.
  bool Release();

 private:
  friend void CloseMutexHandle(TOSMutex* handle);
  ~TOSMutex();
  void Acquired(bool abandoned) noexcept;

  pthread_mutex_t mutex_;
  // The owner's thread id (0: none) and its levels, changed only by the
  // owner: Release never hands the system a mutex the caller does not hold.
  // Atomic because a new owner may take the mutex over from a dead one,
  // which no unlock orders.
  std::atomic<int32_t> owner_{0};
  std::atomic<int32_t> depth_{0};
};

using TMutexHandle = TOSMutex*;

// Creates an unnamed mutex handle, owned by the caller when `initially_owned`.
// Named (cross-process) mutexes are not provided.
TMutexHandle CreateMutexHandle(bool initially_owned);
// Closes a handle (nil is ignored). Ownership held by the calling thread is
// given up first. A mutex still held by another live thread is left open (its
// memory must outlive that thread) and a line goes to the debug output.
void CloseMutexHandle(TMutexHandle handle);

// Plain re-entrant critical section.
class TCriticalSection : public TRefObject {
 public:
  TCriticalSection() = default;
  void Enter() { lock_.lock(); }
  void Leave() { lock_.unlock(); }

 private:
  std::recursive_mutex lock_;
};

// Re-entrant lock over a mutex, usable across a thread that dies holding it.
class TSafeCriticalSection : public TRefObject {
 public:
  TSafeCriticalSection();
  // Waits without time-out. When the previous owner ended holding the lock,
  // sets Abandoned and returns holding it. Any other failure is an assertion
  // ("Error: TSafeCriticalSection.Enter").
  void Enter();
  void Leave();
  bool Abandoned() const noexcept { return abandoned_.load(); }

 protected:
  void Dispose() override;

 private:
  TMutexHandle handle_;
  std::atomic<bool> abandoned_{false};
};

// Holds a lock (anything with Enter and Leave) for a scope.
template <class T>
class TLockScope {
 public:
  explicit TLockScope(T* lock) : lock_(lock) { lock_->Enter(); }
  ~TLockScope() { lock_->Leave(); }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

 private:
  T* lock_;
};

// Manual-reset event, not signalled at creation.
class TEvent : public TRefObject {
 public:
  TEvent() = default;
  bool SetEvent();
  bool ResetEvent();
  // True when signalled within `timeout_ms`.
  bool WaitFor(uint32_t timeout_ms);
  bool WaitForever() { return WaitFor(kInfinite); }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

// Unnamed mutex, not owned at creation. Once it has been found abandoned it
// stays abandoned: every later wait fails at once.
class TMutex : public TRefObject {
 public:
  TMutex();
  // WaitFor without time-out.
  bool Enter() { bool abandoned; return WaitFor(kInfinite, abandoned); }
  // True when the caller now holds the mutex. False on time-out or failure,
  // and with `abandoned` set when its owner ended holding it (the mutex is
  // not held by the caller then).
  bool WaitFor(uint32_t timeout_ms, bool& abandoned);
  bool WaitFor(uint32_t timeout_ms) { bool abandoned; return WaitFor(timeout_ms, abandoned); }
  // Drops one level of ownership; false when the caller does not own it.
  bool Release();
  bool Abandoned() const noexcept { return abandoned_.load(); }
  TMutexHandle Handle() const noexcept { return handle_; }

 protected:
  void Dispose() override;

 private:
  TMutexHandle handle_;
  std::atomic<bool> abandoned_{false};
};

// A 32-bit counter changed only by atomic increment.
class TInterlockedCounter : public TRefObject {
 public:
  explicit TInterlockedCounter(int32_t initial = 0) : value_(initial) {}
  // Returns the new value.
  int32_t Increment() { return value_.fetch_add(1) + 1; }
  int32_t Value() const { return value_.load(); }

 private:
  std::atomic<int32_t> value_;
};

// Locked operations on a plain 32-bit variable.
// Increment and decrement return the new value.
int32_t AtomicIncrement(int32_t& target);
int32_t AtomicDecrement(int32_t& target);
// Stores `value`; returns the previous value.
int32_t AtomicExchange(int32_t& target, int32_t value);
// Stores `value` when the variable equals `comparand`; returns the previous value.
int32_t AtomicCompareExchange(int32_t& target, int32_t value, int32_t comparand);

}  // namespace kav
