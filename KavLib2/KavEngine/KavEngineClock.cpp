#include "KavLib2/KavEngine/KavEngineClock.h"

#include <atomic>

#include "VoRav/vxTime.h"

namespace kav {

namespace {
std::atomic<TEngineClockFn> g_clock{nullptr};
}

int64_t EngineNowMs() {
  const TEngineClockFn fn = g_clock.load();
  return fn ? fn() : MonotonicMs();
}

void SetEngineClock(TEngineClockFn fn) { g_clock = fn; }

}  // namespace kav
