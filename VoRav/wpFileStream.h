// File streams, the stream module's file-open hooks, and the routines that
// open files as streams.
//
// A TFileStream reads and writes a file handle of the gate (winFileAPI.h).
// Transfer failures surface as stream errors: a failed read raises
// EStreamReadError and a failed or short write EStreamWriteError, carrying
// the system's text. Positioning failures raise EStreamSeekError; GetSize
// and SetSize raise the file errors (EFileError, EFileAccessError).
//
// The hooks: ReadFile (vxStream.h) opens "RES:<name>[.<anything>]" as the
// embedded raw-data resource <name> and any other name as a file for
// reading; WriteFile opens a file for reading and writing. They are installed
// when this module starts (and by InstallFileStreamHooks).
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Win32/winFileAPI.h"
#include "VoRav/vxStream.h"

namespace kav {

class TFileStream : public TStream {
 public:
  // No file: Handle() is kInvalidHandle.
  TFileStream() = default;
  // Opens at once (see Open); raises EFileOpenError.
  TFileStream(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition);

  // Closes any open file, then opens `path` through FileCreateHandle and
  // keeps the path, access and share mode. When opening raises, the stream
  // has no file and the exception passes on.
  void Open(const std::u16string& path, uint32_t access, uint32_t share, uint32_t disposition);
  // Closes any open file and takes over `handle`, a handle the gate opened
  // (closed with the stream), keeping the path, access and share mode.
  void Attach(THandle handle, const std::u16string& path, uint32_t access, uint32_t share);
  // Closes the file; raises EFileAccessError when the system reports an
  // error (written data may then be lost). Nothing when closed. Freeing the
  // stream closes it too, without reporting.
  void Close();

  THandle Handle() const noexcept { return handle_; }
  uint32_t Access() const noexcept { return access_; }
  uint8_t ShareMode() const noexcept { return share_; }
  const std::u16string& FileName() const noexcept { return file_name_; }

  int64_t GetPosition() override;
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  // Truncates to 0, position 0; nothing when closed.
  void Clear() override;
  // Nothing (0) when closed. Copies `count` bytes, cut to the source's
  // remaining bytes when its size is known; a source of unknown size is
  // copied to its end whatever the count. Large copies use a buffer of up to
  // 8 MB, small ones 32 KB. Answers the bytes copied; a short write raises
  // EStreamWriteError.
  int64_t CopyFrom(TStream* source, int64_t count) override;

 protected:
  void Dispose() override;
  int64_t DoRead(std::span<uint8_t> buffer) override;
  int64_t DoWrite(std::span<const uint8_t> buffer) override;

 private:
  THandle handle_ = kInvalidHandle;
  uint32_t access_ = 0;
  uint8_t share_ = 0;
  std::u16string file_name_;
};

// A stream reading the file, or nil when it does not exist or cannot be
// opened (read access, share read, open existing).
Ref<TFileStream> OpenFileStreamRead(const std::u16string& path);
// A stream reading and writing the file, created anew when `create` is set
// (else opened, or created when missing); nil when it cannot be opened.
Ref<TFileStream> OpenFileStreamRW(const std::u16string& path, bool create);
// Writes the whole stream to the file (created anew). False when anything
// fails, closing included.
bool StreamSaveToFile(TStream* stream, const std::u16string& path);

// The ReadFile hook: "RES:" (any case) names an embedded resource of type
// kResourceRawData, the name running to the first "." or the end; anything
// else is OpenFileStreamRead.
Ref<TStream> OpenFileOrResource(const std::u16string& path);

// Installs OpenFileOrResource and OpenFileStreamRW as the stream module's hooks.
void InstallFileStreamHooks();

}  // namespace kav
