#include "KavLib2/Zel.Exif/MetadataFuzz.h"

#include "KavLib2/Zel.Exif/Exif.h"
#include "KavLib2/Zel.Exif/IPTCData.h"
#include "KavLib2/Zel.Exif/JpegSegments.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

namespace {

Ref<TMemoryStream> StreamOf(const uint8_t* data, size_t size) {
  auto s = MakeRef<TMemoryStream>();
  if (size > 0) s->WriteBytes(std::span<const uint8_t>(data, size));
  s->SetPosition(0);
  return s;
}

}  // namespace

int FuzzExif(const uint8_t* data, size_t size) {
  auto s = StreamOf(data, size);
  TExif exif;
  exif.Decode(s.get());
  return 0;
}

int FuzzJpegSegments(const uint8_t* data, size_t size) {
  auto s = StreamOf(data, size);
  try {
    TJPEGMarkerSet all;
    all.set();
    auto parser = MakeRef<TJPEGHeaderParser>(s.get(), false, all);
    while (parser->MoveNext()) {
      auto blocks = parser->GetCurrent()->AdobeBlocks();
      while (blocks && blocks->MoveNext()) blocks->GetCurrent()->HoldsIPTC();
    }
  } catch (const EInvalidJPEGHeader&) {
  }
  return 0;
}

int FuzzIptc(const uint8_t* data, size_t size) {
  auto iptc = MakeRef<TIPTCData>();
  try {
    iptc->LoadFromIPTC(data, size);
  } catch (const EInvalidIPTCData&) {
  } catch (const EStreamReadError&) {
  }
  for (int32_t r = 1; r <= 9; ++r) {
    TIPTCSection* s = iptc->Section(r);
    for (int32_t i = 0; i < s->Count(); ++i) {
      const uint8_t ds = s->Tag(i)->Dataset();
      s->GetString(ds);
      s->GetDate(ds);
      s->GetNumber99(ds);
      s->GetPriority(ds);
      IPTCBinaryToHex(s->Tag(i)->Data());
    }
  }
  iptc->ByLineDetails();
  iptc->ContentLocations();
  return 0;
}

}  // namespace kav
