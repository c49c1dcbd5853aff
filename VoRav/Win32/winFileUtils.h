// Checked file-handle routines, existence tests, folder creation and
// removal, and the program's own path: the file utilities over the gate
// (winFileAPI.h).
//
// The checked routines raise an EFileError descendant built from errno: the
// system's text for the code as the message and the code in ErrorCode;
// EFileOpenError carries the path instead of the text.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Win32/winFileAPI.h"

namespace kav {

// The gate's CreateFile; on failure raises EFileOpenError whose message is
// the path (UTF-8).
THandle FileCreateHandle(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition);
// FileSeek64; raises EFileSeekError on failure.
int64_t FileSeekChecked(THandle handle, int origin, int64_t offset);
// The size; raises EFileError on failure.
int64_t FileGetSizeChecked(THandle handle);
// Sets the file's size; the position stays where it was. Raises
// EFileAccessError on failure (a negative size included).
void FileSetSize(THandle handle, int64_t size);
// Sets the end of the file at `end_at`, then moves to `position`. Raises
// EFileAccessError on failure.
void FileSetEndAt(THandle handle, int64_t end_at, int64_t position);
// Read / write up to `count` bytes and answer the bytes moved; raise
// EFileReadError / EFileWriteError on failure. A write moves every byte or
// raises.
int64_t FileReadChecked(THandle handle, void* buffer, int64_t count);
int64_t FileWriteChecked(THandle handle, const void* buffer, int64_t count);
// Closes; raises EFileAccessError on failure.
void FileCloseChecked(THandle handle);

// Deletes a file: false when it does not exist, true when deleted. When the
// first attempt fails it clears the read-only attribute and tries again; when
// that fails too the old attributes are put back and EFileAccessError raised.
bool ForceDeleteFile(const std::u16string& path);

// Whether the path names a file / a folder (links count as what they name).
bool FileExists(const std::u16string& path);
bool DirectoryExists(const std::u16string& path);
// True when the folder exists or was created with all its missing parents;
// false for an empty path and when a folder cannot be made.
bool ForceDirectories(const std::u16string& folder);
// Deletes the folder and all in it without following links (see
// TFileAPI::DeleteTree); false for an empty path and on failure.
bool DeleteDirectoryTree(const std::u16string& folder);

// The current folder, with or without a final separator.
std::u16string GetCurrentDir(bool with_backslash);
bool SetCurrentDir(const std::u16string& path);

// The program's own file, and its folder with a final separator; fixed at
// first use.
const std::u16string& GetProgramFileName();
const std::u16string& GetProgramFolder();

}  // namespace kav
