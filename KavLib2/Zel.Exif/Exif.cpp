// The EXIF reader: finds the APP1 segment, walks IFD0 and the EXIF
// directory, and stores the values it knows.
#include "KavLib2/Zel.Exif/Exif.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "KavLib2/Zel.Exif/CacheStream.h"
#include "VoRav/vxConvert.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

// TIFF value types.
enum : uint16_t {
  kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSByte = 6, kUndefined = 7,
  kSShort = 8, kSLong = 9, kSRational = 10, kFloat = 11, kDouble = 12, kIfd = 13,
};

// Bytes of one value of the type; 0 for an unknown type.
uint32_t TypeSize(uint16_t type) {
  static const uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < sizeof kSizes ? kSizes[type] : 0;
}

// Texts longer than this are not read.
constexpr uint64_t kMaxTextBytes = 10000;
// Bytes searched for an APP1 marker when it is not where it is expected.
constexpr int64_t kSearchBytes = 2000;

struct TEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  uint8_t Field[4] = {};
  int64_t FieldPos = 0;  // stream position of the value field
};

class TExifReader {
 public:
  TExifReader(TExif& exif, TStream* stream) : exif_(exif), s_(stream) {}
  void Run();

 private:
  // Reads n bytes at pos; false when fewer are there.
  bool ReadAt(int64_t pos, uint8_t* dst, int64_t n) {
    if (pos < 0 || s_->SetPosition(pos) != pos) return false;
    return s_->Read(std::span<uint8_t>(dst, static_cast<size_t>(n)), n) == n;
  }
  // Reads n bytes at pos when they lie inside the TIFF data.
  bool ReadTiff(int64_t pos, uint8_t* dst, int64_t n) {
    return pos >= base_ && n <= limit_ - pos && ReadAt(pos, dst, n);
  }
  uint16_t Get16(const uint8_t* p) const {
    return motorola_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
  }
  uint32_t Get32(const uint8_t* p) const {
    return motorola_ ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                     : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }

  bool FindApp1(int64_t& marker_pos);
  void ReadDirectory(int64_t pos, uint32_t count, bool ifd0);
  // The entry's value bytes (inline when they fit in 4), at most max_bytes
  // of them; false when the type is unknown or the data lies outside.
  bool EntryData(const TEntry& e, std::vector<uint8_t>& out, uint64_t max_bytes);
  // The first value as an unsigned number, read by its type (a rational
  // gives its numerator); false when there is none.
  bool Unsigned(const TEntry& e, uint32_t& value);
  bool Rational(const TEntry& e, uint32_t& numerator, uint32_t& denominator);
  std::u16string Text(const TEntry& e);
  std::u16string Comment(const TEntry& e);
  void Store(const TEntry& e, bool ifd0);

  TExif& exif_;
  TStream* s_;
  bool motorola_ = false;
  int64_t base_ = 0;   // the TIFF header's position: offsets count from here
  int64_t limit_ = 0;  // the end of the APP1 segment (or of the stream)
};

// Text of 8-bit bytes: cut at the first zero, widened.
std::u16string Widen8(const uint8_t* p, size_t n) {
  const size_t len = std::find(p, p + n, uint8_t(0)) - p;
  return AnsiToWideRange(std::string_view(reinterpret_cast<const char*>(p), len), 0, static_cast<ptrdiff_t>(len), CP_ACP);
}

// Blanks and controls removed on both sides.
std::u16string TrimBoth(std::u16string s) {
  s = WideTrimRight(s);
  size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  return s.substr(i);
}

bool TExifReader::FindApp1(int64_t& marker_pos) {
  uint8_t b[9];
  if (!ReadAt(0, b, 2) || b[0] != 0xFF || b[1] != 0xD8) return false;
  marker_pos = 2;
  if (!ReadAt(marker_pos, b, 9)) return false;
  if (b[0] == 0xFF && b[1] == 0xE0) {
    // The APP1 of a JFIF file follows the standard 16-byte APP0 header.
    marker_pos = 20;
    if (!ReadAt(marker_pos, b, 9)) return false;
  }
  if (b[0] == 0xFF && b[1] == 0xE1) return true;
  const int64_t from = marker_pos + 9;
  uint8_t area[kSearchBytes];
  s_->SetPosition(from);
  const int64_t n = s_->Read(std::span<uint8_t>(area), kSearchBytes);
  for (int64_t i = 0; i <= n - 3; ++i) {
    if (area[i] == 0xFF && area[i + 1] == 0xE1) {
      marker_pos = from + i;
      return ReadAt(marker_pos, b, 9);
    }
  }
  return false;
}

