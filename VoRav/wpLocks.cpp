#include "VoRav/wpLocks.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

// ThreadSanitizer (GCC 12's) does not see pthread_mutex_clocklock, nor a
// mutex that pthread_mutex_timedlock takes over from a dead owner, so such a
// mutex looks free to it and its release is reported. Those builds wait with
// time-out by polling pthread_mutex_trylock, which it models fully.
#if defined(__SANITIZE_THREAD__)
#define KAV_TSAN_TIMED_LOCK 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KAV_TSAN_TIMED_LOCK 1
#endif
#endif

namespace kav {

// ---------------------------------------------------------------------------
// TOSMutex

TOSMutex::TOSMutex() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  int rc = pthread_mutex_init(&mutex_, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) RaiseOSError(rc);
}

TOSMutex::~TOSMutex() { pthread_mutex_destroy(&mutex_); }

TOSMutex::TWaitResult TOSMutex::Wait(uint32_t timeout_ms) {
  int rc;
  if (timeout_ms == kInfinite) {
    rc = pthread_mutex_lock(&mutex_);
  } else if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(&mutex_);
  } else {
#ifdef KAV_TSAN_TIMED_LOCK
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while ((rc = pthread_mutex_trylock(&mutex_)) == EBUSY && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
#else
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(&mutex_, CLOCK_MONOTONIC, &deadline);
#endif
  }
  switch (rc) {
    case 0:
      Acquired(false);
      return kWaitAcquired;
    case EOWNERDEAD:
      // We hold it now; mark it consistent so that it works as before.
      pthread_mutex_consistent(&mutex_);
      Acquired(true);
      return kWaitAbandoned;
    case EBUSY:
    case ETIMEDOUT:
      return kWaitTimeout;
    default:
      return kWaitFailed;
  }
}

void TOSMutex::Acquired(bool abandoned) noexcept {
  // A mutex taken over from a dead owner is held once, whatever its depth was.
  depth_.store(abandoned ? 1 : depth_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  owner_.store(static_cast<int32_t>(gettid()), std::memory_order_relaxed);
}

bool TOSMutex::Release() {
  // Only the owner ever stores its own id, so another thread never reads it here.
  if (owner_.load(std::memory_order_relaxed) != static_cast<int32_t>(gettid())) return false;
  if (depth_.fetch_sub(1, std::memory_order_relaxed) == 1) owner_.store(0, std::memory_order_relaxed);
  return pthread_mutex_unlock(&mutex_) == 0;
}

TMutexHandle CreateMutexHandle(bool initially_owned) {
  auto* m = new TOSMutex();
  if (initially_owned) m->Wait(kInfinite);
  return m;
}

void CloseMutexHandle(TMutexHandle handle) {
  if (!handle) return;
  // A robust mutex held by a live thread sits on that thread's robust list,
  // which the kernel walks when the thread ends: its memory must stay valid.
  TOSMutex::TWaitResult r = handle->Wait(0);
  if (r == TOSMutex::kWaitTimeout || r == TOSMutex::kWaitFailed) {
    DebugOutputThread("CloseMutexHandle: mutex still held by another thread, left open");
    static std::mutex parked_lock;
    static auto* parked = new std::vector<TMutexHandle>;  // kept for good, never freed
    std::lock_guard<std::mutex> guard(parked_lock);
    parked->push_back(handle);
    return;
  }
  // The caller holds it (perhaps several levels deep): give all of them up.
  while (handle->Release()) {
  }
  delete handle;
}

// ---------------------------------------------------------------------------
// TSafeCriticalSection

TSafeCriticalSection::TSafeCriticalSection() : handle_(CreateMutexHandle(false)) {}

void TSafeCriticalSection::Dispose() {
  CloseMutexHandle(handle_);
  handle_ = nullptr;
  TRefObject::Dispose();
}

void TSafeCriticalSection::Enter() {
  switch (handle_->Wait(kInfinite)) {
    case TOSMutex::kWaitAcquired:
      return;
    case TOSMutex::kWaitAbandoned:
      abandoned_ = true;
      return;
    default:
      KAV_ASSERT_FAIL("Error: TSafeCriticalSection.Enter");
  }
}

void TSafeCriticalSection::Leave() { handle_->Release(); }

// ---------------------------------------------------------------------------
// TEvent

bool TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    signalled_ = true;
  }
  changed_.notify_all();
  return true;
}

bool TEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(lock_);
  signalled_ = false;
  return true;
}

bool TEvent::WaitFor(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> guard(lock_);
  if (timeout_ms == kInfinite) {
    changed_.wait(guard, [this] { return signalled_; });
    return true;
  }
  return changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
}

// ---------------------------------------------------------------------------
// TMutex

TMutex::TMutex() : handle_(CreateMutexHandle(false)) {}

void TMutex::Dispose() {
  CloseMutexHandle(handle_);
  handle_ = nullptr;
  TRefObject::Dispose();
}

bool TMutex::WaitFor(uint32_t timeout_ms, bool& abandoned) {
  abandoned = false;
  if (abandoned_) {
    abandoned = true;
    return false;
  }
  switch (handle_->Wait(timeout_ms)) {
    case TOSMutex::kWaitAcquired:
      return true;
    case TOSMutex::kWaitAbandoned:
      abandoned_ = true;
      abandoned = true;
      handle_->Release();
      return false;
    default:
      return false;
  }
}

bool TMutex::Release() { return handle_->Release(); }

// ---------------------------------------------------------------------------
// Atomic operations on plain variables

int32_t AtomicIncrement(int32_t& target) { return std::atomic_ref<int32_t>(target).fetch_add(1) + 1; }

int32_t AtomicDecrement(int32_t& target) { return std::atomic_ref<int32_t>(target).fetch_sub(1) - 1; }

int32_t AtomicExchange(int32_t& target, int32_t value) { return std::atomic_ref<int32_t>(target).exchange(value); }

int32_t AtomicCompareExchange(int32_t& target, int32_t value, int32_t comparand) {
  std::atomic_ref<int32_t>(target).compare_exchange_strong(comparand, value);
  return comparand;  // holds the previous value whether or not it was stored
}

}  // namespace kav
