// How many processors this process may run on, for sizing thread pools.
//
// The machine's processor count overstates it when the process is pinned to
// some processors (its affinity mask) or its control group has a CPU quota
// (cgroup v2 "cpu.max"): a pool with more threads than that waits every round
// on threads that are not running. Every pool is sized from UsableCpuCount.
#pragma once

#include <string>
#include <string_view>

namespace kav {

// The processors the calling thread may use: the smaller of its affinity
// mask's count and its control group's quota (rounded up), at least 1.
// Reads the system each time; callers keep the answer.
int UsableCpuCount() noexcept;

// The quota of a cgroup v2 "cpu.max" file's contents ("QUOTA PERIOD", both
// in microseconds) in whole processors, rounded up and at least 1; 0 when
// there is none ("max ...") or the text is not understood.
int CpuQuotaFromCpuMax(std::string_view text) noexcept;

// The process's cgroup v2 group from the contents of /proc/self/cgroup (the
// "0::/group" line), e.g. "/user.slice/app"; empty when there is none.
std::string CgroupV2Group(std::string_view text);

}  // namespace kav
