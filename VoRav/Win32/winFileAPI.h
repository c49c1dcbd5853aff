// The file-system gate: every file-system call of the system goes through
// the TFileAPI object that FileAPI() answers.
//
// Paths are wide text as the rest of the system writes them (Windows paths
// from shows, Linux paths from the environment); the gate maps each one with
// MapToSystemPath (winPathMap.h) and hands the kernel standard UTF-8. A name
// that cannot stand for a Linux file (a drive, a UNC name) fails as a missing
// file does.
//
// Failures answer the value the operation names (false, -1, kInvalidHandle,
// kInvalidFileAttributes) and leave the reason in errno. Two codes carry the
// distinction Windows makes between a missing file and a missing folder:
// ENOENT (the name, or for FindFirst any entry matching the mask, does not
// exist) and ENOTDIR (FindFirst's folder does not exist or is not a folder).
//
// Operations may be called from any thread. Replacing the gate (SetFileAPI)
// is meant for start-up and tests.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/SysObj2.h"

namespace kav {

// A file handle is a file descriptor.
using THandle = int;
inline constexpr THandle kInvalidHandle = -1;

// Access rights. kFileAppendData with kGenericWrite: every write lands at
// the file's end, whoever else writes the file (O_APPEND).
enum : uint32_t { kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u, kFileAppendData = 0x00000004u };
// Share modes. Linux has no mandatory sharing: the gate records and ignores them.
enum : uint32_t { kFileShareRead = 1, kFileShareWrite = 2, kFileShareDelete = 4 };
// Dispositions.
enum : uint32_t {
  kCreateNew = 1,         // fails when the file exists
  kCreateAlways = 2,      // created or truncated
  kOpenExisting = 3,      // fails when the file is missing
  kOpenAlways = 4,        // opened or created
  kTruncateExisting = 5,  // fails when missing, else truncated
};
// CreateFile flags: without kFileFlagBackupSemantics a folder cannot be opened.
inline constexpr uint32_t kFileFlagBackupSemantics = 0x02000000u;
// MoveFileEx flags.
inline constexpr uint32_t kMoveFileReplaceExisting = 1;
// Seek origins.
enum : int { kFileBegin = 0, kFileCurrent = 1, kFileEnd = 2 };

// File attributes as Windows reports them. A file the owner may not write
// reports kFileAttributeReadOnly; kFileAttributeNormal stands alone when no
// other bit applies. A symbolic link reports the attributes of what it leads
// to plus kFileAttributeReparsePoint; a link that leads nowhere reports
// kFileAttributeReparsePoint alone.
enum : uint32_t {
  kFileAttributeReadOnly = 0x01,
  kFileAttributeHidden = 0x02,
  kFileAttributeDirectory = 0x10,
  kFileAttributeArchive = 0x20,
  kFileAttributeNormal = 0x80,
  kFileAttributeReparsePoint = 0x400,
  kFileAttributeCompressed = 0x800,
};
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// One entry found by FindFirst / FindNext. Times are nanoseconds since
// 1 January 1970 UTC; the creation time is the birth time where the file
// system records one, else the last-write time.
struct TFindData {
  uint32_t Attributes = 0;
  int64_t CreationTime = 0;
  int64_t LastAccessTime = 0;
  int64_t LastWriteTime = 0;
  int64_t Size = 0;              // 0 for a folder; a link reports what it leads to
  std::u16string Name;
  std::u16string AlternateName;  // the 8.3 name: always empty here
};

// An open search; kInvalidFind when none.
class TFindSearch;
using TFindHandle = TFindSearch*;
inline constexpr TFindHandle kInvalidFind = nullptr;

class TFileAPI : public TRefObject {
 public:
  // The file of a loaded library (`module` from SafeLoadLibrary), or of the
  // program itself for null; empty when unknown.
  virtual std::u16string GetModuleFileName(void* module);
  // The process's command line: its arguments joined by blanks, those with
  // blanks or nothing in them put in double quotation marks.
  virtual std::u16string GetCommandLine();
  // The current folder; empty on failure.
  virtual std::u16string GetCurrentDir();
  virtual bool SetCurrentDir(const std::u16string& path);

