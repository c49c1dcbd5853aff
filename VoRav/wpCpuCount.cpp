#include "VoRav/wpCpuCount.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <thread>

namespace kav {

namespace {

// Files read here are a few lines; anything longer is not what we expect.
constexpr size_t kMaxCgroupFileBytes = 64 * 1024;
// Group paths deeper than this are not walked up further.
constexpr int kMaxCgroupDepth = 64;

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(kMaxCgroupFileBytes, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(in.gcount()));
  return text;
}

bool ParseU64(std::string_view s, uint64_t& v) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size();
}

int AffinityCount() noexcept {
  // Masks for up to 4096 processors; a larger machine falls back below.
  cpu_set_t* set = CPU_ALLOC(4096);
  if (!set) return 0;
  const size_t size = CPU_ALLOC_SIZE(4096);
  int n = sched_getaffinity(0, size, set) == 0 ? CPU_COUNT_S(size, set) : 0;
  CPU_FREE(set);
  return n;
}

// The smallest quota on the way from the group up to the root of the
// hierarchy (a parent's quota limits its children too); 0 when none.
int CgroupQuota() {
  std::string group = CgroupV2Group(ReadSmallFile("/proc/self/cgroup"));
  if (group.empty()) return 0;
  int quota = 0;
  for (int depth = 0; depth < kMaxCgroupDepth; ++depth) {
    int q = CpuQuotaFromCpuMax(ReadSmallFile("/sys/fs/cgroup" + (group == "/" ? std::string() : group) + "/cpu.max"));
    if (q > 0) quota = quota > 0 ? std::min(quota, q) : q;
    if (group == "/") break;
    size_t slash = group.rfind('/');
    group = slash == 0 ? std::string("/") : group.substr(0, slash);
  }
  return quota;
}

}  // namespace

int CpuQuotaFromCpuMax(std::string_view text) noexcept {
  size_t end = text.find('\n');
  if (end != std::string_view::npos) text = text.substr(0, end);
  size_t space = text.find(' ');
  if (space == std::string_view::npos) return 0;
  uint64_t quota = 0, period = 0;
  if (!ParseU64(text.substr(0, space), quota) || !ParseU64(text.substr(space + 1), period)) return 0;
  if (period == 0) return 0;
  uint64_t cpus = quota / period + (quota % period != 0 ? 1 : 0);
  return int(std::clamp<uint64_t>(cpus, 1, 1u << 20));
}

std::string CgroupV2Group(std::string_view text) {
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    // v1 lines name a controller between the colons; v2's line has none.
    if (line.substr(0, 3) != "0::") continue;
    std::string_view group = line.substr(3);
    // A group that is not a plain absolute path (a moved or removed one, or
    // one with "..") is not looked up.
    if (group.empty() || group[0] != '/' || group.find("/..") != std::string_view::npos) return {};
    while (group.size() > 1 && group.back() == '/') group.remove_suffix(1);
    return std::string(group);
  }
  return {};
}

int UsableCpuCount() noexcept {
  int n = AffinityCount();
  if (n <= 0) n = int(std::thread::hardware_concurrency());
  try {
    int quota = CgroupQuota();
    if (quota > 0 && (n <= 0 || quota < n)) n = quota;
  } catch (...) {
    // Without memory for a path the quota stays unknown.
  }
  return std::max(n, 1);
}

}  // namespace kav
