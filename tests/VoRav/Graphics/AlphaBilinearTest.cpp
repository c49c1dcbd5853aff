#include <gtest/gtest.h>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysBilinearUtils.h"
#include "VoRav/Graphics/SysBitmapAlphaUtils.h"
#include "VoRav/Graphics/SysPixelKernels.h"

using namespace kav;
using namespace kav::test;

TEST(AlphaRecovery, FromTwoBackgrounds) {
  const TColor32 fill = 0x11223344;
  Ref<TSysBitmap> black = Sys(4, 1, F().A8R8G8B8);
  Ref<TSysBitmap> white = Sys(4, 1, F().R8G8B8);
  Set32(black.get(), 0, 0, 0);
  Set24(white.get(), 0, 0, 0xFFFFFF);
  Set32(black.get(), 1, 0, 0x00643200);
  Set24(white.get(), 1, 0, 0x643200);
  Set32(black.get(), 2, 0, 0x00404040);
  Set24(white.get(), 2, 0, 0xBFBFBF);
  Set32(black.get(), 3, 0, 0x00404040);
  Set24(white.get(), 3, 0, 0xBFBFBF);
  AlphaFromTwoBackgrounds(black.get(), white.get(), 3, fill, 1);
  EXPECT_EQ(Get32(black.get(), 0, 0), fill);
  EXPECT_EQ(Get32(black.get(), 1, 0), 0xFF643200u);
  EXPECT_EQ(Get32(black.get(), 2, 0), 0x807F7F7Fu);
  EXPECT_EQ(Get32(black.get(), 3, 0), 0x00404040u);  // outside the given width
  MergeAlphaPlane(black.get(), white.get(), fill);
  EXPECT_EQ(Get32(black.get(), 3, 0), 0x807F7F7Fu);
  // Sizes beyond either bitmap are clipped.
  AlphaFromTwoBackgrounds(black.get(), Sys(2, 1, F().R8G8B8).get(), 100, fill, 100);
}

TEST(AlphaRecovery, UnpremultiplyAndPrepare) {
  Ref<TSysBitmap> b = Sys(3, 1, F().A8R8G8B8);
  Set32(b.get(), 0, 0, ColorRGBA(0, 32, 64, 128));
  Set32(b.get(), 1, 0, ColorRGBA(1, 2, 3, 0));
  Set32(b.get(), 2, 0, ColorRGBA(1, 2, 3, 255));
  UnpremultiplyBitmap(b.get(), 0xAABBCCDD);
  EXPECT_EQ(Get32(b.get(), 0, 0), ColorRGBA(0, 63, 127, 128));
  EXPECT_EQ(Get32(b.get(), 1, 0), 0xAABBCCDDu);
  EXPECT_EQ(Get32(b.get(), 2, 0), ColorRGBA(1, 2, 3, 255));

  Ref<TSysBitmap> zero = Sys(2, 2, F().A8R8G8B8);
  EXPECT_TRUE(PrepareAlphaForDisplay(zero.get(), 0xFF102030));
  EXPECT_EQ(Get32(zero.get(), 1, 1), 0xFF102030u);
  Ref<TSysBitmap> colour_only = Sys(2, 1, F().A8R8G8B8);
  Set32(colour_only.get(), 1, 0, 0x00010203);
  bool all_zero = true;
  EXPECT_FALSE(HasAlphaContent(colour_only.get(), all_zero));
  EXPECT_FALSE(all_zero);
  EXPECT_FALSE(PrepareAlphaForDisplay(colour_only.get(), 0xFF102030));
  EXPECT_EQ(Get32(colour_only.get(), 0, 0), 0u);
  Ref<TSysBitmap> alpha = Sys(2, 1, F().A8R8G8B8);
  Set32(alpha.get(), 1, 0, ColorRGBA(64, 0, 0, 128));
  EXPECT_TRUE(PrepareAlphaForDisplay(alpha.get(), 0xFF102030));
  EXPECT_EQ(Get32(alpha.get(), 0, 0), 0xFF102030u);
  EXPECT_EQ(Get32(alpha.get(), 1, 0), ColorRGBA(127, 0, 0, 128));
  EXPECT_THROW(UnpremultiplyBitmap(Sys(1, 1, F().R8G8B8).get(), 0), EAbort);
}

