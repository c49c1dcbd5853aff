// Path variables of shows: names such as "%styles%" and "%effects%" that
// stand for folders in the names of show files.
//
// A table holds (name, value, fallback) entries in order. Several entries may
// share a name: expansion takes the first whose result names an existing
// file, or a fallback entry when none does. One global table serves every
// expansion; it is read and replaced under one lock. The show locators keep
// the table their show installed and put it back when they become current
// again, so running one show from another restores the first one's table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// Tables read from a project are cut at this many entries.
inline constexpr int32_t kMaxPathVariables = 1024;

struct TPathVarEntry {
  std::u16string Name;   // case-folded, percent signs included ("%styles%")
  std::u16string Value;  // a folder, no final separator
  bool Fallback = false;
};

struct TPathVarTable {
  std::vector<TPathVarEntry> Entries;
  int32_t Count() const noexcept { return int32_t(Entries.size()); }
};

// Appends an entry. The name is case-folded. The value loses one final
// separator, has the system variables (%APPDATA%, %LOCALAPPDATA%,
// %PROGRAMDATA%, %SYSTEMROOT%, %TEMP%) expanded and, when it is relative, is
// taken below the program's folder. False (nothing added) for an empty name,
// a relative value that would leave the program's folder, or a full table.
bool PathVarsAdd(TPathVarTable& table, std::u16string_view name, std::u16string_view value, bool fallback);
void ClearPathVariables(TPathVarTable& table);
// The table the program starts with: %styles% as All\Themes, falling back to
// %LOCALAPPDATA%\Orvane\Styles; %effects% as All\Effects, falling back to
// %LOCALAPPDATA%\Orvane\Effects.
TPathVarTable DefaultPathVariables();

// Expands the variables of `path` with `table`. Each "%name%" token is
// compared with the stored (case-folded) names exactly; for each matching
// entry in order the token is replaced by the entry's value, and the result
// is kept when it names an existing file (the part before a "|" counts) or
// the entry is a fallback; an existing file ends the search for that token.
// A token that matches nothing stays. A token whose following text could
// leave the variable's folder (a ".." component, an absolute part) is not
// expanded, so a show cannot reach outside the folder a variable names.
std::u16string ExpandPathVariables(const TPathVarTable& table, std::u16string_view path);

// The global table: replaced by a copy, read as a copy, expanded under its lock.
void SetPathVariables(const TPathVarTable& table);
TPathVarTable GetPathVariables();
std::u16string ExpandPathVariablesLocked(std::u16string_view path);

// The program's folder with a final separator (where relative values lead).
std::u16string ProgramFolderPath();

}  // namespace kav
