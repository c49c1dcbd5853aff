// Whether the machine is loaded beyond its cores. Real-time tests set aside
// a run in which the sound device or its writer did not keep real time only
// while it is, so a stall of our own making on a machine that is not loaded
// still fails.
#pragma once

#include <algorithm>
#include <fstream>

#include "VoRav/wpCpuCount.h"

namespace kav::test {

// Built with ThreadSanitizer, every thread (the sound device's writer too)
// runs several times slower: a stall of the device there is the build's.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kSlowedBySanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kSlowedBySanitizer = true;
#else
inline constexpr bool kSlowedBySanitizer = false;
#endif
#else
inline constexpr bool kSlowedBySanitizer = false;
#endif

// More than one runnable thread a core: by the one-minute load, or by the
// threads runnable right now (the average lags a load that has just begun).
// `load` gets the larger of the two. A ThreadSanitizer build counts as
// loaded whatever the machine does.
inline bool MachineLoaded(double& load) {
  std::ifstream in("/proc/loadavg");
  double load5 = 0, load15 = 0;
  long running = 0;
  char slash = 0;
  load = 0;
  if (!(in >> load >> load5 >> load15 >> running >> slash)) return kSlowedBySanitizer;
  // `running` counts this thread too.
  load = std::max(load, double(running - 1));
  return kSlowedBySanitizer || load > double(UsableCpuCount());
}

}  // namespace kav::test
