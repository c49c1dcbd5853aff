// Operating-system facts and safe library loading.
//
// The system reports itself as a Windows of the 2000-or-later family (never
// the 9x family), so code that branches on the Windows version takes the
// modern path. Libraries load with dlopen by absolute path, by a path relative
// to the program's folder, or by a plain system name; the current directory
// never decides which library is found. Callers never load a library that
// came out of a show.
#pragma once

#include <cfenv>
#include <cstdint>
#include <string>

namespace kav {

// Version codes.
enum : uint8_t {
  kOSBelow3 = 0,      // major version below 3
  kOSWin95 = 1,       // 4.0 (95, also NT 4.0)
  kOSWin98 = 3,       // 4.10 .. 4.89
  kOSWin98SE = 4,     // 4.10 .. 4.89 with the service-pack text "A"
  kOSWinMe = 5,       // 4.90 and later 4.x
  kOSWinNT3 = 6,      // 3.x
  kOSWin2000 = 7,     // 5.0
  kOSWinXP = 8,       // 5.1
  kOSWin2003 = 9,     // 5.2 and later 5.x
  kOSWinVista = 10,   // 6.0
  kOSWin7 = 11,       // 6.1
  kOSWin8 = 12,       // 6.2
  kOSWinLater = 13,   // later 6.x and 7 or more
};

// Sets of version codes: bit n stands for code n; codes above 15 are in no set.
inline constexpr uint16_t kOSSet2000OrLater = 0x3F80;  // codes 7 .. 13
inline constexpr uint16_t kOSSet9x = 0x003E;           // codes 1 .. 5

// The version facts the system reports.
struct TOSVersionInfo {
  uint32_t PlatformId;        // 1 for the 9x platform, 2 for NT
  uint32_t MajorVersion;
  uint32_t MinorVersion;
  uint32_t BuildNumber;
  std::string ServicePack;    // the service-pack text
};

const TOSVersionInfo& GetOSVersionInfo();
// The code for given version facts.
uint8_t DetectOSVersionCode(const TOSVersionInfo& info);
// The code of the running system (fixed at start-up).
uint8_t GetOSVersionCode();
bool IsOSVersionCodeInSet(uint8_t code, uint16_t set);
// Whether the running system's code is in `set`.
bool IsOSVersionInSet(uint16_t set = kOSSet2000OrLater);
// Never a 32-bit process on a 64-bit Windows here.
bool IsWow64();

// Expands %NAME% references from the environment. An exact name is looked up
// first, then one that differs only in ASCII case (Windows names ignore
// case); a reference to an unknown name, and a lone "%", stay as they are.
std::u16string ExpandEnvStrings(const std::u16string& text);

// The folder that holds the program's file (no trailing slash).
std::string ProgramFolder();

// A loaded library; null when loading failed.
using TLibHandle = void*;

// Loads a library: an absolute path as it is; a relative path (either slash)
// from the program's folder; a plain name from the program's folder when it is
// there, else from the system's library path.
TLibHandle SafeLoadLibrary(const std::u16string& file_name);
TLibHandle SafeLoadLibraryW(const std::u16string& file_name);
TLibHandle SafeLoadLibraryA(const std::string& file_name);  // UTF-8 name
// Unloads a library (null is ignored).
void FreeLibraryHandle(TLibHandle module);

// An exported function by name. A value below 65536 is an ordinal, which
// libraries here do not have: the answer is then null. Null for a null module.
void* GetProcAddressEx(TLibHandle module, const char* name_or_ordinal);

// Keeps the floating-point control state (rounding, precision, exception
// masks) across calls into code that may change it, such as window creation:
//   { TKeepFPU keep; CreateTheWindow(); }
class TKeepFPU {
 public:
  TKeepFPU() { std::fegetenv(&env_); }
  ~TKeepFPU() { std::fesetenv(&env_); }
  TKeepFPU(const TKeepFPU&) = delete;
  TKeepFPU& operator=(const TKeepFPU&) = delete;

 private:
  std::fenv_t env_;
};

}  // namespace kav
