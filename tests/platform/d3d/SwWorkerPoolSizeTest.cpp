// The shared raster pool is sized from the processors the process may use.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "VoRav/wpCpuCount.h"
#include "platform/d3d/raster/SwWorkerPool.h"

namespace kav {
namespace {

constexpr const char* kExpectVar = "KAV_TEST_POOL_THREADS";

// Runs in a child started by the test below, pinned before it started: the
// pool made there has one thread for each processor it may use.
TEST(SwWorkerPoolSize, ChildSide) {
  const char* expect = std::getenv(kExpectVar);
  if (!expect) GTEST_SKIP() << "started by SharedPoolFollowsTheAffinityMask";
  EXPECT_EQ(TSwWorkerPool::Shared().MaxThreads(), std::atoi(expect));
}

TEST(SwWorkerPoolSize, SharedPoolFollowsTheAffinityMask) {
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  const int whole = UsableCpuCount();
  for (int pinned : {1, 2}) {
    if (CPU_COUNT(&allowed) < pinned) continue;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < pinned; ++cpu)
      if (CPU_ISSET(cpu, &allowed)) CPU_SET(cpu, &set), ++taken;
    const std::string expect = std::to_string(std::min(pinned, whole));
    // A new program, so that its pool is made after the pinning (this
    // process's pool may exist already); the mask is inherited over exec.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (sched_setaffinity(0, sizeof set, &set) != 0) _exit(3);
      setenv(kExpectVar, expect.c_str(), 1);
      execl("/proc/self/exe", "/proc/self/exe", "--gtest_filter=SwWorkerPoolSize.ChildSide", nullptr);
      _exit(4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "pinned to " << pinned;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "pinned to " << pinned;
  }
}

}  // namespace
}  // namespace kav
