// Listing the files of a folder with their details, and the links
// ("junctions") the listing may meet.
//
// Everything goes through the file gate. When listing a folder is refused
// and the folder is a link, the listing is tried once more on what the link
// leads to (Windows profile folders are junctions that refuse listing).
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

// Raised by EnumerateFolder with an empty message and errno's code.
KAV_DECLARE_EXCEPTION(EFolderAccessDenied, EFolderError);
KAV_DECLARE_EXCEPTION(EFolderNotFound, EFolderError);

// One folder entry.
struct TFileInfo {
  std::u16string Name;
  // Index of the last "." in Name, or Name.size() when there is none.
  size_t ExtPos = 0;
  // The 8.3 name where the system gives one; here always Name.
  std::u16string ShortName;
  uint16_t Attributes = 0;
  bool IsDirectory = false;
  int64_t Size = 0;        // 0 for a folder
  int64_t SizeOnDisk = 0;  // the size (no compressed files here)
  // Local times.
  TSystemTime CreationTime;
  TSystemTime LastAccessTime;
  TSystemTime LastWriteTime;
};

// Whether the path is a link (its attributes have kFileAttributeReparsePoint);
// false when the attributes cannot be read.
bool IsReparsePoint(const std::u16string& path);
// What the link at `path` leads to; a relative link is given from the link's
// folder. `is_mount_point` is always false here (links are symbolic links).
// False when the path is not a link or cannot be read.
bool GetJunctionTarget(const std::u16string& path, std::u16string& target, bool& is_mount_point);

// Fills `info` from a found entry.
void FillFileInfo(const TFindData& data, TFileInfo& info);
// The entry the path names (through a refusing link's target when needed);
// "." and ".." count as not found.
bool GetFileInfo(const std::u16string& path, TFileInfo& info);

// Called once per entry with the entries counted so far. Answers whether the
// entry counts; setting `stop` ends the listing after this entry.
using TEnumFolderCallback = bool (*)(void* context, int32_t count, const TFileInfo& info, bool& stop);

// Lists PathCombine(folder, mask) without "." and "..", calling `callback`
// (may be null: then every entry counts) and answers the count. Nothing
// matching gives 0; a missing folder raises EFolderNotFound; a refused
// listing raises EFolderAccessDenied (after the retry on a link's target);
// any other failure raises EFolderError.
int32_t EnumerateFolder(void* context, const std::u16string& folder, const std::u16string& mask,
                        TEnumFolderCallback callback);

}  // namespace kav
