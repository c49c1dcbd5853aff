#include "VoRav/Win32/winShellFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

// Spans of this length or more are never variables.
constexpr size_t kMaxVariableSpan = 15;
// The shortest name, "%TMP%": no variable starts where fewer remain.
constexpr size_t kMinVariableSpan = 5;

// An absolute path from the environment, or empty.
std::string AbsoluteEnv(const char* name) {
  const char* v = std::getenv(name);
  return v && v[0] == '/' ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = AbsoluteEnv("HOME");
  if (!home.empty()) return home;
  std::vector<char> buf(16384);
  passwd pw;
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

// $name when set, else the home folder joined with `fallback`; empty when neither.
std::string XdgFolder(const char* name, const char* fallback) {
  std::string v = AbsoluteEnv(name);
  if (!v.empty()) return v;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + fallback;
}

std::string FirstDataDir() {
  const char* v = std::getenv("XDG_DATA_DIRS");
  std::string_view list = v ? v : "";
  while (!list.empty()) {
    const size_t colon = list.find(':');
    const std::string_view item = list.substr(0, colon);
    if (!item.empty() && item[0] == '/') return std::string(item);
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return "/usr/local/share";
}

enum TVariable { kAppData, kLocalAppData, kProgramData, kSystemRoot, kWinDir, kTemp, kTmp };

struct TVariableName {
  std::u16string_view Name;
  TVariable Variable;
};

constexpr TVariableName kVariables[] = {
    {u"%APPDATA%", kAppData},   {u"%LOCALAPPDATA%", kLocalAppData}, {u"%PROGRAMDATA%", kProgramData},
    {u"%SYSTEMROOT%", kSystemRoot}, {u"%WINDIR%", kWinDir},         {u"%TEMP%", kTemp},
    {u"%TMP%", kTmp},
};

// The folder a variable stands for; empty when it has none here.
std::u16string Resolve(TVariable v) {
  std::u16string folder;
  switch (v) {
    case kAppData: GetSpecialFolderPath(kFolderAppData, folder); break;
    case kLocalAppData: GetSpecialFolderPath(kFolderLocalAppData, folder); break;
    case kProgramData: GetSpecialFolderPath(kFolderCommonAppData, folder); break;
    case kSystemRoot:
    case kWinDir: GetSpecialFolderPath(kFolderWindows, folder); break;
    case kTemp:
    case kTmp: folder = GetTempFolder(false); break;
  }
  return folder;
}

// The variable the span names: upper-cased ASCII letters, "?" for characters
// of code 128 or more, compared with each name in turn.
const TVariableName* Recognise(std::u16string_view span) {
  std::u16string key(span);
  for (char16_t& c : key) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    else if (c >= 128) c = u'?';
  }
  for (const TVariableName& v : kVariables)
    if (key == v.Name) return &v;
  return nullptr;
}

// An existing folder other than the file-system root.
bool IsFolder(const std::string& path) {
  return path.find_first_not_of('/') != std::string::npos && DirectoryExists(SystemUTF8ToWide(path));
}

}  // namespace

int32_t GetSpecialFolderPath(int32_t folder_id, std::u16string& path) {
  std::string folder;
  switch (folder_id) {
    case kFolderAppData: folder = XdgFolder("XDG_CONFIG_HOME", "/.config"); break;
    case kFolderLocalAppData: folder = XdgFolder("XDG_DATA_HOME", "/.local/share"); break;
    case kFolderCommonAppData: folder = FirstDataDir(); break;
    default: break;
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder == "/") {
    path.clear();
    return ENOENT;
  }
  path = SystemUTF8ToWide(folder);
  return 0;
}

bool ExpandEnvironmentPath(std::u16string& path, bool prefix_only) {
  bool replaced = false, failed = false;
  size_t i = 0;
  while (i < path.size()) {
    if (path[i] != u'%') {
      if (prefix_only) break;
      ++i;
      continue;
    }
    if (path.size() - i < kMinVariableSpan) break;
    const size_t close = path.find(u'%', i + 1);
    if (close == std::u16string::npos) break;
    const TVariableName* v = close - i + 1 < kMaxVariableSpan ? Recognise(std::u16string_view(path).substr(i, close - i + 1)) : nullptr;
    if (v) {
      const std::u16string folder = Resolve(v->Variable);
      if (folder.empty()) {
        failed = true;
      } else {
        size_t end = close + 1;
        if (end < path.size() && IsPathDelimiter(path[end])) ++end;
        const std::u16string replacement = IncludeTrailingBackslash(folder);
        path.replace(i, end - i, replacement);
        replaced = true;
        if (prefix_only) break;
        i += replacement.size();
        continue;
      }
    }
    if (prefix_only) break;
    i = close + 1;
  }
  return replaced && !failed;
}

std::u16string GetTempFolder(bool trailing_backslash) {
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
    const std::string v = AbsoluteEnv(name);
    if (IsFolder(v)) return SetTrailingBackslash(SystemUTF8ToWide(v), trailing_backslash);
  }
  if (IsFolder("/tmp")) return SetTrailingBackslash(u"/tmp", trailing_backslash);
  const std::u16string program = GetProgramFolder();
  const std::u16string temp = PathCombine(program, u"TEMP");
  if (ForceDirectories(temp)) return SetTrailingBackslash(temp, trailing_backslash);
  return SetTrailingBackslash(program, trailing_backslash);
}

}  // namespace kav
