// Processor identification, recorded once per process so that pixel routines
// can pick their code paths without asking again.
#pragma once

#include <cstdint>
#include <string>

namespace kav {

// Feature flags of TCpuInfo::Features.
enum : uint8_t {
  kCpuCmov = 1,           // leaf 1 EDX bit 15
  kCpuMmx = 2,            // leaf 1 EDX bit 23
  kCpuExtendedMmx = 4,    // leaf 0x80000001 EDX bit 22
  kCpuSse = 8,            // leaf 1 EDX bit 25
  kCpuSse2 = 16,          // leaf 1 EDX bit 26
  kCpu3DNow = 32,         // leaf 0x80000001 EDX bit 31
  kCpuExtended3DNow = 64  // leaf 0x80000001 EDX bit 30
};

struct TCpuInfo {
  std::string Vendor;          // up to 12 characters, empty without CPUID
  uint8_t Features = 0;        // kCpu* flags
  uint8_t ProcessorCount = 0;  // processors the process may use, at most 255
  uint8_t Family = 0;          // leaf 1 EAX bits 8-11
  uint8_t Model = 0;           // leaf 1 EAX bits 4-7
};

struct TCpuidRegs {
  uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
};

// True when the processor has the CPUID instruction (never on processors
// other than x86).
bool CpuidAvailable() noexcept;
// Executes CPUID for a leaf and returns EAX and EDX (zeros without CPUID).
void Cpuid(uint32_t leaf, uint32_t& eax, uint32_t& edx) noexcept;
// CPUID leaf 0: writes the vendor text (EBX, EDX, ECX) and answers the
// highest standard leaf (0 and an empty vendor without CPUID).
uint32_t GetCpuVendor(std::string& vendor) noexcept;

// A source of CPUID answers; the real one runs the instruction.
using TCpuidProc = TCpuidRegs (*)(uint32_t leaf);
TCpuidRegs CpuidRegs(uint32_t leaf) noexcept;

// Fills a record from a CPUID source (nil: no CPUID) and a processor count.
// Used by GetCpuInfo; tests feed it made-up processors.
TCpuInfo ReadCpuInfo(TCpuidProc cpuid, uint32_t processor_count) noexcept;

// The process-wide record, filled on first use (thread-safe) and read-only
// afterwards.
const TCpuInfo& GetCpuInfo() noexcept;

}  // namespace kav
