// TCacheStream: a read-only memory copy of another stream that is filled
// lazily, in 4096-byte blocks, only as far as the reader goes.
//
// The cache covers the source from the source's position 0: cache position p
// is source position p. Its size is the source's size; a source that does
// not know its size counts as one of kMaxMemoryStreamSize - 1 bytes, and a
// source that ends early is taken to end where it stopped delivering. The source is not owned and must outlive the cache; each block
// read moves the source's position to the end of that block.
#pragma once

#include <cstdint>

#include "VoRav/vxMemoryStream.h"

namespace kav {

class TCacheStream : public TMemoryStream {
 public:
  static constexpr int64_t kBlockSize = 4096;

  // Records the source's size; nothing is pulled yet.
  explicit TCacheStream(TStream* source);

  // Pulls the source up to `position` (up to the size when it lies beyond)
  // and moves there; a negative position counts as 0.
  int64_t SetPosition(int64_t position) override;
  // The source's size (as far as it is known; see above).
  int64_t GetSize() override { return source_size_; }
  // The cache cannot be resized: raises EStreamError.
  void SetSize(int64_t size) override;
  // Bytes already copied from the source.
  int64_t Pulled() const noexcept { return pulled_; }

 protected:
  // Reads from the copy, pulling the source up to position + count first;
  // the count is cut to the bytes left.
  int64_t DoRead(std::span<uint8_t> buffer) override;
  // Read-only: takes nothing.
  int64_t DoWrite(std::span<const uint8_t> buffer) override;

 private:
  // Pulls whole blocks until `position` bytes are held. `position` must lie
  // within the size (an assertion). Stops early, lowering the size, when the
  // source delivers nothing more.
  void FillFromSource(int64_t position);

  TStream* source_;
  int64_t pulled_ = 0;
  int64_t source_size_;
};

}  // namespace kav
