#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "DrawTestUtil.h"
#include "DumpPpm.h"
#include "GraphicsTestUtil.h"
#include "PillowReference.h"
#include "ToolRun.h"
#include "VoRav/Graphics/SysBitmapResize.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/winImageUtils.h"

namespace kav {
namespace {

using test::F;
using test::Get24;
using test::Get32;
using test::Sys;

Ref<TDibBitmap> View(TFastDIB* dib) { return NewDibBitmapOn(dib, false); }

TEST(Scaler, FittedSizes) {
  EXPECT_EQ(FitSizeIntoBox(TSize{400, 300}, TSize{200, 200}, false), (TSize{200, 150}));
  EXPECT_EQ(FitSizeIntoBox(TSize{100, 50}, TSize{400, 400}, true), (TSize{100, 50}));
  EXPECT_EQ(FitSizeIntoBox(TSize{100, 50}, TSize{400, 400}, false), (TSize{400, 200}));
  EXPECT_EQ(FitSizeIntoBox(TSize{100000, 1}, TSize{100, 100}, false), (TSize{100, 1}));  // never 0

  Ref<TSysBitmap> src = test::SmoothPicture(400, 300, F().R8G8B8);
  Ref<TImage> image = ImageFromBitmap(src.get(), false, u"s");
  Ref<TFastDIB> dib = CreateFastDIBFromImage(image.get(), 200, 200, false, false, 0);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->Width(), 200);
  EXPECT_EQ(dib->RowCount(), 150);
  EXPECT_EQ(dib->BitCount(), 24);
  // A box side of 0 answers nothing; so does no image.
  EXPECT_FALSE(CreateFastDIBFromImage(image.get(), 0, 200, false, false, 0));
  EXPECT_FALSE(CreateFastDIBFromImage(image.get(), 200, -1, false, false, 0));
  EXPECT_FALSE(CreateFastDIBFromImage(nullptr, 200, 200, false, false, 0));
  // At its own size the picture comes back unchanged.
  dib = CreateFastDIBFromImage(image.get(), 400, 300, false, false, 0);
  ASSERT_TRUE(dib);
  EXPECT_TRUE(test::SamePixels(View(dib.get()).get(), src.get()));
}

TEST(Scaler, EnlargementMatchesPillowBilinear) {
  if (!test::PillowAvailable()) GTEST_SKIP() << "Pillow is not installed";
  Ref<TSysBitmap> src = test::SmoothPicture(23, 17, F().R8G8B8);
  Ref<TImage> image = ImageFromBitmap(src.get(), false, u"s");
  Ref<TFastDIB> dib = CreateFastDIBFromImage(image.get(), 70, 70, false, false, 0);
  ASSERT_TRUE(dib);
  Ref<TDibBitmap> out = View(dib.get());
  ASSERT_EQ(out->Width(), 70);
  ASSERT_EQ(out->Height(), 52);
  test::DumpPpm("scaler_enlarged", out.get());

  test::TScratchDir scratch("scaler");
  const std::filesystem::path dir = scratch.Path();
  std::vector<uint8_t> raw;
  for (uint32_t v : {23u, 17u, 70u, 52u})
    for (int k = 0; k < 4; ++k) raw.push_back(uint8_t(v >> (8 * k)));
  for (int32_t y = 0; y < 17; ++y)
    for (int32_t x = 0; x < 23; ++x) {
      const uint8_t* p = src->PixelAddress(x, y);
      raw.insert(raw.end(), {p[2], p[1], p[0]});
    }
  test::WriteFileBytes(dir / "in.raw", raw);
  ASSERT_EQ(test::RunTool({test::kPython, std::string(KAV_SOURCE_DIR) + "/tests/VoRav/Graphics/tools/pil_resize.py",
                           (dir / "in.raw").string(), (dir / "out.raw").string()}),
            0);
  const std::vector<uint8_t> ref = test::ReadFileBytes(dir / "out.raw");
  ASSERT_EQ(ref.size(), size_t(70 * 52 * 3));
  int32_t worst = 0;
  for (int32_t y = 0; y < 52; ++y)
    for (int32_t x = 0; x < 70; ++x)
      for (int k = 0; k < 3; ++k)
      {
        const int32_t diff = std::abs(int32_t(out->PixelAddress(x, y)[2 - k]) - ref[size_t(y * 70 + x) * 3 + k]);
        if (diff > 2) ADD_FAILURE() << x << "," << y << " channel " << k << " differs by " << diff;
        worst = std::max(worst, diff);
      }
  EXPECT_LE(worst, 2);
}

TEST(Scaler, AlphaPicturesKeepAlphaOrLieOnTheBackground) {
  Ref<TSysBitmap> src = test::SmoothPicture(60, 40, F().A8R8G8B8);
  Ref<TImage> image = ImageFromBitmap(src.get(), false, u"a");
  // 32 bits: the existing 32-bit resize, transparent pixels take the
  // background colour with alpha 0.
  Ref<TFastDIB> dib = CreateFastDIBFromImage(image.get(), 30, 30, false, false, 0xFF112233u);
  ASSERT_TRUE(dib);
  Ref<TDibBitmap> out = View(dib.get());
  ASSERT_EQ(out->Width(), 30);
  ASSERT_EQ(out->Height(), 20);
  EXPECT_EQ(dib->BitCount(), 32);
  Ref<TSysBitmap> expect = Sys(30, 20, F().A8R8G8B8);
  ResizeBitmap32(expect.get(), src.get(), TRect{0, 0, 30, 20}, 0x00112233u, TRect{0, 0, 60, 40});
  EXPECT_TRUE(test::SamePixels(out.get(), expect.get()));
  EXPECT_EQ(Get32(out.get(), 0, 0), 0x00112233u);
  // 24 bits forced: on the opaque background.
  dib = CreateFastDIBFromImage(image.get(), 30, 30, true, false, 0xFF112233u);
  ASSERT_TRUE(dib);
  out = View(dib.get());
  EXPECT_EQ(dib->BitCount(), 24);
  EXPECT_EQ(Get24(out.get(), 1, 5), 0x112233u);
  // An opaque pixel halfway between four source pixels is their mean.
  const uint8_t* d = out->PixelAddress(29, 10);
  for (int k = 0; k < 3; ++k) {
    const double mean = (src->PixelAddress(58, 20)[k] + src->PixelAddress(59, 20)[k] + src->PixelAddress(58, 21)[k] +
                         src->PixelAddress(59, 21)[k]) / 4.0;
    EXPECT_NEAR(d[k], mean, 1.0) << k;
  }
}

}  // namespace
}  // namespace kav
