#include "VoRav/vxMemoryStream.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace kav {

template <class Buffer>
TMemoryStreamBase<Buffer>::TMemoryStreamBase(Buffer data)
    : data_(std::move(data)), size_(static_cast<int64_t>(data_.size())) {}

template <class Buffer>
void TMemoryStreamBase<Buffer>::Dispose() {
  Buffer().swap(data_);
  size_ = position_ = 0;
  TStream::Dispose();
}

template <class Buffer>
bool TMemoryStreamBase<Buffer>::Reserve(int64_t needed) {
  if (needed >= kMaxMemoryStreamSize) return false;
  int64_t capacity = Capacity();
  if (capacity >= needed) return true;
  while (capacity < needed) {
    if (capacity <= 32) {
      capacity += 16;
    } else if (capacity <= 256) {
      capacity += 64;
    } else {
      capacity *= 2;
    }
  }
  capacity = std::min(capacity, kMaxMemoryStreamSize - 1);
  try {
    data_.resize(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

template <class Buffer>
bool TMemoryStreamBase<Buffer>::Grow(int64_t needed) {
  if (!Reserve(needed)) return false;
  size_ = std::max(size_, needed);
  return true;
}

template <class Buffer>
int64_t TMemoryStreamBase<Buffer>::SetPosition(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, size_);
  return position_;
}

template <class Buffer>
void TMemoryStreamBase<Buffer>::SetSize(int64_t size) {
  if (size >= kMaxMemoryStreamSize) throw EStreamError();
  if (size <= 0) {
    Buffer().swap(data_);
    size_ = position_ = 0;
    return;
  }
  if (size > size_) {
    // Bytes past the old end may hold earlier contents: the new ones read as 0.
    const int64_t kept = std::min(size, Capacity());
    std::fill(data_.begin() + size_, data_.begin() + kept, 0);
    try {
      data_.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      throw EStreamError();
    }
  }
  size_ = size;
  position_ = std::min(position_, size_);
}

template <class Buffer>
int64_t TMemoryStreamBase<Buffer>::DoRead(std::span<uint8_t> buffer) {
  const int64_t n = std::min(size_ - position_, static_cast<int64_t>(buffer.size()));
  if (n <= 0) return 0;
  std::memmove(buffer.data(), Memory() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

template <class Buffer>
int64_t TMemoryStreamBase<Buffer>::DoWrite(std::span<const uint8_t> buffer) {
  const int64_t n = static_cast<int64_t>(buffer.size());
  const uint8_t* src = buffer.data();
  if (n > size_ - position_) {
    if (n >= kMaxMemoryStreamSize - position_) return 0;
    // The bytes may come from this stream's own data, which growing moves.
    const std::less<const uint8_t*> before;
    const bool own = !before(src, Memory()) && before(src, Memory() + Capacity());
    const int64_t own_offset = own ? src - Memory() : 0;
    if (!Grow(position_ + n)) return 0;
    if (own) src = Memory() + own_offset;
  }
  std::memmove(Memory() + position_, src, static_cast<size_t>(n));
  position_ += n;
  size_ = std::max(size_, position_);
  return n;
}

template <class Buffer>
int64_t TMemoryStreamBase<Buffer>::CopyFrom(TStream* source, int64_t count) {
  if (source == this || source->GetSize() < 0) return TStream::CopyFrom(source, count);
  count = std::min(count, source->GetRemaining());
  if (count <= 0) return 0;
  if (count >= kMaxMemoryStreamSize - position_ || !Reserve(position_ + count)) throw EStreamWriteError();
  int64_t total = 0;
  while (total < count) {
    const int64_t want = count - total;
    const int64_t got =
        source->Read(std::span<uint8_t>(Memory() + position_ + total, static_cast<size_t>(want)), want);
    if (got == 0) break;
    total += got;
  }
  position_ += total;
  size_ = std::max(size_, position_);
  if (total < count) throw EStreamReadError();
  return total;
}

template class TMemoryStreamBase<std::vector<uint8_t>>;
template class TMemoryStreamBase<std::string>;

TStringStream::TStringStream(std::string text) : TMemoryStreamBase(std::move(text)) {}

}  // namespace kav
