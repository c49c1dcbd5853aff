#include <gtest/gtest.h>

#include <algorithm>

#include "KavLib2/Zel.Exif/CacheStream.h"
#include "KavLib2/Zel.Exif/Exif.h"
#include "MetadataFixtures.h"

using namespace kav;
using namespace kav::test;

namespace {

TExif Decode(const Bytes& file) {
  TExif exif;
  exif.Decode(StreamOf(file).get());
  return exif;
}

// Values of every type: ASCII (also inline), SHORT, LONG, BYTE, RATIONAL,
// SRATIONAL, UNDEFINED, and a DOUBLE that no value takes.
TTiffBuilder FullTiff(bool mm) {
  TTiffBuilder t(mm);
  t.Ascii(false, 0x010E, "A description   ")
      .Add(false, 0x0110, 2, 4, Text(std::string("M1\0\0", 4)))
      .Short(false, 0x0112, 6)
      .Rational(false, 0x011A, 300, 1)
      .Ascii(false, 0x013B, "Artist\xE9");
  t.Rational(true, 0x829A, 10, 2000)
      .Rational(true, 0x829D, 28, 10)
      .Short(true, 0x8822, 7)
      .Short(true, 0x8827, 1600)
      .Rational(true, 0x9102, 4, 1)
      .Rational(true, 0x9201, 7643856, 1000000, 10)
      .Rational(true, 0x9205, 1, 0)
      .Add(true, 0x9207, 3, 1, t.U16(255))
      .Add(true, 0x9208, 1, 1, Bytes{21})
      .Add(true, 0x9209, 4, 1, t.U32(25))
      .Rational(true, 0x920A, 35, 1)
      .Add(true, 0x9286, 7, 13, Text(std::string("ASCII\0\0\0Hello", 13)))
      .Short(true, 0xA002, 4000)
      .Long(true, 0xA003, 70000)
      .Add(true, 0xA003, 12, 1, Bytes(8, 0x40));
  return t;
}

}  // namespace

TEST(Exif, ReadsEveryValueByItsTypeInBothByteOrders) {
  for (bool mm : {false, true}) {
    SCOPED_TRACE(mm ? "Motorola" : "Intel");
    const TExif e = Decode(Jpeg({App0Jfif(), App1Exif(FullTiff(mm).Build())}));
    EXPECT_TRUE(e.Found);
    EXPECT_EQ(e.MotorolaOrder, mm);
    EXPECT_EQ(e.ImageDescription, u"A description");
    EXPECT_EQ(e.Model, u"M1");
    EXPECT_EQ(e.Orientation, u"Rotated 90 right");
    EXPECT_EQ(e.XResolution, 300u);
    EXPECT_EQ(e.Artist, u"Artist\u00E9");
    EXPECT_EQ(e.ExposureTime, u"1/200 seconds");
    EXPECT_EQ(e.FNumber, u"2.8");
    EXPECT_EQ(e.ExposureProgram, u"Portrait Mode");
    EXPECT_EQ(e.ISOSpeed, 1600);  // a SHORT is 16 bits in either order
    EXPECT_EQ(e.CompressedBPP, u"4.0");
    EXPECT_EQ(e.ShutterSpeed, u"1/200 seconds");
    EXPECT_EQ(e.MaxAperture, u"");  // zero denominator
    EXPECT_EQ(e.MeteringMode, u"Unknown");
    EXPECT_EQ(e.LightSource, u"D65");
    EXPECT_EQ(e.Flash, u"Flash (Auto)");
    EXPECT_EQ(e.FocalLength, u"35/1 mm");
    EXPECT_EQ(e.UserComment, u"Hello");
    EXPECT_EQ(e.PixelWidth, 4000u);
    EXPECT_EQ(e.PixelHeight, 70000u);
  }
}

TEST(Exif, ValueForms) {
  EXPECT_EQ(ExifRationalInteger(10, 2500), u"1/250");
  EXPECT_EQ(ExifRationalInteger(50, 1), u"50/1");
  EXPECT_EQ(ExifRationalInteger(0, 5), u"0/5");
  EXPECT_EQ(ExifRationalInteger(7, 1000000), u"0");
  EXPECT_EQ(ExifRationalInteger(0, 0), u"");
  EXPECT_EQ(ExifRationalDecimal(1, 3), u"0.33");
  EXPECT_EQ(ExifRationalDecimal(5, 0), u"");
  EXPECT_EQ(ExifShutterSpeedText(0xFFFFFFFF, 1), u"1 seconds");  // a negative APEX value read unsigned
  EXPECT_EQ(ExifShutterSpeedText(20000, 1), u"");
  EXPECT_EQ(ExifShutterSpeedText(15000, 1), u"");  // 2^15000 does not fit a number
  EXPECT_EQ(ExifShutterSpeedText(1, 0), u"");
  EXPECT_EQ(ExifExposureProgramText(9), u"Unknown");
  EXPECT_EQ(ExifOrientationText(300), u"Unknown");
}

