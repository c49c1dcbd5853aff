// Turning the system's file names into Linux paths.
//
// Names inside shows are Windows paths. The file gate hands every name to
// MapToSystemPath before it reaches the kernel:
//   * a "\\?\" prefix is dropped; a drive ("C:..."), a UNC name
//     ("\\server\share", "\\?\UNC\...") and a device name ("\\.\...") stand
//     for nothing on this system and are refused;
//   * backslashes become slashes and the text becomes standard UTF-8;
//   * when the exact name does not exist, each component that is missing is
//     looked up in its folder without regard to case (Unicode simple case
//     folding) or Unicode normal form (a name typed composed finds a file a
//     Mac stored decomposed, and the reverse: FileNameMatchKey); the first
//     component that matches nothing and everything after
//     it are kept as given, so a new file is created under the existing
//     folders with the name as written.
// Folder listings for the case-insensitive lookup are cached per folder and
// dropped when the folder changes (its identity or modification time).
// A Linux name that contains a backslash cannot be reached.
//
// Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace kav {

// The Linux path for `name`; false (and errno ENOENT, or EINVAL for an empty
// name or one with a NUL) when the name cannot stand for a Linux file.
bool MapToSystemPath(std::u16string_view name, std::string& path);

// The same for a name that must stay below the folder `below` (a system
// path, as MapToSystemPath gives it): a folder below it is listed for the
// case-insensitive lookup only when its real path lies inside `below`'s, so
// a link that leads out is never listed; the rest is then kept as written.
bool MapToSystemPathBelow(std::u16string_view name, const std::string& below, std::string& path);

// The text step alone: prefix dropped, backslashes to slashes, standard
// UTF-8; no lookup in the file system. False as for MapToSystemPath.
bool SystemPathText(std::u16string_view name, std::string& path);

// Forgets every cached folder listing.
void ClearPathMapCache();

}  // namespace kav
