#include "KavLib2/Zel.Exif/JpegSegments.h"

#include <algorithm>
#include <cstring>

namespace kav {

namespace {

// Markers that stand alone, without a length field.
bool HasNoLength(uint8_t m) { return m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9); }

bool ReadOne(TStream* s, uint8_t& b) { return s->Read(std::span<uint8_t>(&b, 1), 1) == 1; }

// A memory stream holding `count` bytes read from `s`; nil when the stream
// has fewer.
Ref<TMemoryStream> ReadBlock(TStream* s, int64_t count) {
  auto data = MakeRef<TMemoryStream>();
  if (count <= 0) return data;
  const int64_t left = s->GetRemaining();
  if (s->GetSize() >= 0 && count > left) return nullptr;
  data->SetSize(count);
  if (s->Read(std::span<uint8_t>(data->Memory(), static_cast<size_t>(count)), count) != count) return nullptr;
  return data;
}

}  // namespace

TJPEGMarkerSet JPEGMarkers(std::initializer_list<uint8_t> markers) {
  TJPEGMarkerSet set;
  for (uint8_t m : markers) set.set(m);
  return set;
}

// --- segments ---------------------------------------------------------------

TUserJPEGSegment::TUserJPEGSegment(uint8_t marker, Ref<TMemoryStream> data)
    : marker_(marker), data_(data ? std::move(data) : MakeRef<TMemoryStream>()) {}

int32_t TUserJPEGSegment::AdobeHeaderLength() const {
  if (marker_ != kJpegAPP13 || data_->GetSize() < 20) return 0;
  const uint8_t* p = data_->Memory();
  if (std::memcmp(p, "Photoshop 3.0\0", 14) == 0) return 14;
  if (std::memcmp(p, "Adobe_Photoshop2.5:", 19) == 0) return 19;
  return 0;
}

Ref<TAdobeApp13Enumerator> TUserJPEGSegment::AdobeBlocks() {
  const int32_t header = AdobeHeaderLength();
  if (header == 0) return nullptr;
  return MakeRef<TAdobeApp13Enumerator>(data_, header);
}

// --- the walk ---------------------------------------------------------------

TJPEGHeaderParser::TJPEGHeaderParser(TStream* stream, bool owns_stream, const TJPEGMarkerSet& wanted)
    : stream_(stream), owns_stream_(owns_stream), wanted_(wanted) {
  try {
    KAV_ASSERT(stream != nullptr);
    uint8_t soi[2] = {};
    if (stream->Read(std::span<uint8_t>(soi), 2) != 2 || soi[0] != 0xFF || soi[1] != kJpegSOI)
      throw EInvalidJPEGHeader("JPEG header is not valid");
    position_ = stream->GetPosition();
  } catch (...) {
    if (owns_stream && stream) RefRelease(stream);
    throw;
  }
}

void TJPEGHeaderParser::Dispose() {
  current_ = nullptr;
  Finish();
  TRefObject::Dispose();
}

bool TJPEGHeaderParser::Finish() {
  ended_ = true;
  if (owns_stream_ && stream_) RefRelease(stream_);
  stream_ = nullptr;
  return false;
}

