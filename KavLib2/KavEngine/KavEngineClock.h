// The millisecond clock of the engine's objects (idle detection, pacing,
// logs of durations); tests replace it with a fake one.
#pragma once

#include <cstdint>

namespace kav {

using TEngineClockFn = int64_t (*)();

// Milliseconds from the replaceable clock (the monotonic clock by default).
int64_t EngineNowMs();
// nullptr puts the monotonic clock back.
void SetEngineClock(TEngineClockFn fn);

}  // namespace kav
