#include "VoRav/vxCpuInfo.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "VoRav/wpCpuCount.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define KAV_HAS_CPUID 1
#else
#define KAV_HAS_CPUID 0
#endif

namespace kav {

bool CpuidAvailable() noexcept {
#if KAV_HAS_CPUID
  // Tests the ID flag of EFLAGS on 32-bit processors; always there on x86-64.
  return __get_cpuid_max(0, nullptr) != 0;
#else
  return false;
#endif
}

TCpuidRegs CpuidRegs(uint32_t leaf) noexcept {
  TCpuidRegs r;
#if KAV_HAS_CPUID
  if (CpuidAvailable()) __cpuid_count(leaf, 0, r.Eax, r.Ebx, r.Ecx, r.Edx);
#else
  (void)leaf;
#endif
  return r;
}

void Cpuid(uint32_t leaf, uint32_t& eax, uint32_t& edx) noexcept {
  TCpuidRegs r = CpuidRegs(leaf);
  eax = r.Eax;
  edx = r.Edx;
}

namespace {

uint32_t VendorFrom(const TCpuidRegs& r, std::string& vendor) {
  char text[12];
  std::memcpy(text, &r.Ebx, 4);
  std::memcpy(text + 4, &r.Edx, 4);
  std::memcpy(text + 8, &r.Ecx, 4);
  vendor.assign(text, strnlen(text, sizeof text));
  return r.Eax;
}

}  // namespace

uint32_t GetCpuVendor(std::string& vendor) noexcept {
  vendor.clear();
  if (!CpuidAvailable()) return 0;
  return VendorFrom(CpuidRegs(0), vendor);
}

TCpuInfo ReadCpuInfo(TCpuidProc cpuid, uint32_t processor_count) noexcept {
  TCpuInfo info;
  // The original keeps only the low byte of the count, which reads 0 on a
  // machine with 256 processors; the count is capped instead.
  info.ProcessorCount = static_cast<uint8_t>(std::min<uint32_t>(processor_count, 255));
  if (!cpuid) return info;
  uint32_t max_leaf = VendorFrom(cpuid(0), info.Vendor);
  if (max_leaf == 0) return info;

  TCpuidRegs std1 = cpuid(1);
  info.Family = static_cast<uint8_t>((std1.Eax >> 8) & 0xF);
  info.Model = static_cast<uint8_t>((std1.Eax >> 4) & 0xF);
  auto bit = [](uint32_t reg, int n) { return (reg >> n) & 1u; };
  if (bit(std1.Edx, 15)) info.Features |= kCpuCmov;
  if (bit(std1.Edx, 23)) info.Features |= kCpuMmx;
  if (bit(std1.Edx, 25)) info.Features |= kCpuSse;
  if (bit(std1.Edx, 26)) info.Features |= kCpuSse2;

  if (cpuid(0x80000000u).Eax > 0x80000000u) {
    uint32_t ext = cpuid(0x80000001u).Edx;
    if (bit(ext, 22)) info.Features |= kCpuExtendedMmx;
    if (bit(ext, 31)) info.Features |= kCpu3DNow;
    if (bit(ext, 30)) info.Features |= kCpuExtended3DNow;
  }
  return info;
}

const TCpuInfo& GetCpuInfo() noexcept {
  static const TCpuInfo info = [] {
    uint32_t count = static_cast<uint32_t>(std::min(UsableCpuCount(), 0xFFFF));
    TCpuidProc proc = CpuidAvailable() ? TCpuidProc(&CpuidRegs) : nullptr;
    return ReadCpuInfo(proc, count);
  }();
  return info;
}

}  // namespace kav
