#include "VoRav/Music/vxLibPaths.h"

#include <algorithm>

#include "VoRav/vxUTF8.h"

namespace kav {

TLibHandle LoadLibraryFromString(const std::u16string& path) { return path.empty() ? nullptr : SafeLoadLibrary(path); }

void* GetProcAddressFromString(TLibHandle module, const char* name) {
  return module && name ? GetProcAddressEx(module, name) : nullptr;
}

std::u16string SetTrailingBackslash(const std::u16string& path, bool trailing) {
  if (path.empty()) return path;
  const bool has = path.back() == u'\\';
  if (has && !trailing) return path.substr(0, path.size() - 1);
  if (!has && trailing) return path + u'\\';
  return path;
}

namespace {

bool HasDriveOrShare(const std::u16string& path) {
  if (path.size() >= 2 && path[1] == u':') return true;
  return path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
}

}  // namespace

std::u16string ExpandRelativePath(const std::u16string& base, const std::u16string& path) {
  if (HasDriveOrShare(path)) return path;
  size_t at = 0;
  int32_t steps = 0;
  while (path.compare(at, 3, u"..\\") == 0) {
    at += 3;
    ++steps;
  }
  if (at < path.size() && path[at] == u'\\') ++at;
  std::u16string folder = SetTrailingBackslash(base, false);
  for (int32_t i = 0; i < steps; ++i) {
    // The program's folder is a Linux path: "/" separates there.
    const size_t slash = folder.find_last_of(u"\\/");
    folder.resize(slash == std::u16string::npos ? 0 : slash);
  }
  if (at >= path.size()) return folder;
  return folder + u'\\' + path.substr(at);
}

std::u16string ExpandProgramPath(const std::u16string& path) {
  return ExpandRelativePath(SystemUTF8ToWide(ProgramFolder()), path);
}

std::u16string ExpandModulePath(const std::u16string& path, bool) { return ExpandProgramPath(path); }

bool ExtractPercentToken(const std::u16string& text, int32_t& position, std::u16string& token) {
  const size_t from = size_t(std::max(position, 1) - 1);
  const size_t open = from < text.size() ? text.find(u'%', from) : std::u16string::npos;
  const size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
  if (close == std::u16string::npos) {
    position = int32_t(text.size()) + 1;
    return false;
  }
  token = text.substr(open, close - open + 1);
  position = int32_t(close) + 2;
  return true;
}

bool ExtractPercentToken(const std::u16string& text, int32_t& position, std::string& token) {
  std::u16string wide;
  if (!ExtractPercentToken(text, position, wide)) return false;
  token = WideToSystemUTF8(wide);
  return true;
}

}  // namespace kav
