// Inflating streams over zlib: a read-only stream of zlib-wrapped data
// (TZDecompressionStream), the same for raw deflate (TInflateStream), and a
// whole-block decoder through zlib's call-back interface (TInflator).
//
// The streams hold a reference to their source and read it from the position
// it had when the stream was made. They are used by one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include <zlib.h>

#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"

namespace kav {

KAV_DECLARE_EXCEPTION(EZLibError, Exception);
KAV_DECLARE_EXCEPTION(EZDecompressionError, EZLibError);

// Called with the stream or inflator after each block of input it takes and,
// for the inflator, each block of output it hands on.
using TZProgressEvent = TDelegate<void(TRefObject* sender)>;

enum class TSeekOrigin { Beginning, Current, End };

class TCustomZStream : public TStream {
 public:
  static constexpr size_t kInputBufferSize = 65536;
  TZProgressEvent OnProgress;

 protected:
  explicit TCustomZStream(TStream* source);
  void Dispose() override;

  Ref<TStream> source_;
  int64_t start_;    // the source's position when the stream was made
  int64_t current_;  // the source's position after the input taken so far
  z_stream zs_{};
  std::vector<uint8_t> input_;
};

class TZDecompressionStream : public TCustomZStream {
 public:
  // Inflates zlib-wrapped data (header and checksum).
  explicit TZDecompressionStream(TStream* source) : TZDecompressionStream(source, 15) {}

  // The number of bytes inflated so far.
  int64_t GetPosition() override { return total_; }
  // Seek from the beginning (see Seek).
  int64_t SetPosition(int64_t position) override { return Seek(position, TSeekOrigin::Beginning); }
  // -1: unknown.
  int64_t GetSize() override { return -1; }
  void SetSize(int64_t) override {}

  // Offset 0 from the beginning restarts the decoding from the start of the
  // source. A later position (from the beginning, or a positive offset from
  // the current one) inflates and drops the bytes before it, raising
  // EStreamReadError when the data end first. Offset 0 from the end inflates
  // to the end. Offset 0 from the current position changes nothing. Anything
  // else raises EZDecompressionError "Invalid ZStream operation!". Answers the
  // number of bytes inflated so far.
  int64_t Seek(int64_t offset, TSeekOrigin origin);
  // True once the deflate data have ended.
  bool Ended() const noexcept { return ended_; }

 protected:
  TZDecompressionStream(TStream* source, int window_bits);
  void Dispose() override;
  // Inflates into the buffer until it is full or the data end. Raises
  // EZDecompressionError with zlib's message on corrupt data, and when the
  // source ends before the deflate data do (a truncated stream is never
  // passed off as complete). Input left after the end is dropped.
  int64_t DoRead(std::span<uint8_t> buffer) override;
  // Raises EZDecompressionError "Invalid ZStream operation!".
  int64_t DoWrite(std::span<const uint8_t> buffer) override;

 private:
  void Restart();
  void Skip(int64_t count);

  int64_t total_ = 0;
  bool ended_ = false;
};

class TInflateStream : public TZDecompressionStream {
 public:
  // Raw deflate. `size` is the inflated size when known (-1 otherwise);
  // `position` is the logical position of the first inflated byte (-1 or 0
  // for the start).
  explicit TInflateStream(TStream* source, int64_t size = -1, int64_t position = 0);

  int64_t GetPosition() override;
  // Does nothing when `position` is the current one; otherwise seeks as
  // TZDecompressionStream::Seek does.
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  // Raises EZDecompressionError "Invalid ZStream operation!".
  void SetSize(int64_t size) override;

 private:
  int64_t size_;
  int64_t origin_;
};

// Raises EZDecompressionError with zlib's text for `code`.
[[noreturn]] void RaiseZError(int code);

}  // namespace kav
