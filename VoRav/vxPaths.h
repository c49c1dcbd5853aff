// Path text: splitting, joining and comparing file names as wide text.
//
// Names inside shows are Windows paths (drive letters, backslashes, any
// case); names that come from Linux (the program's file, the environment,
// the command line) use slashes. These routines work on the text only and
// accept both: "\" and "/" are both separators. Where a routine adds a
// separator it uses the path's own kind: "/" for a path that has slashes and
// no backslash, else "\". Only the file gate (winFileAPI) turns a name into
// the Linux path the kernel sees.
//
// PathCombine joins trusted text. A name that comes from a show must be
// joined with SafePathCombine, which refuses anything that could leave the
// folder.
#pragma once

#include <string>
#include <string_view>

namespace kav {

inline bool IsPathDelimiter(char16_t c) noexcept { return c == u'\\' || c == u'/'; }
// The separator the path uses: '/' when it has a slash and no backslash, else '\'.
char16_t PathDelimiterOf(std::u16string_view path) noexcept;

// The path with a final separator added unless it has one (an empty path
// gets one too).
std::u16string IncludeTrailingBackslash(std::u16string_view path);
// The path without one final separator.
std::u16string ExcludeTrailingBackslash(std::u16string_view path);
// The path ending in a separator exactly when `trailing` is set.
std::u16string SetTrailingBackslash(std::u16string_view path, bool trailing);

// 2 for a letter A-Z or a-z followed by ":"; for a path of 5 or more
// characters beginning with two backslashes, the length of \\server\share
// (the server part must be followed by a separator and a non-empty share);
// else 0.
size_t ExtractFileDriveLength(std::u16string_view path) noexcept;
std::u16string ExtractFileDrive(std::u16string_view path);

// Everything up to the last separator before the final character, with or
// without that separator; empty when there is none. A final separator is
// thus ignored: the folder of C:\dir\ is C:\ (or C:).
std::u16string ExtractFileDir(std::u16string_view path, bool keep_backslash);
// The same, as the path-variable routines name it.
inline std::u16string ExtractParentPath(std::u16string_view path, bool keep_backslash) {
  return ExtractFileDir(path, keep_backslash);
}
// The last component, a final separator ignored.
std::u16string ExtractLastPathPart(std::u16string_view path);
inline std::u16string ExtractLastPathName(std::u16string_view path) { return ExtractLastPathPart(path); }
// From the last "." of the last component to the end, dot included; empty
// when the last component has none.
std::u16string ExtractFileExt(std::u16string_view path);
// The name without its extension followed by `extension`; a "." is put
// between them when the extension is not empty and does not begin with one.
std::u16string ChangeFileExt(std::u16string_view name, std::u16string_view extension);

// Joins trusted text with exactly one separator between folder and name: an
// empty folder or one ending in a separator takes the name as it is
// (dropping the folder's final separator when the name begins with one);
// otherwise the folder's separator is inserted unless the name is empty or
// begins with one. Never use it for names read from a show.
std::u16string PathCombine(std::u16string_view folder, std::u16string_view name);

// A component Windows would read as "..": two or more dots, then only dots
// and blanks.
bool IsParentComponent(std::u16string_view part) noexcept;
// True when `name` stays inside whatever folder it is joined to: it is not
// absolute (no leading separator, so no UNC or "\\?\" form either), has no
// drive ("X:"), no component ".." (nor any other component of dots and
// blanks only, which Windows reads as one), and no NUL character. An empty
// name is safe.
bool IsSafeRelativeName(std::u16string_view name) noexcept;
// PathCombine for untrusted names (names read from a show): false, with
// `result` untouched, when the name is not IsSafeRelativeName.
bool SafePathCombine(std::u16string_view folder, std::u16string_view name, std::u16string& result);

// The target relative to the base folder. Both are compared in upper case
// with either separator; the base counts as a folder. When the base has no
// root (a drive or, for Linux paths, a leading "/"), or the roots differ, the
// target comes back unchanged. Otherwise the common prefix up to its last
// separator is dropped and one ".." is put in front for every folder of the
// base below it: base C:\a\b and target C:\a\c\f.txt give ..\c\f.txt.
std::u16string ExtractRelativePath(std::u16string_view base, std::u16string_view target);

}  // namespace kav
