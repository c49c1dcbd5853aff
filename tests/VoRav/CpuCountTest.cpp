#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "VoRav/wpCpuCount.h"

using namespace kav;

namespace {

// The processors the calling thread may run on, in order.
std::vector<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
  for (int i = 0; i < CPU_SETSIZE; ++i)
    if (CPU_ISSET(i, &set)) cpus.push_back(i);
  return cpus;
}

// UsableCpuCount on a new thread pinned to the first `n` allowed processors;
// -1 when the affinity cannot be set.
int CountOnThreadPinnedTo(const std::vector<int>& cpus, size_t n) {
  int answer = -1;
  std::thread t([&] {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (size_t i = 0; i < n; ++i) CPU_SET(cpus[i], &set);
    if (sched_setaffinity(0, sizeof set, &set) == 0) answer = UsableCpuCount();
  });
  t.join();
  return answer;
}

}  // namespace

TEST(UsableCpuCount, FollowsTheAffinityMask) {
  const std::vector<int> cpus = AllowedCpus();
  ASSERT_FALSE(cpus.empty());
  const int whole = UsableCpuCount();
  EXPECT_GE(whole, 1);
  EXPECT_LE(whole, int(cpus.size()));

  EXPECT_EQ(CountOnThreadPinnedTo(cpus, 1), 1);
  if (cpus.size() >= 2) {
    // A quota below two processors still wins.
    EXPECT_EQ(CountOnThreadPinnedTo(cpus, 2), std::min(2, whole));
  }
  // The calling thread's own mask is untouched.
  EXPECT_EQ(UsableCpuCount(), whole);
}

TEST(UsableCpuCount, ReadsTheQuotaOfCpuMax) {
  EXPECT_EQ(CpuQuotaFromCpuMax("max 100000\n"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("200000 100000\n"), 2);
  EXPECT_EQ(CpuQuotaFromCpuMax("150000 100000"), 2);   // rounded up
  EXPECT_EQ(CpuQuotaFromCpuMax("50000 100000\n"), 1);  // at least one
  EXPECT_EQ(CpuQuotaFromCpuMax("1 1000000\n"), 1);
  EXPECT_EQ(CpuQuotaFromCpuMax("400000 100000\nextra\n"), 4);
  // Not understood: no quota.
  EXPECT_EQ(CpuQuotaFromCpuMax(""), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("200000"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("200000 0"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("-5 100000"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("2x 100000"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("99999999999999999999999 100000"), 0);
  EXPECT_EQ(CpuQuotaFromCpuMax("18446744073709551615 1"), 1 << 20);  // capped
}

TEST(UsableCpuCount, FindsTheGroupInProcSelfCgroup) {
  EXPECT_EQ(CgroupV2Group("0::/user.slice/user-1000.slice/session-2.scope\n"),
            "/user.slice/user-1000.slice/session-2.scope");
  EXPECT_EQ(CgroupV2Group("0::/\n"), "/");
  // Mixed hierarchies: the v1 controllers' lines are skipped.
  EXPECT_EQ(CgroupV2Group("12:cpu,cpuacct:/docker/abc\n1:name=systemd:/x\n0::/docker/abc/\n"), "/docker/abc");
  // v1 only, nothing, or a path that is not a plain absolute one.
  EXPECT_EQ(CgroupV2Group("4:memory:/a\n1:cpu:/\n"), "");
  EXPECT_EQ(CgroupV2Group(""), "");
  EXPECT_EQ(CgroupV2Group("0::\n"), "");
  EXPECT_EQ(CgroupV2Group("0::relative\n"), "");
  EXPECT_EQ(CgroupV2Group("0::/a/../../etc\n"), "");
}
