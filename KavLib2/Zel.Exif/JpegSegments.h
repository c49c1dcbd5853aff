// Walking the marker segments of a JPEG stream, and the Photoshop image
// resource blocks of APP13 segments.
//
// The walk reads only the headers before the image data: it ends at the
// start of scan (SOS, FF DA) or at EOI (FF D9), at a byte where a marker
// should be but is not, at a segment length below 2 and at a segment that
// runs past the end of the stream. None of these is an error: the walk just
// ends. Only the segments of the wanted markers are handed out.
#pragma once

#include <bitset>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "VoRav/SysObj2.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

KAV_DECLARE_COMMON_EXCEPTION(EInvalidJPEGHeader, TCommonException);

// Marker bytes (the byte after FF).
enum : uint8_t {
  kJpegSOI = 0xD8, kJpegEOI = 0xD9, kJpegSOS = 0xDA, kJpegAPP0 = 0xE0, kJpegAPP1 = 0xE1,
  kJpegAPP13 = 0xED,
};

// A set of marker bytes, one bit per byte value.
using TJPEGMarkerSet = std::bitset<256>;
TJPEGMarkerSet JPEGMarkers(std::initializer_list<uint8_t> markers);

class TAdobeApp13Enumerator;

// A segment: its marker and its data (the bytes after the length field).
class TUserJPEGSegment : public TRefObject {
 public:
  TUserJPEGSegment(uint8_t marker, Ref<TMemoryStream> data);
  uint8_t Marker() const noexcept { return marker_; }
  // The data, positioned at 0 when made; never nil (empty for markers
  // without data).
  TMemoryStream* GetData() const noexcept { return data_.get(); }
  // The length of the Photoshop header when this is a Photoshop APP13
  // segment (14 for "Photoshop 3.0\0", 19 for "Adobe_Photoshop2.5:", data of
  // at least 20 bytes), else 0.
  int32_t AdobeHeaderLength() const;
  // An enumerator over the segment's resource blocks, or nil when this is
  // not a Photoshop APP13 segment.
  Ref<TAdobeApp13Enumerator> AdobeBlocks();

 private:
  uint8_t marker_;
  Ref<TMemoryStream> data_;
};

class TFoundJPEGSegment : public TUserJPEGSegment {
 public:
  TFoundJPEGSegment(uint8_t marker, Ref<TMemoryStream> data, int64_t offset)
      : TUserJPEGSegment(marker, std::move(data)), offset_(offset) {}
  // The position of the segment's FF byte in the stream.
  int64_t GetOffset() const noexcept { return offset_; }

 private:
  int64_t offset_;
};

class TJPEGHeaderParser : public TRefObject {
 public:
  // Reads two bytes at the stream's position; unless they are FF D8 raises
  // EInvalidJPEGHeader ("JPEG header is not valid"). With owns_stream the
  // parser takes over one reference of the stream and drops it when the walk
  // ends or the parser goes (also when the constructor raises).
  TJPEGHeaderParser(TStream* stream, bool owns_stream, const TJPEGMarkerSet& wanted);

  // Moves to the next wanted segment; false when the walk has ended. When
  // EOI is wanted and the walk ended at SOS, the image data is searched for
  // FF D9 and the EOI segment is handed out last. Errors of the stream
  // itself pass out.
  bool MoveNext();
  // The segment of the last successful MoveNext (nil before the first).
  TFoundJPEGSegment* GetCurrent() const noexcept { return current_.get(); }

 protected:
  void Dispose() override;

 private:
  // Ends the walk: false, and the stream is dropped when owned.
  bool Finish();
  // After SOS: the EOI segment when wanted and found.
  bool FindEOI();
  bool Wanted(uint8_t marker) const noexcept { return wanted_.test(marker); }

  TStream* stream_;
  bool owns_stream_;
  TJPEGMarkerSet wanted_;
  int64_t position_ = 0;
  uint8_t last_marker_ = 0;
  bool ended_ = false;
  Ref<TFoundJPEGSegment> current_;
};

// One Photoshop image-resource block.
class TAdobeBlock : public TRefObject {
 public:
  static constexpr uint16_t kIPTCNAA = 1028;
  char Signature[4] = {};
  uint16_t Type = 0;
  std::string Name;  // 8-bit text
  Ref<TMemoryStream> Data;
  // Type 1028, at least 5 data bytes, the first one 0x1C.
  bool HoldsIPTC() const;
};

// Walks the resource blocks of one APP13 segment's data from a start offset
// to the end, while at least 12 bytes remain. A block that runs past the end
// of the data ends the walk.
class TAdobeApp13Enumerator : public TRefObject {
 public:
  TAdobeApp13Enumerator(Ref<TMemoryStream> data, int64_t start);
  bool MoveNext();
  TAdobeBlock* GetCurrent() const noexcept { return current_.get(); }

 private:
  Ref<TMemoryStream> data_;
  int64_t position_;
  Ref<TAdobeBlock> current_;
};

}  // namespace kav
