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
#include <mutex>
#include <string>
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

// What the streams reading one piece of raw deflate data have found of it,
// shared by streams on any threads and added to as they read: the decoder's
// state at every `spacing` inflated bytes of the part inflated so far, the
// inflated size once a stream has reached the end, and why the data cannot
// be read further once a stream found them damaged, truncated or inflating
// past its cap. Nothing found is taken back, except kept states thinned out
// (every other one, the spacing doubling) when more than kMaxCheckpoints
// would be kept.
class TInflateIndex : public TRefObject {
 public:
  static constexpr int64_t kDefaultSpacing = 4ll << 20;
  static constexpr size_t kMaxCheckpoints = 64;

  explicit TInflateIndex(int64_t spacing = kDefaultSpacing);
  ~TInflateIndex() override;
  // The inflated size; -1 until a stream has inflated the data to their end.
  int64_t Size() const;
  // What the stream that found the data unreadable raised (its message);
  // empty while none has.
  std::string Failure() const;
  // The name the log line of a failure gives the data (an entry's name).
  void SetName(std::u16string name);
  // How many decoder states are kept.
  size_t CheckpointCount() const;

 private:
  friend class TSeekableInflateStream;
  struct TCheckpoint;
  // The inflated position at which the next state is kept.
  int64_t NextMarkLocked() const;

  mutable std::mutex lock_;
  int64_t size_ = -1;
  int64_t spacing_;
  // By inflated position: every spacing_ bytes from the start, without gaps.
  std::vector<std::unique_ptr<TCheckpoint>> checkpoints_;
  std::string failure_;
  std::u16string name_;
};

// Raw deflate read like a file, for data too large to hold in memory.
// Nothing is inflated when it is made: the data are inflated as they are
// read, and the decoder's state is kept in the index every few MiB on the
// way, so that a later position (on this stream or another sharing the
// index) is reached from the nearest kept state at or before it, inflating
// less than one spacing; a position past what any stream has inflated is
// reached by inflating forward from the last kept state. The size is known
// once a stream has inflated to the end; GetSize inflates there when it is
// not (GetKnownSize never does). Corrupt or truncated data raise
// EZDecompressionError on the read that meets them, and so does inflating
// past `cap` bytes (kInflatedSizeLimitText); the first such failure is
// noted in the index (and logged with its name). Inflating (a read, a far
// seek, learning the size) raises EAbort, between steps of at most 64 KiB,
// once the calling thread is asked to stop (CurrentThreadStopRequested) or
// the program is ending (SetInflateStopCheck). Memory stays
// bounded: at most kMaxCheckpoints states (about 40 KiB each), and reads
// go through a 64 KiB buffer, so small reads cost a copy.
class TSeekableInflateStream : public TZDecompressionStream {
 public:
  static constexpr int64_t kDefaultSpacing = TInflateIndex::kDefaultSpacing;
  static constexpr size_t kMaxCheckpoints = TInflateIndex::kMaxCheckpoints;
  static constexpr size_t kBufferSize = 65536;

  // Reads `source` from its position with an index of its own.
  TSeekableInflateStream(TStream* source, int64_t cap, int64_t spacing = kDefaultSpacing);
  // The same data again (`source` at its position holds the bytes `index`
  // describes), the index shared.
  TSeekableInflateStream(TStream* source, int64_t cap, TInflateIndex* index);

  TInflateIndex* Index() const noexcept { return index_.get(); }
  int64_t GetPosition() override;
  // Raises EStreamError "Incorrect Position" below 0 and past the end (found
  // by inflating up to the position when the size is not known yet).
  int64_t SetPosition(int64_t position) override;
  // The size, inflating to the end when it is not known yet (the errors of
  // a read; kInflatedSizeLimitText past the cap).
  int64_t GetSize() override;
  // The size when known, else -1; never inflates.
  int64_t GetKnownSize() override;
  // The size when it is at most `limit`, else -1, inflating no further than
  // just past `limit` (and never past the cap) when it is not known yet.
  int64_t GetSizeWithin(int64_t limit) override;
  // Raises EZDecompressionError "Invalid ZStream operation!".
  void SetSize(int64_t size) override;

 protected:
  int64_t DoRead(std::span<uint8_t> buffer) override;
  void Dispose() override;

 private:
  // One step of the decoder into `out`, ending on the next mark where a
  // state is to be kept; notes the end, keeps the state, checks the cap,
  // and notes a failure in the index before raising it. Raises EAbort
  // first when the thread or the program is stopping.
  int64_t Inflate(std::span<uint8_t> out);
  void Keep();
  // The decoder at the last kept state at or before `position`, unless
  // going on from where it is costs less.
  void MoveBefore(int64_t position);
  // Inflates and drops bytes until `target` bytes are inflated or the data
  // end.
  void Forward(int64_t target);
  // Notes the first failure in the index (logged once, with the entry's
  // name to the show's author: the data cannot be read past `at` bytes,
  // and `why`) and raises EZDecompressionError with `message`.
  [[noreturn]] void Fail(const std::string& message, const std::u16string& why, int64_t at);

  Ref<TInflateIndex> index_;
  int64_t cap_;
  std::string failed_;  // what this stream raised when it met a failure; raised by every later read
  std::vector<uint8_t> buffer_;
  size_t buffer_used_ = 0;   // the bytes of buffer_ inflated, ending at total_
  size_t buffer_taken_ = 0;  // of which read already
};

// A check that inflating (see TSeekableInflateStream) makes besides its
// thread's stop, from any thread: the program installs its termination
// flag, so that no inflation outlives a signal on a thread that is not
// stopped first (one holding a lock that a stopping thread waits for).
// Nil (the default) checks nothing.
void SetInflateStopCheck(bool (*check)() noexcept);

// Raises EZDecompressionError with zlib's text for `code`.
[[noreturn]] void RaiseZError(int code);

}  // namespace kav