void TExifReader::Run() {
  int64_t marker = 0;
  if (!FindApp1(marker)) return;
  exif_.Found = true;
  // The TIFF data begins after the marker, the length and "Exif\0\0", and
  // ends with the segment.
  uint8_t h[11];
  if (!ReadAt(marker + 2, h, 2)) return;
  const int64_t segment_end = marker + 2 + (h[0] << 8 | h[1]);
  base_ = marker + 10;
  limit_ = std::min(segment_end, s_->GetSize());
  if (base_ + 10 > limit_ || !ReadAt(base_ - 1, h, 11)) return;
  motorola_ = h[1] == 'M' && h[2] == 'M';
  exif_.MotorolaOrder = motorola_;
  const uint32_t ifd0 = Get32(h + 5);
  uint32_t count = Get16(h + 9);
  int64_t entries = base_ + 10;
  if (ifd0 != 8) {
    entries = base_ + ifd0 + 2;
    uint8_t c[2];
    if (!ReadTiff(entries - 2, c, 2)) return;
    count = Get16(c);
  }
  ReadDirectory(entries, count == 0 ? 100 : count, true);
  if (exif_.ExifOffset != 0) {
    uint8_t c[2];
    const int64_t pos = base_ + exif_.ExifOffset;
    if (!ReadTiff(pos, c, 2)) return;
    ReadDirectory(pos + 2, Get16(c), false);
  }
}

void TExifReader::ReadDirectory(int64_t pos, uint32_t count, bool ifd0) {
  for (uint32_t i = 0; i < count; ++i, pos += 12) {
    uint8_t raw[12];
    if (!ReadTiff(pos, raw, 12)) return;
    TEntry e;
    e.Tag = Get16(raw);
    if (e.Tag == 0) return;
    e.Type = Get16(raw + 2);
    e.Count = Get32(raw + 4);
    std::memcpy(e.Field, raw + 8, 4);
    e.FieldPos = pos + 8;
    Store(e, ifd0);
  }
}

bool TExifReader::EntryData(const TEntry& e, std::vector<uint8_t>& out, uint64_t max_bytes) {
  const uint64_t bytes = uint64_t(e.Count) * TypeSize(e.Type);
  if (bytes == 0 || bytes > max_bytes) return false;
  out.resize(static_cast<size_t>(bytes));
  if (bytes <= 4) {
    std::memcpy(out.data(), e.Field, static_cast<size_t>(bytes));
    return true;
  }
  return ReadTiff(base_ + Get32(e.Field), out.data(), static_cast<int64_t>(bytes));
}

bool TExifReader::Unsigned(const TEntry& e, uint32_t& value) {
  if (e.Count == 0) return false;
  TEntry first = e;
  first.Count = 1;
  std::vector<uint8_t> d;
  if (!EntryData(first, d, 8)) return false;
  switch (e.Type) {
    case kByte: case kSByte: case kUndefined: value = d[0]; return true;
    case kShort: case kSShort: value = Get16(d.data()); return true;
    case kLong: case kSLong: case kIfd: case kRational: case kSRational: value = Get32(d.data()); return true;
    default: return false;
  }
}

bool TExifReader::Rational(const TEntry& e, uint32_t& numerator, uint32_t& denominator) {
  if ((e.Type != kRational && e.Type != kSRational) || e.Count == 0) return false;
  TEntry first = e;
  first.Count = 1;
  std::vector<uint8_t> d;
  if (!EntryData(first, d, 8)) return false;
  numerator = Get32(d.data());
  denominator = Get32(d.data() + 4);
  return true;
}

std::u16string TExifReader::Text(const TEntry& e) {
  std::vector<uint8_t> d;
  if (!EntryData(e, d, kMaxTextBytes)) return {};
  return WideTrimRight(Widen8(d.data(), d.size()));
}

