#include "VoRav/vxStreamUtils.h"

#include <algorithm>
#include <cstring>

namespace kav {

std::vector<uint8_t> StreamBytesAt(TStream* stream, int64_t at, int64_t count) {
  const int64_t kept = stream->GetPosition();
  std::vector<uint8_t> bytes(size_t(std::max<int64_t>(count, 0)));
  stream->SetPosition(at);
  const int64_t got = bytes.empty() ? 0 : stream->Read(std::span<uint8_t>(bytes), int64_t(bytes.size()));
  bytes.resize(size_t(std::max<int64_t>(got, 0)));
  stream->SetPosition(kept);
  return bytes;
}

namespace {

Ref<TStream> TakeSource(TStream* source, bool owns) {
  return owns ? Ref<TStream>::Adopt(source) : Ref<TStream>(source);
}

}  // namespace

// ---- TPartialStream ----

TPartialStream::TPartialStream(TStream* source, bool owns, int64_t start, int64_t size)
    : source_(TakeSource(source, owns)), start_(start), size_(size) {
  KAV_ASSERT(source_);
  const int64_t available = source_->GetSize();
  // Written so that no sum can overflow: start + size <= available.
  if (start < 0 || size < 0 || available < 0 || start > available || size > available - start)
    throw EStreamError("Insufficient Source Size");
  SetPosition(0);
}

void TPartialStream::Dispose() {
  source_ = nullptr;
  TStream::Dispose();
}

void TPartialStream::SetChunkCallback(int32_t chunk_size, TChunkCallback callback) {
  if (callback) {
    callback_ = callback;
    chunk_size_ = std::clamp(chunk_size, 1, kCallbackChunkCap);
  } else {
    callback_ = nullptr;
    chunk_size_ = kDefaultChunk;
  }
  chunk_buffer_.clear();
  chunk_buffer_.shrink_to_fit();
}

void TPartialStream::Notify() {
  if (callback_) callback_(this);
}

int64_t TPartialStream::GetPosition() { return source_->GetPosition() - start_; }

int64_t TPartialStream::WindowPosition() {
  const int64_t p = GetPosition();
  if (p < 0 || p > size_) throw EStreamError("Incorrect Position");
  return p;
}

int64_t TPartialStream::SetPosition(int64_t position) {
  if (position < 0 || position > size_) throw EStreamError("Incorrect Position");
  return source_->SetPosition(start_ + position) - start_;
}

void TPartialStream::SetSize(int64_t) { throw EStreamError("Stream Cannot be resized"); }

int64_t TPartialStream::DoRead(std::span<uint8_t> buffer) {
  int64_t p = WindowPosition();
  int64_t count = static_cast<int64_t>(buffer.size());
  int64_t total = 0;
  while (count > 0 && p < size_) {
    const int64_t n = std::min({count, size_ - p, static_cast<int64_t>(chunk_size_)});
    const int64_t got = source_->Read(buffer, n, total);
    Notify();
    if (got <= 0) break;
    total += got;
    count -= got;
    p += got;
  }
  return total;
}

int64_t TPartialStream::DoWrite(std::span<const uint8_t> buffer) {
  int64_t p = WindowPosition();
  int64_t count = static_cast<int64_t>(buffer.size());
  int64_t total = 0;
  while (count > 0 && p < size_) {
    const int64_t n = std::min({count, size_ - p, static_cast<int64_t>(chunk_size_)});
    const int64_t put = source_->Write(buffer, n, total);
    Notify();
    if (put <= 0) break;
    total += put;
    count -= put;
    p += put;
  }
  return total;
}

int64_t TPartialStream::CopyFrom(TStream* other, int64_t count) {
  int64_t total = 0;
  if (count <= 0) return 0;
  if (chunk_buffer_.size() != static_cast<size_t>(chunk_size_)) chunk_buffer_.assign(chunk_size_, 0);
  int64_t p = WindowPosition();
  while (count > 0) {
    const int64_t n = std::min(count, static_cast<int64_t>(chunk_size_));
    const int64_t got = other->Read(chunk_buffer_, n);
    if (got <= 0) break;
    count -= got;
    Notify();
    const int64_t room = std::min(got, size_ - p);
    const int64_t put = room > 0 ? source_->Write(chunk_buffer_, room) : 0;
    total += put;
    p += put;
    if (put < got) throw EStreamWriteError();
    Notify();
  }
  return total;
}

// ---- TChunkedStream ----

TChunkedStream::TChunkedStream(TStream* source) : source_(Ref<TStream>::Adopt(source)) {
  KAV_ASSERT_MSG(source_, "Chunked stream without a source");
}

void TChunkedStream::SetChunkCallback(int32_t chunk_size, TChunkCallback callback) {
  callback_ = callback;
  chunk_size_ = callback ? std::clamp(chunk_size, 1, TPartialStream::kCallbackChunkCap) : TPartialStream::kDefaultChunk;
}

void TChunkedStream::Dispose() {
  source_ = nullptr;
  TStream::Dispose();
}

void TChunkedStream::SetSize(int64_t) { throw EStreamError("Stream Cannot be resized"); }

int64_t TChunkedStream::DoRead(std::span<uint8_t> buffer) {
  int64_t total = 0;
  while (total < static_cast<int64_t>(buffer.size())) {
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(buffer.size()) - total, chunk_size_);
    const int64_t got = source_->Read(buffer, n, total);
    if (callback_) callback_(this);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

int64_t TChunkedStream::DoWrite(std::span<const uint8_t>) { throw EStreamWriteError(); }

// ---- TCryptStream ----

TCryptStream::TCryptStream(TStream* source, const std::string& key, bool owns)
    : source_(TakeSource(source, owns)), key_(key) {
  KAV_ASSERT_MSG(source_, "TCryptStream without a source");
  KAV_ASSERT_MSG(!key_.empty(), "TCryptStream with an empty key");
}

void TCryptStream::Dispose() {
  source_ = nullptr;
  TStream::Dispose();
}

int64_t TCryptStream::GetPosition() { return source_->GetPosition(); }
int64_t TCryptStream::SetPosition(int64_t position) { return source_->SetPosition(position); }
int64_t TCryptStream::GetSize() { return source_->GetSize(); }
void TCryptStream::SetSize(int64_t size) { source_->SetSize(size); }

void TCryptStream::Apply(uint8_t* bytes, size_t count, int64_t position) const {
  const int64_t length = static_cast<int64_t>(key_.size());
  size_t k = static_cast<size_t>(((position % length) + length) % length);
  for (size_t i = 0; i < count; ++i) {
    bytes[i] ^= static_cast<uint8_t>(key_[k]);
    if (++k == key_.size()) k = 0;
  }
}

int64_t TCryptStream::DoRead(std::span<uint8_t> buffer) {
  const int64_t q = source_->GetPosition();
  const int64_t n = source_->Read(buffer, static_cast<int64_t>(buffer.size()));
  if (n > 0) Apply(buffer.data(), static_cast<size_t>(n), q);
  return n;
}

int64_t TCryptStream::DoWrite(std::span<const uint8_t> buffer) {
  const int64_t q = source_->GetPosition();
  std::vector<uint8_t> enciphered(buffer.begin(), buffer.end());
  Apply(enciphered.data(), enciphered.size(), q);
  return source_->Write(enciphered, static_cast<int64_t>(enciphered.size()));
}

}  // namespace kav
