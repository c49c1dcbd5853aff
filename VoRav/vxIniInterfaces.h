// Text savers: buffered UTF-8 writers that INI documents (and anything else
// that implements TTextWriter) write themselves through.
//
// A saver keeps a byte buffer; writes fill it and FlushBuffer makes room
// (sends the bytes to a stream, or grows the buffer when the buffer is the
// result). Line breaks are always CR LF. A saver is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/SysObj2.h"
#include "VoRav/vxStream.h"

namespace kav {

class TTextSaver;

// Anything a saver can save.
class TTextWriter : public TRefObject {
 public:
  // Writes the whole object through the saver.
  virtual void SaveTo(TTextSaver* saver) = 0;
};

class TTextSaver : public TRefObject {
 public:
  // Sends what is buffered on its way; what that means is up to the kind of
  // saver. May raise what FlushBuffer raises.
  virtual void Close();
  // writer->SaveTo(this).
  virtual void Save(TTextWriter* writer);
  // The UTF-8 byte-order mark EF BB BF.
  virtual void WriteBOM();
  // n blanks; nothing for n < 1.
  virtual void WriteIndent(int32_t n);
  // The library's UTF-8 form of a range of wide text (0-based start; the
  // range is clamped to the text).
  virtual void WriteText(std::u16string_view text, ptrdiff_t start, ptrdiff_t count);
  void WriteText(std::u16string_view text) { WriteText(text, 0, ptrdiff_t(text.size())); }
  // WriteText of the whole text, then WriteLineBreak.
  virtual void WriteLine(std::u16string_view text);
  // CR LF.
  virtual void WriteLineBreak();
  // The bytes as they are.
  virtual void WriteBytes(std::string_view bytes);

  // Bytes waiting in the buffer.
  size_t Used() const noexcept { return used_; }

 protected:
  // Calls Close (a failure there goes to the debug output), then the
  // inherited Dispose.
  void Dispose() override;
  // Must leave room in the buffer (used_ < buffer_.size()).
  virtual void FlushBuffer() = 0;
  // Room left in the buffer.
  size_t Room() const noexcept { return buffer_.size() - used_; }

  std::string buffer_;  // its size is the capacity
  size_t used_ = 0;
};

// Writes to a stream through a 32768-byte buffer.
class TStreamTextSaver : public TTextSaver {
 public:
  // With `owns` (and a stream) the saver releases the stream on Close.
  TStreamTextSaver(TStream* stream, bool owns);
  // Flushes, releases the stream when owned, and forgets it.
  void Close() override;
  TStream* Stream() const noexcept { return stream_; }

 protected:
  // Writes the buffered bytes; raises EStreamWriteError when the stream takes
  // fewer, and when there is no stream.
  void FlushBuffer() override;

 private:
  TStream* stream_;
  bool owns_;
};

// Collects the text in memory: after Close, Bytes() holds exactly what was
// written.
class TBytesTextSaver : public TTextSaver {
 public:
  TBytesTextSaver() = default;
  void Close() override;
  // The written text (complete after Close).
  const std::string& Bytes() const noexcept { return buffer_; }
  // Takes the written text out (closing first).
  std::string TakeBytes();

 protected:
  // Grows the buffer: 4096 bytes at first, then doubling.
  void FlushBuffer() override;
};

// Writes a whole document as one line: every backslash is doubled and a
// line break becomes backslash "n".
class TValueTextSaver : public TBytesTextSaver {
 public:
  using TBytesTextSaver::WriteText;
  void WriteText(std::u16string_view text, ptrdiff_t start, ptrdiff_t count) override;
  void WriteBytes(std::string_view bytes) override;
  void WriteLineBreak() override;
};

}  // namespace kav
