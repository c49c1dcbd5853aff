// Writes EXIF and IPTC tags into a JPEG with exiftool and checks that the
// readers see what was written, in both EXIF byte orders. Skipped when
// exiftool is not installed (Debian: libimage-exiftool-perl).
#include <gtest/gtest.h>

#include "KavLib2/Zel.Exif/Exif.h"
#include "KavLib2/Zel.Exif/IPTCData.h"
#include "MetadataFixtures.h"
#include "tests/VoRav/Graphics/ToolRun.h"

using namespace kav;
using namespace kav::test;

TEST(Exiftool, ReadsWhatExiftoolWrote) {
  const std::string exiftool = "/usr/bin/exiftool";
  if (!ToolExists(exiftool)) GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
  const TScratchDir dir("exiftool");
  ASSERT_FALSE(dir.Path().empty());

  for (const char* order : {"II", "MM"}) {
    SCOPED_TRACE(order);
    const std::string file = dir / (std::string(order) + ".jpg");
    WriteFileBytes(file, Jpeg({App0Jfif()}));
    ASSERT_EQ(RunTool({exiftool, "-q", "-overwrite_original", "-charset", "iptc=utf8", std::string("-ExifByteOrder=") + order,
                   "-Make=Maker", "-ImageDescription=A picture", "-DateTimeOriginal=2024:02:28 01:02:03",
                   "-ExposureTime=1/200", "-FNumber=2.8", "-FocalLength=35",
                   "-ISO=1600", "-Orientation#=8", "-ExposureProgram#=7", "-MeteringMode#=5", "-LightSource#=21",
                   "-ExifIFD:Flash#=25", "-ShutterSpeedValue=1/250", "-CompressedBitsPerPixel=4", "-ExifImageWidth=4000",
                   "-ExifImageHeight=3000", "-XResolution=300", "-YResolution=240", "-UserComment=Hello there",
                   "-IPTC:CodedCharacterSet=UTF8", "-IPTC:ObjectName=Title", "-IPTC:Keywords=one",
                   "-IPTC:Keywords=two", "-IPTC:Keywords=three", "-IPTC:By-line=Ann", "-IPTC:By-line=Bob",
                   "-IPTC:By-lineTitle=Boss", "-IPTC:City=Z\xC3\xBCrich", "-IPTC:Caption-Abstract=Caption",
                   "-IPTC:DateCreated=2024:02:29", "-IPTC:Urgency=1", file}),
              0);
    const Bytes bytes = ReadFileBytes(file);

    TExif e;
    e.Decode(StreamOf(bytes).get());
    EXPECT_TRUE(e.Found);
    EXPECT_EQ(e.MotorolaOrder, std::string(order) == "MM");
    EXPECT_EQ(e.Make, u"Maker");
    EXPECT_EQ(e.ImageDescription, u"A picture");
    EXPECT_EQ(e.DateTimeOriginal, u"2024:02:28 01:02:03");
    EXPECT_EQ(e.ExposureTime, u"1/200 seconds");
    EXPECT_EQ(e.FNumber, u"2.8");
    EXPECT_EQ(e.FocalLength, u"35/1 mm");
    EXPECT_EQ(e.ISOSpeed, 1600);
    EXPECT_EQ(e.Orientation, u"Rotated 90 left");
    EXPECT_EQ(e.ExposureProgram, u"Portrait Mode");
    EXPECT_EQ(e.MeteringMode, u"Pattern");
    EXPECT_EQ(e.LightSource, u"D65");
    EXPECT_EQ(e.Flash, u"Flash (Auto)");
    EXPECT_EQ(e.ShutterSpeed, u"1/250 seconds");
    EXPECT_EQ(e.CompressedBPP, u"4.0");
    EXPECT_EQ(e.PixelWidth, 4000u);
    EXPECT_EQ(e.PixelHeight, 3000u);
    EXPECT_EQ(e.XResolution, 300u);
    EXPECT_EQ(e.YResolution, 240u);
    EXPECT_EQ(e.UserComment, u"Hello there");

    auto iptc = MakeRef<TIPTCData>();
    iptc->LoadFromJPEG(StreamOf(bytes).get());
    EXPECT_TRUE(iptc->UTF8);
    EXPECT_EQ(iptc->DocumentTitle(), u"Title");
    EXPECT_EQ(iptc->Keywords(), (std::vector<std::u16string>{u"one", u"two", u"three"}));
    EXPECT_EQ(iptc->ByLineDetails(), (std::vector<std::u16string>{u"Ann=Boss", u"Bob="}));
    EXPECT_EQ(iptc->City(), u"Z\u00FCrich");
    EXPECT_EQ(iptc->Caption(), u"Caption");
    EXPECT_EQ(iptc->DateCreated(), 45351);
    EXPECT_EQ(iptc->Urgency(), 8);
  }
}
