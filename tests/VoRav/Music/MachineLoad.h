// Whether the machine is loaded beyond its cores. Real-time tests set aside
// a run in which the sound device or its writer did not keep real time only
// while it is, so a stall of our own making on a machine that is not loaded
// still fails.
#pragma once

#include <algorithm>
#include <fstream>

#include "VoRav/wpCpuCount.h"

namespace kav::test {

// More than one runnable thread a core: by the one-minute load, or by the
// threads runnable right now (the average lags a load that has just begun).
// `load` gets the larger of the two.
inline bool MachineLoaded(double& load) {
  std::ifstream in("/proc/loadavg");
  double load5 = 0, load15 = 0;
  long running = 0;
  char slash = 0;
  load = 0;
  if (!(in >> load >> load5 >> load15 >> running >> slash)) return false;
  // `running` counts this thread too.
  load = std::max(load, double(running - 1));
  return load > double(UsableCpuCount());
}

}  // namespace kav::test
