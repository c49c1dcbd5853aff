// Builders of small EXIF, JPEG and IPTC byte arrays for the metadata tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"

namespace kav::test {

using Bytes = std::vector<uint8_t>;

inline Ref<TMemoryStream> StreamOf(const Bytes& b) {
  auto s = MakeRef<TMemoryStream>();
  if (!b.empty()) s->WriteBytes(b);
  s->SetPosition(0);
  return s;
}

inline void Append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
inline void PutBE16(Bytes& b, uint32_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
inline void PutBE32(Bytes& b, uint32_t v) { PutBE16(b, v >> 16); PutBE16(b, v & 0xFFFF); }

// A TIFF block (header, IFD0 and an optional EXIF directory) in either byte
// order. Values longer than 4 bytes go to a data area after the directories.
class TTiffBuilder {
 public:
  explicit TTiffBuilder(bool motorola) : mm_(motorola) {}

  TTiffBuilder& Add(bool exif_dir, uint16_t tag, uint16_t type, uint32_t count, Bytes value) {
    (exif_dir ? exif_ : ifd0_).push_back({tag, type, count, std::move(value)});
    return *this;
  }
  TTiffBuilder& Ascii(bool exif_dir, uint16_t tag, const std::string& s) {
    return Add(exif_dir, tag, 2, uint32_t(s.size() + 1), Text(s + '\0'));
  }
  TTiffBuilder& Short(bool exif_dir, uint16_t tag, uint16_t v) { return Add(exif_dir, tag, 3, 1, U16(v)); }
  TTiffBuilder& Long(bool exif_dir, uint16_t tag, uint32_t v) { return Add(exif_dir, tag, 4, 1, U32(v)); }
  TTiffBuilder& Rational(bool exif_dir, uint16_t tag, uint32_t n, uint32_t d, uint16_t type = 5) {
    Bytes v = U32(n);
    Append(v, U32(d));
    return Add(exif_dir, tag, type, 1, v);
  }

  Bytes U16(uint32_t v) const { return mm_ ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)}; }
  Bytes U32(uint32_t v) const {
    Bytes r = U16(mm_ ? v >> 16 : v & 0xFFFF);
    Append(r, U16(mm_ ? v & 0xFFFF : v >> 16));
    return r;
  }

  // The whole block. IFD0 gets a 0x8769 entry when the EXIF directory has
  // entries; an `ifd0_offset` other than 8 leaves a gap of zero bytes.
  Bytes Build(uint32_t ifd0_offset = 8) const {
    std::vector<TEntry> ifd0 = ifd0_;
    const uint32_t exif_at = ifd0_offset + 6 + 12 * uint32_t(ifd0.size() + (exif_.empty() ? 0 : 1));
    if (!exif_.empty()) ifd0.push_back({0x8769, 4, 1, U32(exif_at)});
    uint32_t data_at = exif_at + (exif_.empty() ? 0 : 6 + 12 * uint32_t(exif_.size()));
    Bytes out = Text(mm_ ? "MM" : "II"), data;
    Append(out, U16(42));
    Append(out, U32(ifd0_offset));
    out.resize(ifd0_offset, 0);
    const std::vector<TEntry>* dirs[] = {&ifd0, &exif_};
    for (const auto* dir : dirs) {
      if (dir->empty() && dir == &exif_) break;
      Append(out, U16(uint32_t(dir->size())));
      for (const TEntry& e : *dir) {
        for (const Bytes& b : {U16(e.Tag), U16(e.Type), U32(e.Count)}) Append(out, b);
        Bytes v = e.Value.size() <= 4 ? e.Value : U32(data_at + uint32_t(data.size()));
        v.resize(4, 0);
        Append(out, v);
        if (e.Value.size() > 4) Append(data, e.Value);
      }
      Append(out, U32(0));
    }
    Append(out, data);
    return out;
  }

 private:
  struct TEntry {
    uint16_t Tag, Type;
    uint32_t Count;
    Bytes Value;  // in file order
  };
  bool mm_;
  std::vector<TEntry> ifd0_, exif_;
};

// A marker segment: FF, the marker, the big-endian length (data + 2), the data.
// Sized up front: growing a 4-byte vector trips GCC 12's bogus -Wstringop-overread.
inline Bytes Segment(uint8_t marker, const Bytes& data) {
  const uint32_t length = uint32_t(data.size() + 2);
  Bytes s(data.size() + 4);
  s[0] = 0xFF;
  s[1] = marker;
  s[2] = uint8_t(length >> 8);
  s[3] = uint8_t(length);
  std::copy(data.begin(), data.end(), s.begin() + 4);
  return s;
}

inline Bytes App1Exif(const Bytes& tiff) {
  Bytes d = Text(std::string("Exif\0\0", 6));
  Append(d, tiff);
  return Segment(0xE1, d);
}

// A standard JFIF APP0 segment (16 bytes of length) or a longer one.
inline Bytes App0Jfif(size_t extra = 0) {
  static const uint8_t kHead[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  Bytes d(sizeof kHead + extra, 0);
  std::copy(std::begin(kHead), std::end(kHead), d.begin());
  return Segment(0xE0, d);
}

// SOI, the given segments, then a start of scan, some image data and EOI.
inline Bytes Jpeg(const std::vector<Bytes>& segments, const Bytes& image_data = {0x12, 0x34, 0xFF, 0x00, 0x56}) {
  Bytes j = {0xFF, 0xD8};
  for (const Bytes& s : segments) Append(j, s);
  Append(j, Segment(0xDA, {1, 1, 0, 0, 0x3F, 0}));
  Append(j, image_data);
  Append(j, {0xFF, 0xD9});
  return j;
}

// One IPTC dataset with a plain (or, when forced, a 4-byte extended) size.
inline Bytes Dataset(uint8_t record, uint8_t dataset, const Bytes& data, bool extended = false) {
  Bytes d = {0x1C, record, dataset};
  if (extended) {
    PutBE16(d, 0x8004);
    PutBE32(d, uint32_t(data.size()));
  } else {
    PutBE16(d, uint32_t(data.size()));
  }
  Append(d, data);
  return d;
}

// A Photoshop image-resource block.
inline Bytes AdobeBlock(uint16_t type, const std::string& name, const Bytes& data) {
  Bytes b = Text("8BIM");
  PutBE16(b, type);
  b.push_back(uint8_t(name.size()));
  Append(b, Text(name));
  if (name.size() % 2 == 0) b.push_back(0);
  PutBE32(b, uint32_t(data.size()));
  Append(b, data);
  if (data.size() % 2) b.push_back(0);
  return b;
}

// An APP13 segment with the "Photoshop 3.0" header and the given blocks.
inline Bytes App13(const std::vector<Bytes>& blocks, const std::string& header = std::string("Photoshop 3.0\0", 14)) {
  Bytes d = Text(header);
  for (const Bytes& b : blocks) Append(d, b);
  return Segment(0xED, d);
}

}  // namespace kav::test
