#include "KavLib2/KavViewer/KavZStream.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace kav {

namespace {

constexpr int64_t kSkipBlock = 8192;
const char kInvalidOperation[] = "Invalid ZStream operation!";

voidpf ZAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > std::numeric_limits<size_t>::max() / size) return Z_NULL;
  return std::malloc(static_cast<size_t>(items) * size);
}

void ZFree(voidpf, voidpf address) { std::free(address); }

}  // namespace

void RaiseZError(int code) { throw EZDecompressionError(zError(code)); }

// ---- TCustomZStream ----

TCustomZStream::TCustomZStream(TStream* source) : source_(source), input_(kInputBufferSize) {
  KAV_ASSERT_MSG(source_, "Inflating stream without a source");
  start_ = current_ = source_->GetPosition();
  zs_.zalloc = ZAlloc;
  zs_.zfree = ZFree;
}

void TCustomZStream::Dispose() {
  source_ = nullptr;
  TStream::Dispose();
}

// ---- TZDecompressionStream ----

TZDecompressionStream::TZDecompressionStream(TStream* source, int window_bits) : TCustomZStream(source) {
  const int rc = inflateInit2(&zs_, window_bits);
  if (rc != Z_OK) RaiseZError(rc);
}

void TZDecompressionStream::Dispose() {
  inflateEnd(&zs_);
  TCustomZStream::Dispose();
}

int64_t TZDecompressionStream::DoRead(std::span<uint8_t> buffer) {
  if (ended_) return 0;
  if (source_->GetPosition() != current_) source_->SetPosition(current_);
  zs_.next_out = buffer.data();
  // A buffer larger than zlib's counter is filled in several rounds by the caller.
  zs_.avail_out = static_cast<uInt>(std::min<size_t>(buffer.size(), std::numeric_limits<uInt>::max()));
  const uInt wanted = zs_.avail_out;
  while (zs_.avail_out > 0 && !ended_) {
    if (zs_.avail_in == 0) {
      const int64_t got = source_->Read(input_, static_cast<int64_t>(input_.size()));
      if (got <= 0) throw EZDecompressionError("Unexpected end of deflate data");
      current_ = source_->GetPosition();
      zs_.next_in = input_.data();
      zs_.avail_in = static_cast<uInt>(got);
      if (OnProgress) OnProgress(this);
    }
    const uInt in_before = zs_.avail_in, out_before = zs_.avail_out;
    const int rc = inflate(&zs_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      ended_ = true;
      zs_.avail_in = 0;  // trailing bytes after the data are dropped
    } else if (rc == Z_NEED_DICT) {
      RaiseZError(rc);  // a preset dictionary is never supplied: inflate would stall
    } else if (rc < 0 && rc != Z_BUF_ERROR) {
      RaiseZError(rc);
    } else if (zs_.avail_in == in_before && zs_.avail_out == out_before) {
      RaiseZError(Z_DATA_ERROR);  // no progress with input and room: corrupt
    }
  }
  const int64_t produced = static_cast<int64_t>(wanted - zs_.avail_out);
  total_ += produced;
  return produced;
}

int64_t TZDecompressionStream::DoWrite(std::span<const uint8_t>) { throw EZDecompressionError(kInvalidOperation); }

void TZDecompressionStream::Restart() {
  const int rc = inflateReset(&zs_);
  if (rc != Z_OK) RaiseZError(rc);
  source_->SetPosition(start_);
  current_ = start_;
  zs_.avail_in = 0;
  total_ = 0;
  ended_ = false;
}

void TZDecompressionStream::Skip(int64_t count) {
  std::vector<uint8_t> block(static_cast<size_t>(std::min(count, kSkipBlock)));
  while (count > 0) {
    const int64_t n = std::min(count, kSkipBlock);
    if (Read(block, n) < n) throw EStreamReadError();
    count -= n;
  }
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin == TSeekOrigin::Beginning && offset == 0) {
    Restart();
  } else if (origin == TSeekOrigin::Current && offset >= 0) {
    Skip(offset);
  } else if (origin == TSeekOrigin::Beginning && offset >= total_) {
    Skip(offset - total_);
  } else if (origin == TSeekOrigin::End && offset == 0) {
    std::vector<uint8_t> block(kSkipBlock);
    while (Read(block, kSkipBlock) > 0) {
    }
  } else {
    throw EZDecompressionError(kInvalidOperation);
  }
  return total_;
}

// ---- TInflateStream ----

TInflateStream::TInflateStream(TStream* source, int64_t size, int64_t position)
    : TZDecompressionStream(source, -15), size_(size), origin_(position < 0 ? 0 : position) {}

int64_t TInflateStream::GetPosition() { return origin_ + TZDecompressionStream::GetPosition(); }

int64_t TInflateStream::SetPosition(int64_t position) {
  if (position == GetPosition()) return position;
  return origin_ + Seek(position - origin_, TSeekOrigin::Beginning);
}

void TInflateStream::SetSize(int64_t) { throw EZDecompressionError(kInvalidOperation); }

}  // namespace kav
