// Path variables, special folders and the temporary folder.
//
// Show paths may begin with a Windows path variable that stands for a
// system folder. On this system the variables map to the XDG folders:
//
//   %APPDATA%       special folder 26: $XDG_CONFIG_HOME (default ~/.config)
//   %LOCALAPPDATA%  special folder 28: $XDG_DATA_HOME (default ~/.local/share)
//   %PROGRAMDATA%   special folder 35: the first folder of $XDG_DATA_DIRS
//                   (default /usr/local/share)
//   %SYSTEMROOT%, %WINDIR%  special folder 36: no such folder here
//   %TEMP%, %TMP%   GetTempFolder
//
// XDG variables that are empty or not absolute count as not set. A variable
// that cannot be resolved is never replaced by an empty text (which would
// make the rest of the path a path at the file-system root): the path stays
// as it is and the expansion answers false.
#pragma once

#include <cstdint>
#include <string>

namespace kav {

// Special-folder ids (the shell's CSIDL values).
enum : int32_t {
  kFolderAppData = 26,
  kFolderLocalAppData = 28,
  kFolderCommonAppData = 35,
  kFolderWindows = 36,
};

// The folder for an id, without a final separator. Answers 0, or ENOENT
// with an empty path when there is no such folder.
int32_t GetSpecialFolderPath(int32_t folder_id, std::u16string& path);

// Replaces recognised variables in `path` and answers whether the path was
// expanded. A variable runs from "%" to the next "%" (spans of 15 characters
// or more never are), letters match without regard to case, and a separator
// right after it belongs to it: the variable followed by "\name", and
// followed directly by "name", both become the folder, one separator and the
// name. With `prefix_only` only a variable at the very start counts. Without
// it every variable is expanded and the answer is false when any recognised
// one could not be resolved. Unknown variables stay as they are.
bool ExpandEnvironmentPath(std::u16string& path, bool prefix_only);

// The first of these that is an existing folder: $TMPDIR, $TMP, $TEMP (each
// when absolute), /tmp, the program's folder joined with "TEMP" (created
// when missing), the program's folder. It ends in a separator exactly when
// `trailing_backslash` is set.
std::u16string GetTempFolder(bool trailing_backslash);

}  // namespace kav
