// Loading IPTC datasets from a JPEG's Photoshop APP13 segments.
#include <algorithm>
#include <cstring>

#include "KavLib2/Zel.Exif/IPTCData.h"
#include "KavLib2/Zel.Exif/JpegSegments.h"
#include "VoRav/wpExceptions.h"

namespace kav {

void TIPTCData::LoadFromJPEG(TStream* stream) {
  auto parser = MakeRef<TJPEGHeaderParser>(stream, false, JPEGMarkers({kJpegAPP13}));
  while (parser->MoveNext()) {
    Ref<TAdobeApp13Enumerator> blocks = parser->GetCurrent()->AdobeBlocks();
    while (blocks && blocks->MoveNext()) {
      const TAdobeBlock* block = blocks->GetCurrent();
      if (block->HoldsIPTC()) {
        LoadFromIPTC(block->Data->Memory(), static_cast<size_t>(block->Data->GetSize()));
        return;
      }
    }
  }
  Clear();
}

void TIPTCData::LoadFromIPTC(const uint8_t* data, size_t size) {
  Clear();
  const bool was_utf8 = UTF8;
  UTF8 = DefaultUTF8;
  try {
    size_t pos = 0;
    auto need = [&](size_t n) {
      if (size - pos < n) throw EStreamReadError();
    };
    while (size >= 5 && pos <= size - 5 && data[pos] == 0x1C) {
      const uint8_t record = data[pos + 1];
      const uint8_t dataset = data[pos + 2];
      const int16_t field = int16_t(data[pos + 3] << 8 | data[pos + 4]);
      pos += 5;
      if (record == 0 || record > 9) throw EInvalidIPTCData(FormatAnsi("Invalid IPTC record number (%d)", record));
      uint64_t length = 0;
      if (field >= 0) {
        length = static_cast<uint64_t>(field);
      } else {
        // An extended size: the length follows in k bytes. The standard
        // form sets the top bit over k (0x8004); the form -k (0xFFFC) is read too.
        const int32_t magnitude = -static_cast<int32_t>(field);
        auto valid = [](int32_t k) { return k == 1 || k == 2 || k == 4; };
        const int32_t k = valid(field & 0x7FFF) ? (field & 0x7FFF) : magnitude;
        if (!valid(k)) throw EInvalidIPTCData(FormatAnsi("Invalid IPTC tag size field (%d)", magnitude));
        need(static_cast<size_t>(k));
        for (int32_t i = 0; i < k; ++i) length = length << 8 | data[pos++];
      }
      need(static_cast<size_t>(std::min<uint64_t>(length, size + 1)));
      Section(record)->Add(dataset, std::vector<uint8_t>(data + pos, data + pos + length));
      pos += static_cast<size_t>(length);
      if (record == 1 && dataset == 90 && length == 3 && std::memcmp(data + pos - 3, "\x1B%G", 3) == 0) UTF8 = true;
    }
  } catch (...) {
    Clear();
    UTF8 = was_utf8;
    throw;
  }
  if (Empty()) UTF8 = was_utf8;
  for (auto& s : sections_) s->Loaded();
}

}  // namespace kav