bool TJPEGHeaderParser::MoveNext() {
  if (!stream_ || ended_ || last_marker_ == kJpegEOI) return Finish();
  if (last_marker_ == kJpegSOS) return FindEOI();
  stream_->SetPosition(position_);
  for (;;) {
    uint8_t b = 0, marker = 0;
    if (!ReadOne(stream_, b) || b != 0xFF) return Finish();
    do {
      if (!ReadOne(stream_, marker)) return Finish();
    } while (marker == 0xFF);
    last_marker_ = marker;

    int64_t length = 0;
    if (!HasNoLength(marker)) {
      uint8_t l[2];
      if (stream_->Read(std::span<uint8_t>(l), 2) != 2) return Finish();
      length = (l[0] << 8 | l[1]) - 2;
      if (length < 0) return Finish();
    }

    if (Wanted(marker)) {
      const int64_t offset = stream_->GetPosition() - (HasNoLength(marker) ? 2 : 4);
      Ref<TMemoryStream> data;
      if (!HasNoLength(marker) && length >= 1) {
        data = ReadBlock(stream_, length);
        if (!data) return Finish();
      }
      current_ = MakeRef<TFoundJPEGSegment>(marker, std::move(data), offset);
      position_ = stream_->GetPosition();
      return true;
    }
    if (marker == kJpegEOI) return Finish();
    const int64_t next = stream_->GetPosition() + length;
    const int64_t size = stream_->GetSize();
    if (size >= 0 && next > size) return Finish();
    if (stream_->SetPosition(next) != next) return Finish();
    position_ = next;
    if (marker == kJpegSOS) return FindEOI();
  }
}

bool TJPEGHeaderParser::FindEOI() {
  if (!Wanted(kJpegEOI)) return Finish();
  // Search the image data in blocks; a block keeps the last byte of the one
  // before, so a marker split between two blocks is found too.
  constexpr int64_t kChunk = 65536;
  std::vector<uint8_t> buf(kChunk + 1);
  int64_t start = position_;  // stream position of buf[0]
  int64_t held = 0;
  stream_->SetPosition(position_);
  for (;;) {
    const int64_t got = stream_->Read(std::span<uint8_t>(buf.data() + held, kChunk), kChunk);
    if (got <= 0) return Finish();
    const int64_t n = held + got;
    for (int64_t i = 0; i + 1 < n; ++i) {
      if (buf[i] == 0xFF && buf[i + 1] == kJpegEOI) {
        const int64_t offset = start + i;
        last_marker_ = kJpegEOI;
        position_ = offset + 2;
        stream_->SetPosition(position_);
        current_ = MakeRef<TFoundJPEGSegment>(kJpegEOI, nullptr, offset);
        return true;
      }
    }
    buf[0] = buf[n - 1];
    start += n - 1;
    held = 1;
  }
}

// --- resource blocks ----------------------------------------------------------

bool TAdobeBlock::HoldsIPTC() const {
  return Type == kIPTCNAA && Data && Data->GetSize() >= 5 && Data->Memory()[0] == 0x1C;
}

TAdobeApp13Enumerator::TAdobeApp13Enumerator(Ref<TMemoryStream> data, int64_t start)
    : data_(std::move(data)), position_(start) {}

bool TAdobeApp13Enumerator::MoveNext() {
  current_ = nullptr;
  const int64_t size = data_->GetSize();
  const uint8_t* p = data_->Memory();
  int64_t pos = position_;
  if (pos < 0 || size - pos < 12) return false;
  auto block = MakeRef<TAdobeBlock>();
  std::memcpy(block->Signature, p + pos, 4);
  block->Type = uint16_t(p[pos + 4] << 8 | p[pos + 5]);
  const int64_t name_length = p[pos + 6];
  pos += 7;
  // The name with its length byte takes an even number of bytes.
  const int64_t name_room = name_length + ((name_length % 2 == 0) ? 1 : 0);
  if (size - pos < name_room + 4) return false;
  block->Name.assign(reinterpret_cast<const char*>(p + pos), static_cast<size_t>(name_length));
  pos += name_room;
  const int32_t declared = int32_t(uint32_t(p[pos]) << 24 | uint32_t(p[pos + 1]) << 16 |
                                   uint32_t(p[pos + 2]) << 8 | p[pos + 3]);
  pos += 4;
  const int64_t data_size = std::max(declared, 0);
  if (size - pos < data_size) return false;
  block->Data = MakeRef<TMemoryStream>();
  if (data_size > 0) {
    block->Data->SetSize(data_size);
    std::memcpy(block->Data->Memory(), p + pos, static_cast<size_t>(data_size));
  }
  pos += data_size + (data_size % 2);
  position_ = pos;
  current_ = std::move(block);
  return true;
}

}  // namespace kav
