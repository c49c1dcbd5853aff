#include "VoRav/Win32/winPriorityClass.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace kav {

namespace {

// The steps of nice value the high class raises every thread by.
constexpr int kHighSteps = 10;
constexpr int kMinNice = -20, kMaxNice = 19;

std::mutex g_lock;
std::atomic<uint32_t> g_class{kNormalPriorityClass};
// Threads whose nice value raising changed, with the value they had before.
std::vector<std::pair<id_t, int>> g_saved;

std::vector<id_t> ProcessThreads() {
  std::vector<id_t> tids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) {
      char* end = nullptr;
      const long tid = std::strtol(e->d_name, &end, 10);
      if (end != e->d_name && *end == 0 && tid > 0) tids.push_back(static_cast<id_t>(tid));
    }
    closedir(dir);
  }
  return tids;
}

bool RaiseThreads() {
  for (id_t tid : ProcessThreads()) {
    errno = 0;
    const int old = getpriority(PRIO_PROCESS, tid);
    if (old == -1 && errno != 0) continue;  // the thread has ended
    if (old <= kMinNice) continue;
    // Every thread by the same steps: one that runs lowered stays lowered.
    const int raised = std::max(old - kHighSteps, kMinNice);
    if (setpriority(PRIO_PROCESS, tid, raised) == 0) g_saved.emplace_back(tid, old);
    else if (errno == EPERM || errno == EACCES) break;  // no privilege: leave it
  }
  return !g_saved.empty();
}

bool RestoreThreads() {
  const bool changed = !g_saved.empty();
  for (const auto& [tid, nice] : g_saved) setpriority(PRIO_PROCESS, tid, nice);
  g_saved.clear();
  return changed;
}

}  // namespace

bool SetProcessPriorityClass(uint32_t priority_class) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (g_class.load() == priority_class) return false;
  g_class.store(priority_class);
  return priority_class == kHighPriorityClass ? RaiseThreads() : RestoreThreads();
}

uint32_t GetProcessPriorityClass() { return g_class.load(); }

bool LowerCallingThreadPriority(int steps) {
  const id_t tid = static_cast<id_t>(gettid());
  errno = 0;
  const int old = getpriority(PRIO_PROCESS, tid);
  if (old == -1 && errno != 0) return false;
  return setpriority(PRIO_PROCESS, tid, std::min(old + std::max(steps, 0), kMaxNice)) == 0;
}

}  // namespace kav
