// Inflating streams over zlib: a read-only stream of zlib-wrapped data
// (TZDecompressionStream), the same for raw deflate (TInflateStream), raw
// deflate read like a file at any position (TSeekableInflateStream), and a
// whole-block decoder through zlib's call-back interface (TInflator).
//
// The streams hold a reference to their source and read it from the position
// it had when the stream was made. They are used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"

namespace kav {

KAV_DECLARE_EXCEPTION(EZLibError, Exception);
KAV_DECLARE_EXCEPTION(EZDecompressionError, EZLibError);

// The text of the EZDecompressionError raised when data inflate to more than
// a reader allows.
inline constexpr char kInflatedSizeLimitText[] = "Inflated data exceed the size limit";

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
  // Back to the first inflated byte.
  void Restart();

  int64_t total_ = 0;
  bool ended_ = false;

 private:
  void Skip(int64_t count);
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

// What one inflating pass over raw deflate data found: their inflated size
// and the decoder's state every few MiB. It never changes once made, so the
// streams of any threads may share it.
class TInflateIndex : public TRefObject {
 public:
  TInflateIndex();
  ~TInflateIndex() override;
  int64_t Size() const noexcept { return size_; }

 private:
  friend class TSeekableInflateStream;
  struct TCheckpoint;
  int64_t size_ = 0;
  int64_t spacing_ = 0;
  std::vector<std::unique_ptr<TCheckpoint>> checkpoints_;  // by inflated position
};

// Raw deflate read like a file, for data too large to hold in memory. Made
// without an index, it inflates its source once to the end, dropping the
// bytes: corrupt or truncated data raise there, as they would when inflated
// whole, the size becomes known, and the decoder's state is kept every
// `spacing` inflated bytes (its Index). A later position is reached from the
// nearest kept state at or before it, inflating less than one spacing.
// Memory stays bounded: at most kMaxCheckpoints states (about 40 KiB each)
// are kept, the spacing doubling whenever more would be needed, and reads go
// through a 64 KiB buffer, so small reads cost a copy.
class TSeekableInflateStream : public TZDecompressionStream {
 public:
  static constexpr int64_t kDefaultSpacing = 4ll << 20;
  static constexpr size_t kMaxCheckpoints = 64;
  static constexpr size_t kBufferSize = 65536;

  // Reads `source` from its position. Raises EZDecompressionError for
  // corrupt or truncated data, and kInflatedSizeLimitText when the data
  // inflate to more than `cap` bytes.
  TSeekableInflateStream(TStream* source, int64_t cap, int64_t spacing = kDefaultSpacing);
  // The same data again (`source` at its position holds the bytes `index`
  // was made from): no pass, the index is shared.
  TSeekableInflateStream(TStream* source, TInflateIndex* index);

  TInflateIndex* Index() const noexcept { return index_.get(); }
  int64_t GetPosition() override;
  // Raises EStreamError "Incorrect Position" outside 0..size.
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override { return index_->size_; }
  // Raises EZDecompressionError "Invalid ZStream operation!".
  void SetSize(int64_t size) override;

 protected:
  int64_t DoRead(std::span<uint8_t> buffer) override;
  void Dispose() override;

 private:
  void Keep();
  void Resume(const TInflateIndex::TCheckpoint& checkpoint);
  void Discard(int64_t count);

  Ref<TInflateIndex> index_;
  std::vector<uint8_t> buffer_;
  size_t buffer_used_ = 0;   // the bytes of buffer_ inflated, ending at total_
  size_t buffer_taken_ = 0;  // of which read already
};

// Raises EZDecompressionError with zlib's text for `code`.
[[noreturn]] void RaiseZError(int code);

}  // namespace kav
