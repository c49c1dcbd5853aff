// Every picture format of a show loads through the registry, with its
// mip levels and, for JPEG, the embedded colour profile.
#include <gtest/gtest.h>

#include <filesystem>

#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "JpegTestUtil.h"
#include "tests/VoRav/Graphics/ToolRun.h"

using namespace kav;
using namespace kav::test;

namespace {

const char* kConvert = "/usr/bin/convert";

Ref<TImage> LoadBytes(const std::vector<uint8_t>& bytes, const std::u16string& name) {
  return LoadImage(Mem(bytes).get(), name, false);
}

// The red, green and blue bytes of pixel (x, y) of a 24- or 32-bit level.
std::array<int, 3> PixelRGB(TBitmap* bitmap, int x, int y) {
  std::vector<uint8_t> px(static_cast<size_t>(bitmap->BytesPerPixel()));
  bitmap->GetPixels(x, y, 1, px, 0);
  return {px[2], px[1], px[0]};
}

}  // namespace

TEST(ImageLoaders, EveryShowFormatLoadsThroughTheRegistry) {
  if (!ToolExists(kConvert)) GTEST_SKIP() << "ImageMagick's convert is not installed";
  RegisterImageLoaders();
  RegisterImageLoaders();  // a second call adds nothing

  const auto dir = std::filesystem::temp_directory_path() / ("kav_loaders_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  struct Case {
    const char* file;
    std::u16string name;
  };
  // Each is read as what its data is, whatever its name says.
  const Case cases[] = {{"p.png", u"Pictures\\p.png"}, {"p.bmp", u"p.BMP"}, {"p.gif", u"p.gif"}, {"p.jpg", u"p.jpg"},
                        {"p.png", u"Photos\\IMG.JPG"}, {"p.jpg", u"p.png"}, {"p.gif", u"p.bmp"},
                        {"p.bmp", u"p.jpeg"}, {"p.png", u"p.gif|framesatlas"}};
  for (const Case& c : cases) {
    const auto path = (dir / c.file).string();
    // 64 x 48, pure red on the left half, pure blue on the right.
    ASSERT_EQ(RunTool({kConvert, "-size", "32x48", "xc:#FF0000", "-size", "32x48", "xc:#0000FF", "+append",
                       "-type", "TrueColor", path}),
              0)
        << c.file;
    Ref<TImage> image = LoadBytes(ReadFileBytes(path), c.name);
    ASSERT_TRUE(image) << c.file;
    EXPECT_EQ(image->Width(), 64) << c.file;
    EXPECT_EQ(image->Height(), 48) << c.file;
    Ref<TBitmap> level0 = image->Store()->GetMipLevel(0);
    Ref<TBitmap> level2 = image->Store()->GetMipLevel(2);
    ASSERT_TRUE(level0 && level2) << c.file;
    EXPECT_EQ(level2->Width(), 16) << c.file;
    EXPECT_EQ(level2->Height(), 12) << c.file;
    const int tolerance = std::string_view(c.file).ends_with(".jpg") ? 12 : 0;
    for (TBitmap* b : {level0.get(), level2.get()}) {
      auto left = PixelRGB(b, 1, 1);
      auto right = PixelRGB(b, b->Width() - 2, b->Height() - 2);
      EXPECT_NEAR(left[0], 255, tolerance) << c.file;
      EXPECT_NEAR(left[2], 0, tolerance) << c.file;
      EXPECT_NEAR(right[0], 0, tolerance) << c.file;
      EXPECT_NEAR(right[2], 255, tolerance) << c.file;
    }
  }

  // A JPEG carrying a colour profile gets it attached to its store.
  const char* profile = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
  if (std::filesystem::exists(profile)) {
    const auto path = (dir / "tagged.jpg").string();
    ASSERT_EQ(RunTool({kConvert, "-size", "16x16", "xc:#808080", "-profile", profile, path}), 0);
    Ref<TImage> image = LoadBytes(ReadFileBytes(path), u"tagged.jpg");
    ASSERT_TRUE(image);
    EXPECT_NE(image->Store()->ColorProfile(), nullptr);
  }
  std::filesystem::remove_all(dir);
}
