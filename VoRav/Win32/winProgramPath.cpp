#include "VoRav/Win32/winProgramPath.h"

#include <unistd.h>

#include <vector>

namespace kav {

namespace {

std::string ReadProgramPath() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    if (buf.size() >= (1u << 20)) return {};
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

const std::string& ProgramPathSystem() {
  static const std::string path = ReadProgramPath();
  return path;
}

}  // namespace kav
