#include "KavLib2/Zel.Exif/CacheStream.h"

#include <algorithm>
#include <cstring>

namespace kav {

TCacheStream::TCacheStream(TStream* source) : source_(source) {
  KAV_ASSERT(source != nullptr);
  source_size_ = source->GetSize();
  if (source_size_ < 0 || source_size_ >= kMaxMemoryStreamSize) source_size_ = kMaxMemoryStreamSize - 1;
}

void TCacheStream::FillFromSource(int64_t position) {
  KAV_ASSERT(position >= 0 && position <= source_size_);
  while (position > pulled_) {
    const int64_t want = std::min(kBlockSize, source_size_ - pulled_);
    data_.resize(static_cast<size_t>(pulled_ + kBlockSize));
    source_->SetPosition(pulled_);
    const int64_t got = source_->Read(std::span<uint8_t>(data_.data() + pulled_, static_cast<size_t>(want)), want);
    pulled_ += std::max<int64_t>(got, 0);
    size_ = pulled_;
    if (got < want) {
      // The source ended before its announced size: it ends here.
      source_size_ = pulled_;
      break;
    }
  }
}

int64_t TCacheStream::SetPosition(int64_t position) {
  position = std::clamp<int64_t>(position, 0, source_size_);
  FillFromSource(position);
  position_ = std::min(position, source_size_);
  return position_;
}

void TCacheStream::SetSize(int64_t) { throw EStreamError(); }

int64_t TCacheStream::DoRead(std::span<uint8_t> buffer) {
  int64_t count = std::min(static_cast<int64_t>(buffer.size()), source_size_ - position_);
  if (count <= 0) return 0;
  FillFromSource(position_ + count);
  count = std::min(count, pulled_ - position_);
  if (count <= 0) return 0;
  std::memcpy(buffer.data(), data_.data() + position_, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int64_t TCacheStream::DoWrite(std::span<const uint8_t>) { return 0; }

}  // namespace kav
