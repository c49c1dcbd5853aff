#include "VoRav/Win32/winFileUtils.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

template <class E>
[[noreturn]] void RaiseFileError(int code) {
  throw E(OSErrorMessage(code), code);
}

}  // namespace

THandle FileCreateHandle(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition) {
  const THandle h = FileAPI()->CreateFile(path, access, share, disposition, kFileAttributeNormal);
  if (h < 0) throw EFileOpenError(UTF8Encode(path), errno);
  return h;
}

int64_t FileSeekChecked(THandle handle, int origin, int64_t offset) {
  const int64_t r = FileSeek64(handle, origin, offset);
  if (r < 0) RaiseFileError<EFileSeekError>(errno);
  return r;
}

int64_t FileGetSizeChecked(THandle handle) {
  const int64_t r = FileAPI()->GetFileSize(handle);
  if (r < 0) RaiseFileError<EFileError>(errno);
  return r;
}

void FileSetSize(THandle handle, int64_t size) {
  if (size < 0) RaiseFileError<EFileAccessError>(EINVAL);
  if (ftruncate(handle, static_cast<off_t>(size)) != 0) RaiseFileError<EFileAccessError>(errno);
}

void FileSetEndAt(THandle handle, int64_t end_at, int64_t position) {
  if (end_at < 0) RaiseFileError<EFileAccessError>(EINVAL);
  if (ftruncate(handle, static_cast<off_t>(end_at)) != 0 || FileSeek64(handle, kFileBegin, position) < 0)
    RaiseFileError<EFileAccessError>(errno);
}

int64_t FileReadChecked(THandle handle, void* buffer, int64_t count) {
  const int64_t r = FileReadRaw(handle, buffer, count);
  if (r < 0) RaiseFileError<EFileReadError>(errno);
  return r;
}

int64_t FileWriteChecked(THandle handle, const void* buffer, int64_t count) {
  const int64_t r = FileWriteRaw(handle, buffer, count);
  if (r < count) RaiseFileError<EFileWriteError>(errno ? errno : EIO);
  return r;
}

void FileCloseChecked(THandle handle) {
  if (!FileAPI()->CloseHandle(handle)) RaiseFileError<EFileAccessError>(errno);
}

bool ForceDeleteFile(const std::u16string& path) {
  TFileAPI* api = FileAPI();
  if (api->DeleteFile(path)) return true;
  const uint32_t old = api->GetFileAttributes(path);
  if (old == kInvalidFileAttributes) return false;
  api->SetFileAttributes(path, kFileAttributeNormal);
  if (api->DeleteFile(path)) return true;
  const int code = errno;
  api->SetFileAttributes(path, old);
  RaiseFileError<EFileAccessError>(code);
}

bool FileExists(const std::u16string& path) {
  const uint32_t a = FileAPI()->GetFileAttributes(path);
  return a != kInvalidFileAttributes && !(a & kFileAttributeDirectory) && a != kFileAttributeReparsePoint;
}

bool DirectoryExists(const std::u16string& path) {
  const uint32_t a = FileAPI()->GetFileAttributes(path);
  return a != kInvalidFileAttributes && (a & kFileAttributeDirectory);
}

bool ForceDirectories(const std::u16string& folder) {
  if (folder.empty()) return false;
  // The missing folders from the deepest up; made again from the top down
  // (a loop, so a very deep path cannot exhaust the stack).
  std::vector<std::u16string> missing;
  std::u16string f = folder;
  while (!DirectoryExists(f)) {
    f = ExcludeTrailingBackslash(f);
    if (f.empty()) return false;
    missing.push_back(f);
    std::u16string parent = ExtractFileDir(f, false);
    if (parent.empty()) {
      // Only the root ("/" or "\") may stand above: it exists.
      if (ExtractFileDir(f, true).empty()) return false;
      break;
    }
    f = std::move(parent);
  }
  TFileAPI* api = FileAPI();
  for (size_t i = missing.size(); i > 0; --i)
    if (!api->CreateDirectory(missing[i - 1]) && !DirectoryExists(missing[i - 1])) return false;
  return true;
}

bool DeleteDirectoryTree(const std::u16string& folder) {
  if (folder.empty()) return false;
  return FileAPI()->DeleteTree(ExcludeTrailingBackslash(folder));
}

std::u16string GetCurrentDir(bool with_backslash) {
  return SetTrailingBackslash(FileAPI()->GetCurrentDir(), with_backslash);
}

bool SetCurrentDir(const std::u16string& path) { return FileAPI()->SetCurrentDir(path); }

const std::u16string& GetProgramFileName() {
  static const std::u16string name = FileAPI()->GetModuleFileName(nullptr);
  return name;
}

const std::u16string& GetProgramFolder() {
  static const std::u16string folder = ExtractFileDir(GetProgramFileName(), true);
  return folder;
}

}  // namespace kav
