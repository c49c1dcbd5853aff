// The JPEG wrapper against djpeg of the same files at every scale, and on
// damaged and hostile files.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <jerror.h>

#include "JpegTestUtil.h"
#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TJpegImage> Load(const std::vector<uint8_t>& bytes) {
  auto image = MakeRef<TJpegImage>();
  image->LoadFromStream(Mem(bytes).get());
  return image;
}

bool HaveTools() { return ToolExists(kCjpeg) && ToolExists(kDjpeg); }

}  // namespace

TEST(JpegDecode, EveryLevelMatchesDjpeg) {
  if (!HaveTools()) GTEST_SKIP() << "cjpeg/djpeg (libjpeg-turbo-progs) are not installed";
  TScratchDir dir("jpeg");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(301, 203, 5));
  struct Variant {
    const char* name;
    std::vector<std::string> args;
  } variants[] = {{"base", {}},
                  {"prog", {"-progressive"}},
                  {"grey", {"-grayscale"}},
                  {"s444", {"-sample", "1x1"}},
                  {"s422", {"-sample", "2x1", "-restart", "1"}},
                  {"arith", {"-arithmetic"}}};
  std::vector<std::string> files;
  for (const Variant& v : variants) {
    std::vector<std::string> args{kCjpeg, "-quality", "85"};
    args.insert(args.end(), v.args.begin(), v.args.end());
    args.insert(args.end(), {"-outfile", dir / (std::string(v.name) + ".jpg"), dir / "in.ppm"});
    ASSERT_EQ(RunTool(args), 0) << v.name;
    files.push_back(v.name);
  }
  // A CMYK file as ImageMagick writes one (Adobe marker, inverted inks).
  if (ToolExists(kMagick) && RunTool({kMagick, dir / "in.ppm", "-colorspace", "CMYK", dir / "cmyk.jpg"}) == 0)
    files.push_back("cmyk");

  for (const std::string& name : files) {
    const auto bytes = ReadFileBytes(dir / (name + ".jpg"));
    auto image = Load(bytes);
    EXPECT_EQ(image->GetSize().cx, 301);
    EXPECT_EQ(image->Image->Grayscale, name == "grey");
    EXPECT_EQ(image->Progressive, name == "prog");
    for (int level = 0; level <= 3; ++level) {
      SCOPED_TRACE(name + " level " + std::to_string(level));
      const std::string ref = dir / (name + std::to_string(level) + ".pnm");
      ASSERT_EQ(RunTool({kDjpeg, "-scale", "1/" + std::to_string(1 << level), "-pnm", "-outfile", ref,
                         dir / (name + ".jpg")}),
                0);
      const TPnm pnm = ParsePnm(ReadFileBytes(ref));
      auto b = NewDibBitmapOn(image->Decode(uint8_t(level)).get(), false);
      ASSERT_EQ(b->Width(), pnm.Width);
      ASSERT_EQ(b->Height(), pnm.Height);
      ASSERT_EQ(b->BytesPerPixel(), pnm.Channels);
      EXPECT_EQ(image->Scale, 0);
      for (int y = 0; y < b->Height(); ++y)
        for (int x = 0; x < b->Width(); ++x) {
          const uint8_t* ours = b->PixelAddress(x, y);
          const uint8_t* theirs = &pnm.Pixels[size_t(y * pnm.Width + x) * size_t(pnm.Channels)];
          if (pnm.Channels == 1)
            ASSERT_EQ(ours[0], theirs[0]) << x << "," << y;
          else
            ASSERT_TRUE(ours[0] == theirs[2] && ours[1] == theirs[1] && ours[2] == theirs[0]) << x << "," << y;
        }
    }
  }
}

TEST(JpegDecode, ProgressEmptyCutAndHugeFiles) {
  if (!HaveTools()) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegbad");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(64, 48, 3));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "a.jpg", dir / "in.ppm"}), 0);
  const auto good = ReadFileBytes(dir / "a.jpg");

  // Progress: starting, running reports, ending with 100.
  struct TRecorder : TRefObject {
    std::vector<std::pair<int, int>> calls;
    void On(TRefObject*, uint8_t stage, uint8_t percent, bool, const TRect&, const std::u16string&) {
      calls.emplace_back(stage, percent);
    }
  };
  auto rec = MakeRef<TRecorder>();
  auto image = Load(good);
  image->OnProgress = TJpegProgressEvent::Bind<&TRecorder::On>(rec.get());
  image->Decode(1);
  ASSERT_GE(rec->calls.size(), 3u);
  EXPECT_EQ(rec->calls.front(), std::make_pair(0, 0));
  EXPECT_EQ(rec->calls.back(), std::make_pair(2, 100));
  EXPECT_EQ(rec->calls[1].first, 1);

  // No data: libjpeg's "empty input" error.
  auto empty = MakeRef<TJpegImage>();
  try {
    empty->Decode(0);
    ADD_FAILURE();
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message(), "JPEG error #" + std::to_string(JERR_INPUT_EMPTY));
  }
  EXPECT_EQ(empty->GetSize().cx, 0);

  // Half a file decodes at full size: libjpeg ends it and fills the rest.
  auto half = Load(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2)));
  EXPECT_EQ(half->Decode(0)->Header().Width, 64);
  // A frame header claiming 65500 x 65500: over the bitmap limits at full
  // size, refused before any pixel memory is taken.
  auto huge = good;
  for (size_t i = 2; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 0xFF;
      huge[i + 6] = huge[i + 8] = 0xDC;
      break;
    }
  auto big = Load(huge);
  EXPECT_EQ(big->GetSize().cx, 65500);
  EXPECT_THROW(big->Decode(0), EOutOfMemory);
}
