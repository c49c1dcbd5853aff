// The folder search behind the gate's FindFirst / FindNext / FindClose, and
// the attribute mapping the gate shares with it. Callers use the gate
// (winFileAPI.h); these routines are its standard implementation.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "VoRav/Win32/winFileAPI.h"

namespace kav {

// True when `name` matches the mask: "*" any run of characters, "?" any one,
// other characters equal after case folding; "*.*" matches every name.
bool MatchesFileMask(std::u16string_view name, std::u16string_view mask);

// Windows attributes for a Linux entry; `st` comes from lstat of `path`.
uint32_t AttributesFromStat(const std::string& path, const struct stat& st);

TFindHandle FindFirstEntry(const std::u16string& pattern, TFindData& data);
bool FindNextEntry(TFindHandle search, TFindData& data);
void CloseFind(TFindHandle search);

}  // namespace kav
