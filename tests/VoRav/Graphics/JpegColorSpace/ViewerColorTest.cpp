// Stored lookup tables of packed shows, the display profile and profile
// streams.
#include <gtest/gtest.h>

#include "VoRav/Graphics/JpegColorSpace/vxBuiltinProfiles.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorVolume.h"
#include "VoRav/Graphics/JpegColorSpace/vxScreenProfile.h"
#include "VoRav/Graphics/JpegColorSpace/vxViewerColorTransform.h"

namespace kav {
namespace {

// A stored table whose every entry is the offset (10, 20, 30).
Ref<TBitmap> StoredTable(int32_t width, int32_t height) {
  Ref<TSysBitmap> b = CreateSysBitmap(width, height, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, width, height}, 0xFF1E140A);
  return b;
}

bool g_available = false;
std::u16string g_asked;
bool Available() { return g_available; }
Ref<TBitmap> LoadTable(const std::u16string& name) {
  g_asked = name;
  return name == u"ColorSpaceExe_Missing].VXGFX" ? nullptr : StoredTable(32, 1024);
}
int g_fallback_calls = 0;
Ref<TColorTransform> FallbackMaker(TColorProfile*, TColorProfile*) {
  ++g_fallback_calls;
  return nullptr;
}

TEST(ViewerColorTest, StoredTablesAreOffsetsFromTheIdentity) {
  Ref<TSysBitmap> table = ViewerTableFromImage(StoredTable(32, 1024).get());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->PixelFormat(), StdFormats().R8G8B8);
  for (auto [a, b, c] : {std::array{31, 31, 31}, std::array{3, 17, 29}}) {
    const uint8_t* p = table->PixelAddress(c, 32 * a + b);
    EXPECT_EQ(p[0], uint8_t(ColorGridValue(a) + 10));  // 255 + 10 wraps to 9
    EXPECT_EQ(p[1], uint8_t(ColorGridValue(b) + 20));
    EXPECT_EQ(p[2], uint8_t(ColorGridValue(c) + 30));
  }
  // Any other size would put entries outside the picture.
  EXPECT_EQ(ViewerTableFromImage(StoredTable(32, 1000).get()), nullptr);
  EXPECT_EQ(ViewerTableFromImage(StoredTable(16, 1024).get()), nullptr);
}

TEST(ViewerColorTest, MakerUsesTheShowsTablesOrFallsBack) {
  const TColorTransformMaker original = SetColorTransformMaker(&FallbackMaker);
  InstallViewerColorTransform();
  SetViewerTableSource(&Available, &LoadTable);
  Ref<TColorProfile> missing = ColorProfileCreate(kAdobeRGBProfile, u"Missing");
  Ref<TColorProfile> stored = ColorProfileCreate(kAdobeRGBProfile, u"AdobeRGB");

  g_available = false;
  EXPECT_EQ(CreateViewerColorTransform(stored.get(), GetDefaultColorProfile()), nullptr);
  EXPECT_EQ(g_fallback_calls, 1);
  g_available = true;
  EXPECT_EQ(CreateViewerColorTransform(missing.get(), GetDefaultColorProfile()), nullptr);
  EXPECT_EQ(g_asked, u"ColorSpaceExe_Missing].VXGFX");
  EXPECT_EQ(g_fallback_calls, 1);

  // A single colour through the show's table for sRGB colours (the source
  // of lookup volumes): the offsets are added.
  uint32_t out = 0;
  TransformColor(stored.get(), out, 0x00808080);
  EXPECT_EQ(g_asked, u"ColorSpaceExe_sRGB].VXGFX");
  EXPECT_NEAR(int(out & 0xFF), 0x80 + 10, 1);
  EXPECT_NEAR(int(out >> 8 & 0xFF), 0x80 + 20, 1);
  EXPECT_NEAR(int(out >> 16 & 0xFF), 0x80 + 30, 1);

  SetViewerTableSource(nullptr, nullptr);
  SetColorTransformMaker(original);
}

TEST(ViewerColorTest, DisplayProfileAndProfileStreams) {
  SetScreenProfileBytes(kSRGBProfile);
  EXPECT_EQ(ReadScreenProfile().get(), GetDefaultColorProfile());
  SetScreenProfileBytes({});
  EXPECT_EQ(ReadScreenProfile(), nullptr);

  std::vector<uint8_t> bytes;
  // A stream that never ends is cut off at the size limit.
  class TEndless : public TStream {
   public:
    int64_t GetPosition() override { return 0; }
    int64_t SetPosition(int64_t) override { return 0; }
    int64_t GetSize() override { return -1; }
    void SetSize(int64_t) override {}

   protected:
    int64_t DoRead(std::span<uint8_t> buffer) override { return int64_t(buffer.size()); }
    int64_t DoWrite(std::span<const uint8_t>) override { return 0; }
  };
  Ref<TEndless> endless = MakeRef<TEndless>();
  EXPECT_FALSE(ReadProfileStream(endless.get(), bytes));
  EXPECT_TRUE(bytes.empty());
}

}  // namespace
}  // namespace kav