  // Starts listing the entries of a folder that match a pattern: the
  // pattern's last component is the mask ("*" and "?" wildcards, "*.*"
  // matching every name, letters compared without regard to case); a mask
  // without wildcards finds that one name. Entries come sorted by name
  // (case-folded), "." and ".." included when the mask matches them. Answers
  // kInvalidFind with ENOENT when nothing matches, ENOTDIR when the folder is
  // missing, or the system's code.
  virtual TFindHandle FindFirst(const std::u16string& pattern, TFindData& data);
  // The next entry; false at the end (errno 0) or on failure.
  virtual bool FindNext(TFindHandle search, TFindData& data);
  // Ends a search (kInvalidFind is ignored).
  virtual void FindClose(TFindHandle search);

  // Attributes (see above) without following a final link; kInvalidFileAttributes when absent.
  virtual uint32_t GetFileAttributes(const std::u16string& path);
  // Only the read-only bit changes anything: set, it takes every write
  // permission away; clear, it gives the owner write permission. A link is
  // left alone.
  virtual bool SetFileAttributes(const std::u16string& path, uint32_t attributes);
  virtual bool CreateDirectory(const std::u16string& path);
  virtual bool RemoveDirectory(const std::u16string& path);
  // Opens or creates a file. Access is kGenericRead and/or kGenericWrite;
  // the handle is not inherited by child processes.
  virtual THandle CreateFile(const std::u16string& path, uint32_t access, uint32_t share,
                             uint32_t disposition, uint32_t flags);
  // The size, -1 on failure.
  virtual int64_t GetFileSize(THandle handle);
  virtual bool CloseHandle(THandle handle);
  // Renames; without kMoveFileReplaceExisting an existing target makes it fail (EEXIST).
  virtual bool MoveFileEx(const std::u16string& old_path, const std::u16string& new_path, uint32_t flags);
  // Deletes a file or a link (never a folder).
  virtual bool DeleteFile(const std::u16string& path);
  // Linux files carry no version resource: always -1.
  virtual int32_t GetFileVersion(const std::u16string& path);
  // There are no short names here: `name` receives the Linux path in
  // standard UTF-8, the name 8-bit interfaces need; true when that file exists.
  virtual bool GetShortPathName(const std::u16string& path, std::string& name);

  // What a link leads to, as stored in the link (relative or absolute);
  // false when the path is not a link.
  virtual bool ReadLink(const std::u16string& path, std::u16string& target);
  // Deletes a folder with everything in it. Links inside are removed
  // themselves, never followed; when `path` itself is a link, only the link
  // goes. Folders the owner may not write are made writable first. False on
  // the first failure (what was deleted stays deleted), for a missing path,
  // for a file (ENOTDIR) and for a tree more than 1024 folders deep.
  virtual bool DeleteTree(const std::u16string& path);

  // Opens an existing file for reading through `folder` without leaving it:
  // `path` must lie below the folder, and neither a ".." nor a link at any
  // depth of the name may lead out of the folder (links that stay inside are
  // followed). Only regular files open. kInvalidHandle with EXDEV when the
  // name leads outside, else as CreateFile. Names from shows open this way.
  virtual THandle OpenFileBeneath(const std::u16string& folder, const std::u16string& path);
  // The link-free system path of the existing `path` when it lies below
  // `folder` once every link is resolved; false with EXDEV when it leads
  // outside, ENOENT when it does not exist. For handing a checked name to
  // something that opens by name (starting a program).
  virtual bool ResolveBeneath(const std::u16string& folder, const std::u16string& path, std::string& real);
};

// The gate in use (never null).
TFileAPI* FileAPI();
// Installs another gate (null restores the standard one); answers the previous one.
Ref<TFileAPI> SetFileAPI(Ref<TFileAPI> gate);

// Whether OpenFileBeneath asks the kernel (openat2) first; off, it takes the
// way of kernels without it (the name resolved in full, checked, then opened
// without following links). For tests of that way; on by default.
void SetOpenBeneathByKernel(bool on) noexcept;

// Handle routines (not part of the replaceable gate). Each retries when a
// signal interrupts it.
// The new position, -1 on failure.
int64_t FileSeek64(THandle handle, int origin, int64_t offset);
// Sets the end of the file at the current position.
bool FileTruncate(THandle handle);
// Reads up to `count` bytes; the bytes read (0 at the end), -1 on failure.
int64_t FileReadRaw(THandle handle, void* buffer, int64_t count);
// Writes all `count` bytes unless the system refuses; the bytes written
// (fewer only when a write fails after some went out), -1 when none went.
int64_t FileWriteRaw(THandle handle, const void* buffer, int64_t count);

}  // namespace kav
