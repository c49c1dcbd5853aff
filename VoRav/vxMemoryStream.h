// In-memory streams: TMemoryStream over a byte array and TStringStream over
// its own copy of an 8-bit text.
//
// Both keep a size, a position and a data block whose length is the
// capacity. The capacity grows in steps (by 16 up to 32, by 64 up to 256,
// then doubling: 0, 16, 32, 48, 112, 176, 240, 304, 608, ...) and never to
// kMaxMemoryStreamSize or more; a write that would need more takes nothing
// (a short write, which the typed writers report as EStreamWriteError).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/vxStream.h"

namespace kav {

// Sizes of in-memory streams stay below this (512 MB).
inline constexpr int64_t kMaxMemoryStreamSize = 0x1FFFFFFF;

// The shared implementation; `Buffer` is std::vector<uint8_t> or std::string.
template <class Buffer>
class TMemoryStreamBase : public TStream {
 public:
  int64_t GetPosition() override { return position_; }
  // Clamps to 0..size and answers the position taken.
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  // 0 empties the stream and frees its data; a larger size than the current
  // one sets the capacity to exactly that size (new bytes are 0); a smaller
  // one only lowers the size. The position is lowered to the size when past
  // it. Raises EStreamError for a negative size, for kMaxMemoryStreamSize or
  // more, and when the memory cannot be had.
  void SetSize(int64_t size) override;
  // With a source of known size, `count` is cut to the source's remaining
  // bytes and read straight into this stream's data; EStreamReadError when
  // the source delivers fewer, EStreamWriteError when this stream cannot grow.
  // A source of unknown size is copied by the base routine (to its end when
  // count allows).
  int64_t CopyFrom(TStream* source, int64_t count) override;

  // The data block: Capacity() bytes, of which the first GetSize() are the
  // stream's contents. Valid until the next operation that changes the size.
  uint8_t* Memory() noexcept { return reinterpret_cast<uint8_t*>(data_.data()); }
  const uint8_t* Memory() const noexcept { return reinterpret_cast<const uint8_t*>(data_.data()); }
  int64_t Capacity() const noexcept { return static_cast<int64_t>(data_.size()); }

 protected:
  TMemoryStreamBase() = default;
  explicit TMemoryStreamBase(Buffer data);
  void Dispose() override;
  int64_t DoRead(std::span<uint8_t> buffer) override;
  int64_t DoWrite(std::span<const uint8_t> buffer) override;

  // Makes room for `needed` bytes and raises the size to it; false (nothing
  // changed) when that needs kMaxMemoryStreamSize or more or the memory
  // cannot be had.
  bool Grow(int64_t needed);
  // Makes the capacity at least `needed` by the growth steps; size unchanged.
  bool Reserve(int64_t needed);

  Buffer data_;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

extern template class TMemoryStreamBase<std::vector<uint8_t>>;
extern template class TMemoryStreamBase<std::string>;

class TMemoryStream : public TMemoryStreamBase<std::vector<uint8_t>> {
 public:
  TMemoryStream() = default;
};

class TStringStream : public TMemoryStreamBase<std::string> {
 public:
  TStringStream() = default;
  // Works on its own copy of `text`: size = its length, position 0.
  explicit TStringStream(std::string text);
  // The stream's contents (the first GetSize() bytes) as text.
  std::string DataString() const { return data_.substr(0, static_cast<size_t>(size_)); }
};

}  // namespace kav
