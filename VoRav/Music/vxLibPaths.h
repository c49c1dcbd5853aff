// Finding and binding run-time libraries, and small path-text helpers.
//
// Paths here are Windows path texts ("\" separators, "C:" drives) as shows
// and options write them; the file gate turns them into Linux paths when a
// file is opened. Libraries load through SafeLoadLibrary (never from the
// current directory) and never from a show.
#pragma once

#include <string>

#include "VoRav/Win32/winAPI0.h"

namespace kav {

// The library's handle, null when it cannot be loaded.
TLibHandle LoadLibraryFromString(const std::u16string& path);
// The export, null when missing or when the module is null.
void* GetProcAddressFromString(TLibHandle module, const char* name);

// An empty path stays empty; otherwise a trailing "\" is removed (flag
// clear) or added (flag set).
std::u16string SetTrailingBackslash(const std::u16string& path, bool trailing);

// Resolves the leading "..\" steps of `path` against the folder `base`. A
// path with a drive or a network share is returned as it is.
std::u16string ExpandRelativePath(const std::u16string& base, const std::u16string& path);
// ExpandRelativePath against the program's folder.
std::u16string ExpandProgramPath(const std::u16string& path);
// Against the program's folder; this code is linked into the program, so the
// module's folder is the program's folder too and the flag changes nothing.
std::u16string ExpandModulePath(const std::u16string& path, bool program_folder);

// From the 1-based `position` (taken as at least 1), the next "%...%" token
// of `text`, delimiters included: true with the token and `position` just
// past its closing "%". False (position past the text) when there is none.
bool ExtractPercentToken(const std::u16string& text, int32_t& position, std::u16string& token);
bool ExtractPercentToken(const std::u16string& text, int32_t& position, std::string& token);

}  // namespace kav