TEST(Exif, UserCommentForms) {
  auto comment = [](bool mm, Bytes value, bool in_ifd0 = false) {
    TTiffBuilder t(mm);
    t.Add(!in_ifd0, 0x9286, 7, uint32_t(value.size()), value);
    return Decode(Jpeg({App1Exif(t.Build())})).UserComment;
  };
  EXPECT_EQ(comment(false, Text("ASCII   spaced out  ")), u"spaced out");
  EXPECT_EQ(comment(true, Text(std::string("\0\0\0\0\0\0\0\0plain", 13))), u"plain");
  Bytes uni = Text(std::string("UNICODE\0", 8));
  Append(uni, {0x00, 0xE9, 0x00, 'a'});
  EXPECT_EQ(comment(true, uni), u"\u00E9a");
  uni.resize(8);
  Append(uni, {0xE9, 0x00, 'a', 0x00});
  EXPECT_EQ(comment(false, uni), u"\u00E9a");
  EXPECT_EQ(comment(false, Text("ok"), true), u"ok");
}

TEST(Exif, FindsTheApp1Segment) {
  const Bytes tiff = TTiffBuilder(false).Ascii(false, 0x010F, "Cam").Build();
  EXPECT_EQ(Decode(Jpeg({App1Exif(tiff)})).Make, u"Cam");
  EXPECT_EQ(Decode(Jpeg({App0Jfif(), App1Exif(tiff)})).Make, u"Cam");
  EXPECT_EQ(Decode(Jpeg({App0Jfif(40), App1Exif(tiff)})).Make, u"Cam");  // found by the search
  EXPECT_EQ(Decode(Jpeg({Segment(0xDB, Bytes(65, 1)), App1Exif(tiff)})).Make, u"Cam");
  // Not a JPEG, no APP1, or the APP1 beyond the searched 2000 bytes.
  for (const Bytes& file : {Bytes{0xFF, 0xD9, 0xFF, 0xE1}, Jpeg({App0Jfif()}),
                            Jpeg({Segment(0xE2, Bytes(2100, 0)), App1Exif(tiff)}), Bytes{}}) {
    const TExif e = Decode(file);
    EXPECT_FALSE(e.Found);
    EXPECT_EQ(e.Make, u"");
  }
  // An IFD0 that is not right after the header.
  EXPECT_EQ(Decode(Jpeg({App1Exif(TTiffBuilder(true).Ascii(false, 0x010F, "Far").Build(40))})).Make, u"Far");
}

TEST(Exif, HostileDirectoriesFailCleanly) {
  TTiffBuilder good(false);
  good.Ascii(false, 0x010F, "Camera").Short(true, 0x8827, 100);
  const Bytes tiff = good.Build();
  // Entry 0 of IFD0 starts at tiff offset 10: type at 12, count at 14, value at 18.
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes t = tiff;
    std::copy(bytes.begin(), bytes.end(), t.begin() + at);
    return Decode(Jpeg({App1Exif(t)}));
  };
  EXPECT_EQ(patched(10, {}).Make, u"Camera");
  // A text offset outside the data; 2^31 SHORTs, whose byte size wraps to 0
  // in 32 bits; an IFD0 offset outside the data.
  EXPECT_EQ(patched(18, {0xF0, 0xFF, 0xFF, 0x7F}).Make, u"");
  EXPECT_EQ(patched(12, {3, 0, 0, 0, 0, 0x80}).Make, u"");
  EXPECT_EQ(patched(4, {0xF0, 0xFF, 0xFF, 0xFF}).Make, u"");
  // An entry count past the end reads on until the zero tag of the bytes after.
  TExif e = patched(8, {0xFF, 0xFF});
  EXPECT_EQ(e.Make, u"Camera");
  EXPECT_EQ(e.ISOSpeed, 100);

  // An EXIF directory offset pointing back at IFD0 reads it once more, no loop.
  TTiffBuilder cyc(true);
  cyc.Ascii(false, 0x010F, "Loop").Long(false, 0x8769, 8);
  e = Decode(Jpeg({App1Exif(cyc.Build())}));
  EXPECT_EQ(e.Make, u"Loop");
  EXPECT_EQ(e.ExifOffset, 8u);

  // Data past the APP1 segment's declared length is not read, even when
  // the file holds it.
  Bytes app1 = App1Exif(tiff);
  ASSERT_EQ(app1[2], 0);
  app1[3] = 8 + 16;  // the segment ends inside IFD0's first entry
  EXPECT_EQ(Decode(Jpeg({app1})).Make, u"");
  app1[2] = app1[3] = 0;
  EXPECT_TRUE(Decode(Jpeg({app1})).Found);
}

TEST(Exif, CacheStreamPullsBlocksOnDemand) {
  Bytes bytes(10000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
  auto src = StreamOf(bytes);
  auto cache = MakeRef<TCacheStream>(src.get());
  uint8_t b[3];
  cache->SetPosition(4095);
  EXPECT_EQ(cache->Read(std::span<uint8_t>(b), 3), 3);  // straddles the first two blocks
  EXPECT_EQ(b[2], uint8_t(4097 * 7));
  EXPECT_EQ(cache->Pulled(), 8192);
  EXPECT_EQ(cache->SetPosition(20000), 10000);
  EXPECT_EQ(cache->Pulled(), 10000);
  EXPECT_EQ(cache->Read(std::span<uint8_t>(b), 3), 0);
  // A source that ends before its announced size ends where its bytes end.
  src->SetPosition(0);
  auto part = MakeRef<TCacheStream>(src.get());
  src->SetSize(9999);
  EXPECT_EQ(part->GetSize(), 10000);
  part->SetPosition(9997);
  EXPECT_EQ(part->Read(std::span<uint8_t>(b), 3), 2);
  EXPECT_EQ(part->GetSize(), 9999);
}
