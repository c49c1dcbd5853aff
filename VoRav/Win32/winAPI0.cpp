#include "VoRav/Win32/winAPI0.h"

#include "VoRav/Win32/winProgramPath.h"
#include "VoRav/vxUTF8.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kav {

namespace {

// Text handed to and taken from Linux is standard UTF-8.
std::string ToUtf8(const std::u16string& s) { return WideToSystemUTF8(s); }
std::u16string FromUtf8(const std::string& s) { return SystemUTF8ToWide(s); }

bool SameAsciiCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// The value of an environment variable: exact name first, then ignoring ASCII case.
const char* LookUpEnv(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return nullptr;
  if (const char* v = std::getenv(name.c_str())) return v;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq && static_cast<size_t>(eq - *e) == name.size() && SameAsciiCase(*e, name.data(), name.size()))
      return eq + 1;
  }
  return nullptr;
}

// The system reports the newest version the version codes know.
const TOSVersionInfo kReportedVersion = {2, 10, 0, 19041, ""};

}  // namespace

const TOSVersionInfo& GetOSVersionInfo() { return kReportedVersion; }

uint8_t DetectOSVersionCode(const TOSVersionInfo& info) {
  uint32_t major = info.MajorVersion, minor = info.MinorVersion;
  if (major < 3) return kOSBelow3;
  if (major == 3) return kOSWinNT3;
  if (major == 4) {
    if (minor < 10) return kOSWin95;
    if (minor < 90) return info.ServicePack == "A" ? kOSWin98SE : kOSWin98;
    return kOSWinMe;
  }
  if (major == 5) return minor == 0 ? kOSWin2000 : minor == 1 ? kOSWinXP : kOSWin2003;
  if (major == 6) return minor == 0 ? kOSWinVista : minor == 1 ? kOSWin7 : minor == 2 ? kOSWin8 : kOSWinLater;
  return kOSWinLater;
}

uint8_t GetOSVersionCode() {
  static const uint8_t code = DetectOSVersionCode(GetOSVersionInfo());
  return code;
}

bool IsOSVersionCodeInSet(uint8_t code, uint16_t set) { return code <= 15 && (set & (1u << code)) != 0; }

bool IsOSVersionInSet(uint16_t set) { return IsOSVersionCodeInSet(GetOSVersionCode(), set); }

bool IsWow64() { return false; }

std::u16string ExpandEnvStrings(const std::u16string& text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t open = text.find(u'%', i);
    if (open == std::u16string::npos) break;
    size_t close = text.find(u'%', open + 1);
    if (close == std::u16string::npos) break;
    out.append(text, i, open - i);
    const char* value = LookUpEnv(ToUtf8(text.substr(open + 1, close - open - 1)));
    if (value) {
      out += FromUtf8(value);
      i = close + 1;
    } else {
      // Unknown: keep "%NAME" and let the closing "%" start the next reference.
      out.append(text, open, close - open);
      i = close;
    }
  }
  out.append(text, i, std::u16string::npos);
  return out;
}

std::string ProgramFolder() {
  const std::string& path = ProgramPathSystem();
  if (path.empty()) return std::string();
  size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

TLibHandle SafeLoadLibraryA(const std::string& file_name) {
  if (file_name.empty() || file_name.find('\0') != std::string::npos) return nullptr;
  std::string name = file_name;
  for (char& c : name)
    if (c == '\\') c = '/';
  std::string path;
  if (name[0] == '/') {
    path = name;
  } else {
    std::string folder = ProgramFolder();
    if (folder.empty()) return nullptr;
    std::string beside = folder == "/" ? "/" + name : folder + "/" + name;
    if (name.find('/') != std::string::npos || access(beside.c_str(), F_OK) == 0)
      path = beside;
    else
      path = name;  // a plain name: the system's library path, never the current directory
  }
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

TLibHandle SafeLoadLibraryW(const std::u16string& file_name) { return SafeLoadLibraryA(ToUtf8(file_name)); }

TLibHandle SafeLoadLibrary(const std::u16string& file_name) { return SafeLoadLibraryW(file_name); }

void FreeLibraryHandle(TLibHandle module) {
  if (module) dlclose(module);
}

void* GetProcAddressEx(TLibHandle module, const char* name_or_ordinal) {
  if (!module) return nullptr;
  if (reinterpret_cast<uintptr_t>(name_or_ordinal) < 65536) return nullptr;  // an ordinal
  return dlsym(module, name_or_ordinal);
}

}  // namespace kav
