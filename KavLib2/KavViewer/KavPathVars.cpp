#include "KavLib2/KavViewer/KavPathVars.h"

#include <mutex>

#include "VoRav/Win32/winAPI0.h"
#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/Win32/winShellFolders.h"
#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

std::mutex g_lock;

TPathVarTable& GlobalTable() {
  static TPathVarTable* table = new TPathVarTable(DefaultPathVariables());
  return *table;
}

bool IsRelativeValue(std::u16string_view value) {
  if (value.empty() || IsPathDelimiter(value[0])) return false;
  if (ExtractFileDriveLength(value) != 0) return false;
  // A system variable that could not be resolved stays as text; joining it to
  // the program's folder would only make a wrong path.
  return value[0] != u'%';
}

bool NamesExistingFile(std::u16string_view candidate) {
  const size_t bar = candidate.find(u'|');
  const std::u16string name(bar == std::u16string_view::npos ? candidate : candidate.substr(0, bar));
  const uint32_t attributes = FileAPI()->GetFileAttributes(name);
  return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

// The text after a token must stay below the variable's folder.
bool SafeRemainder(std::u16string_view rest) {
  const size_t bar = rest.find(u'|');
  if (bar != std::u16string_view::npos) rest = rest.substr(0, bar);
  if (!rest.empty() && IsPathDelimiter(rest[0])) rest.remove_prefix(1);
  return IsSafeRelativeName(rest);
}

}  // namespace

std::u16string ProgramFolderPath() { return IncludeTrailingBackslash(SystemUTF8ToWide(ProgramFolder())); }

bool PathVarsAdd(TPathVarTable& table, std::u16string_view name, std::u16string_view value, bool fallback) {
  if (name.empty() || table.Count() >= kMaxPathVariables) return false;
  std::u16string v(value);
  if (!v.empty() && IsPathDelimiter(v.back())) v.pop_back();
  ExpandEnvironmentPath(v, false);
  if (IsRelativeValue(v)) {
    std::u16string joined;
    if (!SafePathCombine(ProgramFolderPath(), v, joined)) return false;
    v = std::move(joined);
  }
  table.Entries.push_back({CaseFoldRange(name, 0, ptrdiff_t(name.size())), std::move(v), fallback});
  return true;
}

void ClearPathVariables(TPathVarTable& table) { table.Entries.clear(); }

TPathVarTable DefaultPathVariables() {
  TPathVarTable t;
  PathVarsAdd(t, u"%styles%", u"All\\Themes", false);
  PathVarsAdd(t, u"%styles%", u"%LOCALAPPDATA%\\Orvane\\Styles", true);
  PathVarsAdd(t, u"%effects%", u"All\\Effects", false);
  PathVarsAdd(t, u"%effects%", u"%LOCALAPPDATA%\\Orvane\\Effects", true);
  return t;
}

std::u16string ExpandPathVariables(const TPathVarTable& table, std::u16string_view path) {
  std::u16string result(path);
  size_t pos = 0;
  for (;;) {
    const size_t start = result.find(u'%', pos);
    if (start == std::u16string::npos) break;
    const size_t end = result.find(u'%', start + 1);
    if (end == std::u16string::npos) break;
    pos = end + 1;
    const std::u16string token = result.substr(start, end - start + 1);
    const std::u16string before = result.substr(0, start);
    const std::u16string after = result.substr(end + 1);
    if (!SafeRemainder(after)) continue;
    for (const TPathVarEntry& e : table.Entries) {
      if (e.Name != token) continue;
      std::u16string candidate = before + e.Value + after;
      const bool exists = NamesExistingFile(candidate);
      if (!exists && !e.Fallback) continue;
      result = std::move(candidate);
      pos = start + e.Value.size();
      if (exists) break;
    }
  }
  return result;
}

void SetPathVariables(const TPathVarTable& table) {
  std::lock_guard<std::mutex> hold(g_lock);
  GlobalTable() = table;
}

TPathVarTable GetPathVariables() {
  std::lock_guard<std::mutex> hold(g_lock);
  return GlobalTable();
}

std::u16string ExpandPathVariablesLocked(std::u16string_view path) {
  std::lock_guard<std::mutex> hold(g_lock);
  return ExpandPathVariables(GlobalTable(), path);
}

}  // namespace kav
