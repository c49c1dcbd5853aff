// The byte-stream base: 64-bit positions and sizes, typed little- and
// big-endian readers and writers, copying and whole-stream loading, UTF-16
// and 8-bit text transfers, and the two file-open hooks.
//
// A stream is a reference-counted object and is not thread-safe: one thread
// at a time uses it. Positions and sizes are signed 64-bit; a size of -1
// means the stream does not know it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "VoRav/SysObj2.h"

namespace kav {

class TStream : public TRefObject {
 public:
  // The current position (0-based byte index).
  virtual int64_t GetPosition() = 0;
  // Moves to `position` and returns the position actually taken (streams
  // that clamp say so; others raise an EStreamError descendant).
  virtual int64_t SetPosition(int64_t position) = 0;
  // The size in bytes, or -1 when unknown.
  virtual int64_t GetSize() = 0;
  // The size when it is known without reading the data, else -1. Only a
  // stream that learns its size by reading to its end (a large deflated
  // entry of a package that nothing has read through yet) answers -1 where
  // GetSize answers; every other stream answers GetSize().
  virtual int64_t GetKnownSize() { return GetSize(); }
  // The size when it is at most `limit`, else -1 (also when unknown). A
  // stream that learns its size by reading reads no further than just past
  // `limit`, so that a hostile one costs no more than that.
  virtual int64_t GetSizeWithin(int64_t limit) {
    const int64_t size = GetSize();
    return size <= limit ? size : -1;
  }
  // Sets the size; raises EStreamError when the stream cannot take it.
  virtual void SetSize(int64_t size) = 0;
  // GetSize() - GetPosition(); negative when the size is unknown.
  virtual int64_t GetRemaining();
  // Replaces this stream's contents with the whole of `source` (from its
  // start, whatever its position). The source's position is restored, this
  // stream's position is 0 afterwards. Raises EStreamError when a source of
  // known size delivers fewer bytes than it announced.
  virtual void LoadFrom(TStream* source);
  // SetPosition(0), then SetSize(0).
  virtual void Clear();
  // Copies up to `count` bytes from the source's position to this stream's
  // position and returns the bytes copied; stops early when the source ends.
  // A count of 0 or below copies nothing. Raises EStreamWriteError when this
  // stream takes fewer bytes than it was given.
  virtual int64_t CopyFrom(TStream* source, int64_t count);

  // Reads up to `count` bytes into buffer[start...] and returns the bytes
  // read (0 at the end). Never touches bytes outside `buffer`: a negative
  // start counts as 0, nothing moves when start lies past the buffer, and
  // count is cut to the room from start on.
  int64_t Read(std::span<uint8_t> buffer, int64_t count, int64_t start = 0);
  // Writes up to `count` bytes from buffer[start...] and returns the bytes
  // written; the buffer limits as for Read.
  int64_t Write(std::span<const uint8_t> buffer, int64_t count, int64_t start = 0);

  // Typed readers. Each raises EStreamReadError (default message) when fewer
  // bytes than the value's width remain; the position has then moved by the
  // bytes that came.
  uint8_t ReadByte();
  uint16_t ReadWord();
  uint16_t ReadWordBE();
  int16_t ReadSmallIntBE();
  int32_t ReadInteger();
  uint32_t ReadDWord();
  uint32_t ReadDWordBE();
  int64_t ReadInt64();
  float ReadSingle();

  // Typed writers (little-endian). Each raises EStreamWriteError (default
  // message) when the stream takes fewer bytes than the value's width.
  void WriteByte(uint8_t value);
  void WriteSmallInt(int16_t value);
  void WriteWord(uint16_t value);
  void WriteInteger(int32_t value);
  void WriteSingle(float value);

  // Writes the bytes (or `count` bytes from `start`, cut to the array) in
  // pieces of at most 1024; raises EStreamWriteError on a short piece.
  void WriteBytes(std::span<const uint8_t> bytes);
  void WriteBytes(std::span<const uint8_t> bytes, int64_t start, int64_t count);
  // Writes the characters (or `count` from `start`, cut to the text) as
  // UTF-16 little-endian, 2 bytes each, in pieces of at most 1024 bytes;
  // raises EStreamWriteError on a short piece.
  void WriteText(std::u16string_view text);
  void WriteText(std::u16string_view text, int64_t start, int64_t count);

  // Reads up to `count` UTF-16 little-endian characters into the existing
  // `text` from index `start` on, never past its length, in pieces of at
  // most 1024 bytes; returns the characters read. A final odd byte (half a
  // character) at the end of the stream is consumed and dropped.
  int64_t ReadTextRange(std::u16string& text, int64_t start, int64_t count);
  // Reads up to `count` bytes into the existing `text` from index `start` on,
  // never past its length, in pieces of at most 2048; returns the bytes read.
  int64_t ReadAnsiRange(std::string& text, int64_t start, int64_t count);

 protected:
  // Transfer hooks of the concrete streams. `buffer` is never empty and is
  // exactly the room to fill or send; return the bytes moved (0 at the end
  // or when nothing can be taken). A failure other than a short transfer
  // raises an EStreamError descendant.
  virtual int64_t DoRead(std::span<uint8_t> buffer) = 0;
  virtual int64_t DoWrite(std::span<const uint8_t> buffer) = 0;

 private:
  void ReadExact(uint8_t* dst, int64_t n);
  void WriteExact(const uint8_t* src, int64_t n);
};

// Reads a whole text stream, from its position, as UTF-8 bytes. Answers
// 1 when it began with the UTF-8 mark EF BB BF (the mark is skipped), 2 when
// it began with the UTF-16 little-endian mark FF FE (the text after it is
// converted), 3 when it had no mark (converted from `code_page`, 0 for the
// system's ANSI code page; with 0, text that is valid UTF-8 and not plain
// ASCII is taken as UTF-8, as Linux editors write it). Answers 0 with an empty array when the stream's
// size is unknown or above kMaxTextStreamSize bytes, and 0 on a short read
// (after the UTF-8 mark the array then keeps the bytes that came).
inline constexpr int64_t kMaxTextStreamSize = 0x7FFFFFF;
uint8_t StreamReadTextUTF8(TStream* stream, std::vector<uint8_t>& bytes, uint32_t code_page);

// File-open hooks, installed by the file-stream module at start-up.
// ReadFile answers a stream positioned at 0 for reading the named file, or
// nil when it cannot be opened. WriteFile answers a stream for writing
// (the file created anew when `create` is set, else opened or created), or
// nil. Before the hooks are installed both raise an assertion (EAbort).
// Installation is meant for start-up; the hooks may be called from any thread.
using TReadFileHook = Ref<TStream> (*)(const std::u16string& file_name);
using TWriteFileHook = Ref<TStream> (*)(const std::u16string& file_name, bool create);
Ref<TStream> ReadFile(const std::u16string& file_name);
Ref<TStream> WriteFile(const std::u16string& file_name, bool create);
// Install a hook and answer the previous one; nil restores the default.
TReadFileHook SetReadFileHook(TReadFileHook hook);
TWriteFileHook SetWriteFileHook(TWriteFileHook hook);

}  // namespace kav