std::u16string TExifReader::Comment(const TEntry& e) {
  std::vector<uint8_t> d;
  if (!EntryData(e, d, kMaxTextBytes)) return {};
  // The standard form starts with an 8-byte character-code prefix, which the text leaves out.
  static const uint8_t kAsciiCode[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  static const uint8_t kUnicodeCode[8] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
  static const uint8_t kUndefinedCode[8] = {};
  if (d.size() >= 8) {
    if (std::memcmp(d.data(), kAsciiCode, 8) == 0) return TrimBoth(Widen8(d.data() + 8, d.size() - 8));
    if (std::memcmp(d.data(), kUndefinedCode, 8) == 0) return WideTrimRight(Widen8(d.data() + 8, d.size() - 8));
    if (std::memcmp(d.data(), kUnicodeCode, 8) == 0) {
      std::u16string text;
      for (size_t i = 8; i + 1 < d.size(); i += 2) {
        const char16_t c = Get16(d.data() + i);
        if (c == 0) break;
        text += c;
      }
      return TrimBoth(std::move(text));
    }
  }
  // Other forms: a plain text, from which a leading "ASCII" is dropped.
  std::u16string text = WideTrimRight(Widen8(d.data(), d.size()));
  if (text.size() > 5 && text.compare(0, 5, u"ASCII") == 0) text = TrimBoth(text.substr(5));
  return text;
}

void TExifReader::Store(const TEntry& e, bool ifd0) {
  uint32_t v = 0, n = 0, d = 0;
  switch (e.Tag) {
    case 0x010E: exif_.ImageDescription = Text(e); break;
    case 0x010F: exif_.Make = Text(e); break;
    case 0x0110: exif_.Model = Text(e); break;
    case 0x0131: exif_.Software = Text(e); break;
    case 0x0132: exif_.DateTime = Text(e); break;
    case 0x013B: exif_.Artist = Text(e); break;
    case 0x8298: exif_.Copyright = Text(e); break;
    case 0x9003: exif_.DateTimeOriginal = Text(e); break;
    case 0x9004: exif_.DateTimeDigitized = Text(e); break;
    case 0x9286:
      if (!ifd0 || exif_.UserComment.empty()) exif_.UserComment = Comment(e);
      break;
    case 0x0112:
      if (Unsigned(e, v)) exif_.OrientationCode = uint16_t(v);
      exif_.Orientation = ExifOrientationText(exif_.OrientationCode);
      break;
    case 0x8822:
      if (Unsigned(e, v)) exif_.ExposureProgramCode = uint16_t(v);
      exif_.ExposureProgram = ExifExposureProgramText(exif_.ExposureProgramCode);
      break;
    case 0x9207:
      if (Unsigned(e, v)) exif_.MeteringModeCode = uint16_t(v);
      exif_.MeteringMode = ExifMeteringModeText(exif_.MeteringModeCode);
      break;
    case 0x9208:
      if (Unsigned(e, v)) exif_.LightSourceCode = uint16_t(v);
      exif_.LightSource = ExifLightSourceText(exif_.LightSourceCode);
      break;
    case 0x9209:
      if (Unsigned(e, v)) exif_.FlashCode = uint16_t(v);
      exif_.Flash = ExifFlashText(exif_.FlashCode);
      break;
    case 0x8827: if (Unsigned(e, v)) exif_.ISOSpeed = uint16_t(v); break;
    case 0xA002: if (Unsigned(e, v)) exif_.PixelWidth = v; break;
    case 0xA003: if (Unsigned(e, v)) exif_.PixelHeight = v; break;
    case 0x011A: if (Unsigned(e, v)) exif_.XResolution = v; break;
    case 0x011B: if (Unsigned(e, v)) exif_.YResolution = v; break;
    case 0x8769: if (ifd0 && Unsigned(e, v)) exif_.ExifOffset = v; break;
    case 0x829A:
      if (Rational(e, n, d) && d != 0) exif_.ExposureTime = ExifRationalInteger(n, d) + u" seconds";
      break;
    case 0x920A:
      if (Rational(e, n, d) && d != 0) exif_.FocalLength = ExifRationalInteger(n, d) + u" mm";
      break;
    case 0x829D: if (Rational(e, n, d)) exif_.FNumber = ExifRationalDecimal(n, d); break;
    case 0x9202: if (Rational(e, n, d)) exif_.Aperture = ExifRationalDecimal(n, d); break;
    case 0x9205: if (Rational(e, n, d)) exif_.MaxAperture = ExifRationalDecimal(n, d); break;
    case 0x9102: if (Rational(e, n, d)) exif_.CompressedBPP = ExifRationalDecimal(n, d); break;
    case 0x9201: if (Rational(e, n, d)) exif_.ShutterSpeed = ExifShutterSpeedText(n, d); break;
    default: break;
  }
}

}  // namespace

void TExif::Decode(TStream* stream) {
  Clear();
  auto cache = MakeRef<TCacheStream>(stream);
  TExifReader(*this, cache.get()).Run();
}

}  // namespace kav
