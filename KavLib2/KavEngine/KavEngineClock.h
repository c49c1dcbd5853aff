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
// The longest the engine thread really waits between two passes when it
// drew nothing (0: as long as the pass asks). Tests on a fake clock keep
// their passes short with it; what the pass asked stays readable.
uint32_t EngineWaitLimitMs();
void SetEngineWaitLimit(uint32_t ms);

}  // namespace kav
