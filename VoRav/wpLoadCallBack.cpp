#include "VoRav/wpLoadCallBack.h"

#include <atomic>

#include "VoRav/Win32/winPriorityClass.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Modes 1 and 2 yield once this many milliseconds have passed.
constexpr uint32_t kYieldInterval = 6;

TDefCallBack g_holder;

const TLoadCallback g_handlers[4] = {
    TLoadCallback::Bind<&TDefCallBack::Continue>(&g_holder),
    TLoadCallback::Bind<&TDefCallBack::YieldSlice>(&g_holder),
    TLoadCallback::Bind<&TDefCallBack::SleepShort>(&g_holder),
    TLoadCallback::Bind<&TDefCallBack::Stop>(&g_holder),
};

std::atomic<uint8_t> g_mode{0};
std::atomic<uint32_t> g_last_yield{0};

// Sleeps `ms` (0: the rest of the slice) when the interval has passed since
// the last yield; a racing thread that loses the exchange does not sleep.
void YieldIfDue(uint32_t ms) {
  uint32_t last = g_last_yield.load(std::memory_order_relaxed);
  const uint32_t now = GetElapsedMs();
  if (now - last < kYieldInterval) return;
  if (!g_last_yield.compare_exchange_strong(last, now, std::memory_order_relaxed)) return;
  SleepMs(ms);
}

}  // namespace

bool TDefCallBack::Continue(TRefObject*) { return true; }

bool TDefCallBack::YieldSlice(TRefObject*) {
  YieldIfDue(0);
  return true;
}

bool TDefCallBack::SleepShort(TRefObject*) {
  YieldIfDue(1);
  return true;
}

bool TDefCallBack::Stop(TRefObject*) { return false; }

TLoadCallback GetLoadCallback() { return g_handlers[g_mode.load(std::memory_order_acquire)]; }

bool CallLoadCallback(TRefObject* sender) { return GetLoadCallback()(sender); }

void SetLoadCallbackMode(uint8_t mode) {
  KAV_ASSERT_MSG(mode <= 3, "Unknown load callback mode");
  const uint8_t old = g_mode.load(std::memory_order_acquire);
  if (old == mode) return;
  g_last_yield.store(GetElapsedMs(), std::memory_order_relaxed);
  g_mode.store(mode, std::memory_order_release);
  if (mode == 2) SetProcessPriorityClass(kHighPriorityClass);
  else if (old == 2) SetProcessPriorityClass(kNormalPriorityClass);
}

uint8_t GetLoadCallbackMode() { return g_mode.load(std::memory_order_acquire); }

uint32_t GetLastYieldMs() { return g_last_yield.load(std::memory_order_relaxed); }

}  // namespace kav
