// Reading a few bytes at a position, and stream adapters: a window on a
// byte range of another stream, and a repeating-key exclusive-or cipher
// keyed by the position in the source.
//
// Both hold one reference to their source. With `owns` set the adapter takes
// over the reference the caller passes in (the source then lives as long as
// the adapter); without it the adapter takes a reference of its own, so the
// source is never freed under it. Like every stream they are used by one
// thread at a time, and they share the source's position: nobody else should
// move the source while the adapter is in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/vxDelegate.h"
#include "VoRav/vxStream.h"

namespace kav {

// Up to `count` bytes from position `at` (fewer at the end); the stream's
// position is kept. A stream that fails raises as its reads do.
std::vector<uint8_t> StreamBytesAt(TStream* stream, int64_t at, int64_t count);

// Called with the window after every piece it moves.
using TChunkCallback = TDelegate<void(TStream* stream)>;

class TPartialStream : public TStream {
 public:
  // Largest piece without a callback, and the cap with one.
  static constexpr int32_t kDefaultChunk = 32768;
  static constexpr int32_t kCallbackChunkCap = 256;

  // A window of `size` bytes from `start` of `source`, positioned at 0.
  // Raises EStreamError "Insufficient Source Size" when start or size is
  // negative or the window does not lie inside the source (a source of
  // unknown size fits no window). With `owns` the passed reference is taken
  // over even when the constructor raises.
  TPartialStream(TStream* source, bool owns, int64_t start, int64_t size);

  // With a callback: pieces of `chunk_size` bytes but at most 256 (and at
  // least 1), the callback after each. Without: no callback, 32768-byte pieces.
  void SetChunkCallback(int32_t chunk_size, TChunkCallback callback);
  int32_t ChunkSize() const noexcept { return chunk_size_; }

  // The source's position minus start.
  int64_t GetPosition() override;
  // Raises EStreamError "Incorrect Position" outside 0..size.
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  // Always raises EStreamError "Stream Cannot be resized".
  void SetSize(int64_t size) override;
  // Moves `count` bytes from `other` into the window at its position, a piece
  // at a time (callback before and after each write). Raises
  // EStreamWriteError when fewer bytes go in than came, which includes
  // reaching the window's end: nothing is written outside the window.
  int64_t CopyFrom(TStream* other, int64_t count) override;

  TStream* Source() const noexcept { return source_.get(); }

 protected:
  // Both stop at the window's end; a read or write of the source that moves
  // 0 bytes ends the transfer. Raise EStreamError "Incorrect Position" when
  // the source has been moved outside the window.
  int64_t DoRead(std::span<uint8_t> buffer) override;
  int64_t DoWrite(std::span<const uint8_t> buffer) override;
  void Dispose() override;

 private:
  int64_t WindowPosition();
  void Notify();

  Ref<TStream> source_;
  int64_t start_;
  int64_t size_;
  TChunkCallback callback_;
  int32_t chunk_size_ = kDefaultChunk;
  std::vector<uint8_t> chunk_buffer_;
};

// A whole stream read as a window with a callback reads it (pieces of at
// most 256 bytes, the callback after each), for a stream whose size is not
// known before it is read through (a window needs it): position, size and
// seeks are the source's own. Takes over the passed reference.
class TChunkedStream : public TStream {
 public:
  explicit TChunkedStream(TStream* source);
  // As TPartialStream::SetChunkCallback.
  void SetChunkCallback(int32_t chunk_size, TChunkCallback callback);

  int64_t GetPosition() override { return source_->GetPosition(); }
  int64_t SetPosition(int64_t position) override { return source_->SetPosition(position); }
  int64_t GetSize() override { return source_->GetSize(); }
  int64_t GetKnownSize() override { return source_->GetKnownSize(); }
  int64_t GetSizeWithin(int64_t limit) override { return source_->GetSizeWithin(limit); }
  // Always raises EStreamError "Stream Cannot be resized".
  void SetSize(int64_t size) override;

  TStream* Source() const noexcept { return source_.get(); }

 protected:
  int64_t DoRead(std::span<uint8_t> buffer) override;
  // Raises EStreamWriteError: the stream is for reading.
  int64_t DoWrite(std::span<const uint8_t> buffer) override;
  void Dispose() override;

 private:
  Ref<TStream> source_;
  TChunkCallback callback_;
  int32_t chunk_size_ = TPartialStream::kDefaultChunk;
};

class TCryptStream : public TStream {
 public:
  // Asserts (EAbort) that a source is given and the key is not empty; the
  // key is copied. With `owns` the passed reference is taken over even when
  // the constructor raises.
  TCryptStream(TStream* source, const std::string& key, bool owns);

  // Position and size are the source's.
  int64_t GetPosition() override;
  int64_t SetPosition(int64_t position) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;

  TStream* Source() const noexcept { return source_.get(); }

 protected:
  // Byte i of a transfer starting at source position q is XORed with
  // key[(q + i) mod key length]; a write leaves the caller's buffer alone.
  int64_t DoRead(std::span<uint8_t> buffer) override;
  int64_t DoWrite(std::span<const uint8_t> buffer) override;
  void Dispose() override;

 private:
  void Apply(uint8_t* bytes, size_t count, int64_t position) const;

  Ref<TStream> source_;
  std::string key_;
};

}  // namespace kav
