#include "VoRav/wpFileStream.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <vector>

#include "VoRav/Win32/winFileUtils.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpResources.h"

namespace kav {

namespace {

constexpr int64_t kLargeCopy = 0x100001;
constexpr int64_t kMaxCopyBuffer = 0x800000;
constexpr int64_t kSmallCopyBuffer = 32768;

[[noreturn]] void RaiseSeekError() { throw EStreamSeekError(OSErrorMessage(errno)); }

}  // namespace

TFileStream::TFileStream(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition) {
  Open(path, access, share, disposition);
}

void TFileStream::Open(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition) {
  if (handle_ != kInvalidHandle) {
    FileAPI()->CloseHandle(handle_);
    handle_ = kInvalidHandle;
  }
  handle_ = FileCreateHandle(path, access, share, disposition);
  file_name_ = path;
  access_ = access;
  share_ = static_cast<uint8_t>(share);
}

void TFileStream::Attach(THandle handle, const std::u16string& path, uint32_t access, uint32_t share) {
  if (handle_ != kInvalidHandle) FileAPI()->CloseHandle(handle_);
  handle_ = handle;
  file_name_ = path;
  access_ = access;
  share_ = static_cast<uint8_t>(share);
}

void TFileStream::Close() {
  if (handle_ == kInvalidHandle) return;
  const THandle h = handle_;
  handle_ = kInvalidHandle;  // closed even when the system reports an error
  FileCloseChecked(h);
}

void TFileStream::Dispose() {
  if (handle_ != kInvalidHandle) FileAPI()->CloseHandle(handle_);
  handle_ = kInvalidHandle;
  TStream::Dispose();
}

int64_t TFileStream::GetPosition() {
  const int64_t r = FileSeek64(handle_, kFileCurrent, 0);
  if (r < 0) RaiseSeekError();
  return r;
}

int64_t TFileStream::SetPosition(int64_t position) {
  const int64_t r = FileSeek64(handle_, kFileBegin, position);
  if (r < 0) RaiseSeekError();
  return r;
}

int64_t TFileStream::GetSize() { return FileGetSizeChecked(handle_); }

void TFileStream::SetSize(int64_t size) { FileSetSize(handle_, size); }

void TFileStream::Clear() {
  if (handle_ == kInvalidHandle) return;
  FileSetEndAt(handle_, 0, 0);
}

int64_t TFileStream::CopyFrom(TStream* source, int64_t count) {
  if (handle_ == kInvalidHandle) return 0;
  const int64_t size = source->GetSize();
  int64_t buffer_size;
  if (size < 0) {
    count = std::numeric_limits<int64_t>::max();  // unknown size: to the source's end
    buffer_size = kLargeCopy;
  } else {
    count = std::min(count, size - source->GetPosition());
    if (count <= 0) return 0;
    buffer_size = count >= kLargeCopy ? std::min(count, kMaxCopyBuffer) : kSmallCopyBuffer;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(buffer_size));
  int64_t total = 0;
  while (count > 0) {
    const int64_t got = source->Read(buffer, std::min(count, buffer_size));
    if (got <= 0) break;
    if (Write(buffer, got) < got) throw EStreamWriteError();
    total += got;
    count -= got;
  }
  return total;
}

int64_t TFileStream::DoRead(std::span<uint8_t> buffer) {
  try {
    return FileReadChecked(handle_, buffer.data(), static_cast<int64_t>(buffer.size()));
  } catch (const EFileError& e) {
    throw EStreamReadError(e.Message());
  } catch (...) {
    throw EStreamReadError();
  }
}

int64_t TFileStream::DoWrite(std::span<const uint8_t> buffer) {
  try {
    return FileWriteChecked(handle_, buffer.data(), static_cast<int64_t>(buffer.size()));
  } catch (const EFileError& e) {
    throw EStreamWriteError(e.Message());
  } catch (...) {
    throw EStreamWriteError();
  }
}

Ref<TFileStream> OpenFileStreamRead(const std::u16string& path) {
  if (!FileExists(path)) return nullptr;
  try {
    return MakeRef<TFileStream>(path, kGenericRead, kFileShareRead, kOpenExisting);
  } catch (...) {
    return nullptr;
  }
}

Ref<TFileStream> OpenFileStreamRW(const std::u16string& path, bool create) {
  try {
    return MakeRef<TFileStream>(path, kGenericRead | kGenericWrite, kFileShareRead,
                                create ? kCreateAlways : kOpenAlways);
  } catch (...) {
    return nullptr;
  }
}

bool StreamSaveToFile(TStream* stream, const std::u16string& path) {
  try {
    Ref<TFileStream> file = MakeRef<TFileStream>(path, kGenericWrite, kFileShareRead, kCreateAlways);
    file->LoadFrom(stream);
    file->Close();
    return true;
  } catch (...) {
    return false;
  }
}

Ref<TStream> OpenFileOrResource(const std::u16string& path) {
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  if (path.size() >= 4 && upper(path[0]) == u'R' && upper(path[1]) == u'E' && upper(path[2]) == u'S' &&
      path[3] == u':') {
    const size_t dot = path.find(u'.', 4);
    return OpenResourceStream(std::u16string_view(path).substr(4, dot == std::u16string::npos ? dot : dot - 4),
                              kResourceRawData);
  }
  return OpenFileStreamRead(path);
}

namespace {

Ref<TStream> WriteHook(const std::u16string& path, bool create) { return OpenFileStreamRW(path, create); }

// Installs the hooks when the module starts.
const bool g_hooks_installed = (InstallFileStreamHooks(), true);

}  // namespace

void InstallFileStreamHooks() {
  SetReadFileHook(&OpenFileOrResource);
  SetWriteFileHook(&WriteHook);
}

}  // namespace kav
