#include "KavLib2/KavEngine/KavEngineClock.h"

#include <atomic>

#include "VoRav/vxTime.h"

namespace kav {

namespace {
std::atomic<TEngineClockFn> g_clock{nullptr};
std::atomic<uint32_t> g_wait_limit{0};
}

int64_t EngineNowMs() {
  const TEngineClockFn fn = g_clock.load();
  return fn ? fn() : MonotonicMs();
}

void SetEngineClock(TEngineClockFn fn) { g_clock = fn; }

uint32_t EngineWaitLimitMs() { return g_wait_limit.load(); }

void SetEngineWaitLimit(uint32_t ms) { g_wait_limit = ms; }

}  // namespace kav