TEST(Bilinear, LinearMapAndRows) {
  TLinearMap map;
  BuildLinearMap(map, 3, 5);
  EXPECT_EQ(map, (TLinearMap{{0, 0}, {2, 0}, {3, 256}}));
  BuildLinearMap(map, 4, 1);
  EXPECT_EQ(map, (TLinearMap(4, TLinearMapEntry{0, 0})));
  BuildLinearMap(map, 3, 2);
  EXPECT_EQ(map, (TLinearMap{{0, 0}, {0, 128}, {0, 256}}));
  const uint8_t src[8] = {0, 10, 200, 255, 255, 20, 100, 0};
  uint8_t out[12];
  LerpRow32(out, src, map, 3);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12),
            (std::vector<uint8_t>{0, 10, 200, 255, 127, 15, 150, 127, 255, 20, 100, 0}));
  uint8_t fade[2];
  const uint8_t a[2] = {0, 255}, b[2] = {255, 0};
  CrossFadeRow(fade, a, b, 128, 2);
  EXPECT_EQ(fade[0], 127);  // 255 + floor(-255 * 128 / 256)
  EXPECT_EQ(fade[1], 127);
}

TEST(Bilinear, ResampleKeepsEdgesAndReadsInside) {
  auto info = [](TSysBitmap* b) {
    TBitmapRowInfo i;
    GetBitmapRowInfo(b, i);
    return i;
  };
  Ref<TSysBitmap> one = Sys(1, 1, F().A8R8G8B8);
  Set32(one.get(), 0, 0, 0x80402010);
  Ref<TSysBitmap> four = Sys(4, 4, F().A8R8G8B8);
  BilinearResample(info(one.get()), info(four.get()));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(Get32(four.get(), x, y), 0x80402010u);
  // Corners land on corners at any size; shapes of one row or column work.
  Ref<TSysBitmap> src = Sys(7, 5, F().A8R8G8B8);
  FillRandom(src.get(), 17);
  for (auto [w, h] : {std::pair{7, 5}, {3, 2}, {13, 11}, {1, 9}, {9, 1}, {1, 1}, {2, 2}}) {
    Ref<TSysBitmap> d = Sys(w, h, F().A8R8G8B8);
    BilinearResample(info(src.get()), info(d.get()));
    EXPECT_EQ(Get32(d.get(), 0, 0), Get32(src.get(), 0, 0)) << w << "x" << h;
    if (w > 1 && h > 1) {
      EXPECT_EQ(Get32(d.get(), w - 1, h - 1), Get32(src.get(), 6, 4)) << w << "x" << h;
    }
  }
  Ref<TSysBitmap> col = Sys(1, 3, F().A8R8G8B8), wide = Sys(5, 3, F().A8R8G8B8);
  FillRandom(col.get(), 3);
  BilinearResample(info(col.get()), info(wide.get()));
  EXPECT_EQ(Get32(wide.get(), 4, 2), Get32(col.get(), 0, 2));
  EXPECT_THROW(BilinearResample(info(Sys(2, 2, F().R8G8B8).get()), info(wide.get())), EAbort);
}

TEST(Bilinear, FastCrossFadeMatchesScalar) {
  std::vector<uint8_t> a = RandomBytes(1000, 1), b = RandomBytes(1000, 2);
  for (TSimdLevel level : {TSimdLevel::SSE2, TSimdLevel::AVX2}) {
    const TPixelKernels* k = PixelKernelsFor(level);
    if (!k) continue;
    for (int32_t w = 0; w <= 256; ++w) {
      for (size_t n : {size_t(0), size_t(15), size_t(33), size_t(1000)}) {
        std::vector<uint8_t> x(n), y(n);
        CrossFadeRow(x.data(), a.data(), b.data(), w, n);
        k->CrossFadeRow(y.data(), a.data(), b.data(), w, n);
        ASSERT_EQ(x, y) << "level " << int(level) << " weight " << w << " n " << n;
      }
    }
  }
}
