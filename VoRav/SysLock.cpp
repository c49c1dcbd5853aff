#include "VoRav/SysLock.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "VoRav/vxTime.h"

namespace kav {

namespace {

struct TLockTable {
  std::mutex guard;  // the table may be filled from any module's start-up
  std::vector<TMutexHandle> handles;
  std::atomic<bool> closing{false};
  std::atomic<int32_t> users{0};
  int64_t start_tick = MonotonicMs();
};

TLockTable& Table() {
  static TLockTable* table = new TLockTable;  // never destroyed: used until exit
  return *table;
}

[[maybe_unused]] const bool g_table_init = (Table(), true);

}  // namespace

void SysLockCreate(TMutexHandle& handle) {
  TLockTable& t = Table();
  handle = CreateMutexHandle(false);
  std::lock_guard<std::mutex> lock(t.guard);
  if (t.handles.size() == t.handles.capacity())
    t.handles.reserve(t.handles.capacity() == 0 ? 16 : t.handles.capacity() * 2);
  t.handles.push_back(handle);
}

void LockWait(TMutexHandle handle) {
  KAV_ASSERT(handle != nullptr);
  TOSMutex::TWaitResult r = handle->Wait(kInfinite);
  KAV_ASSERT(r == TOSMutex::kWaitAcquired || r == TOSMutex::kWaitAbandoned);
}

void LockRelease(TMutexHandle handle) {
  if (handle) handle->Release();
}

bool CoInitializeOnce() {
  TLockTable& t = Table();
  // Count first, then look at the flag: shutdown sets the flag first and then
  // reads the count, so one of the two always sees the other.
  t.users.fetch_add(1);
  if (t.closing.load()) {
    t.users.fetch_sub(1);
    return false;
  }
  return true;
}

void CoUninitializeOnce() { Table().users.fetch_sub(1); }

int64_t SysLockTime() { return MonotonicMs() - Table().start_tick; }

void SysLockSleep(uint32_t ms) { SleepMs(ms); }

bool SysLockShutdown(uint32_t timeout_ms) {
  TLockTable& t = Table();
  t.closing = true;
  int64_t deadline = MonotonicMs() + timeout_ms;
  while (t.users.load() >= 1 && MonotonicMs() < deadline) SleepMs(1);
  bool in_time = t.users.load() < 1;
  std::lock_guard<std::mutex> lock(t.guard);
  if (in_time) {
    for (auto it = t.handles.rbegin(); it != t.handles.rend(); ++it) CloseMutexHandle(*it);
  } else {
    DebugOutputThread("SysLockShutdown: threads still running, locks left open");
  }
  t.handles.clear();
  return in_time;
}

int32_t SysLockCount() {
  std::lock_guard<std::mutex> lock(Table().guard);
  return static_cast<int32_t>(Table().handles.size());
}

int32_t SysLockUsers() { return Table().users.load(); }

}  // namespace kav
