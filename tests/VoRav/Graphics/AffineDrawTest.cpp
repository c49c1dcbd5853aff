#include <gtest/gtest.h>

#include <cmath>

#include "DrawTestUtil.h"
#include "DumpPpm.h"
#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysAffineDraw.h"

namespace kav {
namespace {

using test::F;
using test::Get24;
using test::Sys;

TEST(AffineFixed, Conversions) {
  EXPECT_EQ(FloatToFixed(1.0f), 65536);
  EXPECT_EQ(FloatToFixed(0.5f), 32768);
  EXPECT_EQ(FloatToFixed(-1.0f), -65536);
  EXPECT_EQ(FloatToFixed(1e20f), INT32_MAX);
  EXPECT_EQ(FloatToFixed(-1e20f), INT32_MIN);
  EXPECT_EQ(FloatToFixed(std::nanf("")), 0);
  EXPECT_FLOAT_EQ(FixedToFloat(98304), 1.5f);
  int32_t x, y;
  FloatPointToFixed(TFloatPoint{2, -0.25f}, x, y);
  EXPECT_EQ(x, 131072);
  EXPECT_EQ(y, -16384);
}

TEST(AffineEdges, RunsOfPlacedRectangles) {
  TAffineEdges rec;
  EXPECT_FALSE(AffineEdgesFromRect(rec, 10, 10, {0, 0}, {1, 1}, {2, 2}));  // parallel axes
  EXPECT_FALSE(AffineEdgesFromRect(rec, 10, 10, {0, 0}, {1e30f, 0}, {0, 1}));

  ASSERT_TRUE(AffineEdgesFromRect(rec, 8, 4, {2, 3}, {1, 0}, {0, 1}));
  EXPECT_EQ(rec.Bounds, (TRect{2, 3, 10, 7}));
  int32_t l = -1, r = -1;
  EXPECT_FALSE(FindIntervalLine(rec, 2, l, r));
  EXPECT_FALSE(FindIntervalLine(rec, 7, l, r));
  ASSERT_TRUE(FindIntervalLine(rec, 5, l, r));
  EXPECT_EQ(l, 2);
  EXPECT_EQ(r, 9);

  // A square turned by 45 degrees: runs widen by about two pixels per row
  // to the middle, then narrow.
  const float c = float(std::sqrt(0.5));
  ASSERT_TRUE(AffineEdgesFromRect(rec, 20, 20, {50, 10}, {c, c}, {-c, c}));
  int32_t prev = -1;
  for (int32_t y = 11; y < 38; ++y) {
    ASSERT_TRUE(FindIntervalLine(rec, y, l, r));
    const int32_t width = r - l + 1;
    if (y > 11 && y < 23) {
      EXPECT_EQ(width - prev, 2) << y;
    }
    if (y > 27) {
      EXPECT_EQ(width - prev, -2) << y;
    }
    prev = width;
  }
}

// A source of distinct pixels: blue = x, green = y, red = x ^ y.
Ref<TSysBitmap> Pattern(int32_t w, int32_t h, TPixelFormat* f, uint8_t alpha = 255) {
  Ref<TSysBitmap> b = Sys(w, h, f);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = b->PixelAddress(x, y);
      p[0] = uint8_t(x * 7);
      p[1] = uint8_t(y * 5);
      p[2] = uint8_t((x ^ y) * 3);
      if (b->BytesPerPixel() == 4) p[3] = alpha;
    }
  return b;
}

const TRect kNoClip{0, 0, INT32_MAX, INT32_MAX};

TEST(AffineDraw, IdentityCopiesPixelsNearestAndBilinear) {
  Ref<TSysBitmap> src = Pattern(13, 9, F().R8G8B8);
  TAffineEdges rec;
  ASSERT_TRUE(AffineEdgesFromRect(rec, 13, 9, {3, 2}, {1, 0}, {0, 1}));
  for (bool bilinear : {false, true}) {
    Ref<TSysBitmap> t = test::Canvas24(20, 16, 0x123456);
    ASSERT_TRUE(bilinear ? AffineDrawBilinear(rec, t.get(), src.get(), 255, kNoClip)
                         : AffineDrawNearest(rec, t.get(), src.get(), 255, kNoClip));
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 20; ++x) {
        const bool in = x >= 3 && x < 16 && y >= 2 && y < 11;
        EXPECT_EQ(Get24(t.get(), x, y), in ? Get24(src.get(), x - 3, y - 2) : 0x123456u) << x << "," << y;
      }
  }
}

TEST(AffineDraw, RotatedAndScaledRectanglesStayInsideTheirPlacement) {
  // Every pixel whose centre lies inside the placed rectangle is drawn, and
  // none outside (pixels within 1/1000 of a pixel of an edge may go either way).
  Ref<TSysBitmap> src = test::Canvas24(17, 11, 0xFFFFFF);
  for (double angle : {0.0, 0.3, 0.785398, 1.2, 2.5, 4.0}) {
    for (double scale : {0.7, 1.0, 2.3}) {
      SCOPED_TRACE(testing::Message() << "angle " << angle << " scale " << scale);
      const TFloatPoint ax{float(std::cos(angle) * scale), float(std::sin(angle) * scale)};
      const TFloatPoint ay{float(-std::sin(angle) * scale), float(std::cos(angle) * scale)};
      const TFloatPoint origin{40.3f, 37.8f};
      TAffineEdges rec;
      ASSERT_TRUE(AffineEdgesFromRect(rec, 17, 11, origin, ax, ay));
      for (bool bilinear : {false, true}) {
        Ref<TSysBitmap> t = test::Canvas24(80, 80, 0);
        ASSERT_TRUE(bilinear ? AffineDrawBilinear(rec, t.get(), src.get(), 255, kNoClip)
                             : AffineDrawNearest(rec, t.get(), src.get(), 255, kNoClip));
        const double det = double(ax.x) * ay.y - double(ax.y) * ay.x;
        int32_t wrong = 0;
        for (int32_t y = 0; y < 80; ++y)
          for (int32_t x = 0; x < 80; ++x) {
            const double wx = x + 0.5 - origin.x, wy = y + 0.5 - origin.y;
            const double u = (double(ay.y) * wx - double(ay.x) * wy) / det;
            const double v = (double(ax.x) * wy - double(ax.y) * wx) / det;
            const double margin = std::min({std::fabs(u), std::fabs(u - 17), std::fabs(v), std::fabs(v - 11)});
            if (margin < 1e-3) continue;
            const bool in = u > 0 && u < 17 && v > 0 && v < 11;
            if ((Get24(t.get(), x, y) == 0xFFFFFF) != in) ++wrong;
          }
        EXPECT_EQ(wrong, 0) << (bilinear ? "bilinear" : "nearest");
      }
    }
  }
}

TEST(AffineDraw, OpacityAlphaAndClip) {
  TAffineEdges rec;
  ASSERT_TRUE(AffineEdgesFromRect(rec, 4, 4, {0, 0}, {1, 0}, {0, 1}));
  Ref<TSysBitmap> white = test::Canvas24(4, 4, 0xFFFFFF);
  Ref<TSysBitmap> t = test::Canvas24(4, 4, 0x000000);
  ASSERT_TRUE(AffineDrawNearest(rec, t.get(), white.get(), 0, kNoClip));
  EXPECT_EQ(Get24(t.get(), 1, 1), 0u);
  ASSERT_TRUE(AffineDrawNearest(rec, t.get(), white.get(), 128, kNoClip));
  EXPECT_EQ(Get24(t.get(), 1, 1), 0x7F7F7Fu);  // 255 x 128 / 256
  t = test::Canvas24(4, 4, 0x000000);
  ASSERT_TRUE(AffineDrawNearest(rec, t.get(), white.get(), 300, TRect{1, 1, 3, 2}));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(Get24(t.get(), x, y), (y == 1 && (x == 1 || x == 2)) ? 0xFFFFFFu : 0u);

  // A 32-bit source with alpha 64: d += (s - d) x 64 x 256 / 65536.
  Ref<TSysBitmap> a32 = Sys(4, 4, F().A8R8G8B8);
  a32->FillRect(TRect{0, 0, 4, 4}, 0x40FFFFFFu);
  for (bool bilinear : {false, true}) {
    t = test::Canvas24(4, 4, 0x000000);
    ASSERT_TRUE(bilinear ? AffineDrawBilinear(rec, t.get(), a32.get(), 255, kNoClip)
                         : AffineDrawNearest(rec, t.get(), a32.get(), 255, kNoClip));
    EXPECT_EQ(Get24(t.get(), 2, 2), 0x3F3F3Fu);
    t = test::Canvas24(4, 4, 0x000000);
    ASSERT_TRUE(bilinear ? AffineDrawBilinear(rec, t.get(), a32.get(), 128, kNoClip)
                         : AffineDrawNearest(rec, t.get(), a32.get(), 128, kNoClip));
    EXPECT_EQ(Get24(t.get(), 2, 2), 0x1F1F1Fu);  // 255 x 64 x 128 / 65536
  }
}

TEST(AffineDraw, BilinearInterpolatesBetweenPixels) {
  // A 2 x 1 source black | white scaled to 8 x 1: a ramp between the
  // centres, clamped at both ends.
  Ref<TSysBitmap> src = Sys(2, 1, F().R8G8B8);
  test::Set24(src.get(), 0, 0, 0);
  test::Set24(src.get(), 1, 0, 0xFFFFFF);
  TAffineEdges rec;
  ASSERT_TRUE(AffineEdgesFromRect(rec, 2, 1, {0, 0}, {4, 0}, {0, 1}));
  Ref<TSysBitmap> t = test::Canvas24(8, 1, 0x808080);
  ASSERT_TRUE(AffineDrawBilinear(rec, t.get(), src.get(), 255, kNoClip));
  for (int32_t x = 0; x < 8; ++x) {
    const double u = (x + 0.5) / 4 - 0.5;
    const double expect = 255 * std::clamp(u, 0.0, 1.0);
    EXPECT_NEAR(double(t->PixelAddress(x, 0)[0]), expect, 1.0) << x;
  }
}

TEST(AffineDraw, RotatedPatternForALook) {
  // A 32 x 24 pattern turned by 30 degrees and scaled by 3, both samplers
  // side by side (KAV_DUMP_DIR=<folder> writes it).
  Ref<TSysBitmap> src = Pattern(32, 24, F().R8G8B8);
  Ref<TSysBitmap> t = test::Canvas24(260, 130, 0x204060);
  const double a = 0.5236;
  TAffineEdges rec;
  ASSERT_TRUE(AffineEdgesFromRect(rec, 32, 24, {40, 2}, {float(3 * std::cos(a)), float(3 * std::sin(a))},
                                  {float(-3 * std::sin(a)), float(3 * std::cos(a))}));
  ASSERT_TRUE(AffineDrawNearest(rec, t.get(), src.get(), 255, kNoClip));
  ASSERT_TRUE(AffineEdgesFromRect(rec, 32, 24, {170, 2}, {float(3 * std::cos(a)), float(3 * std::sin(a))},
                                  {float(-3 * std::sin(a)), float(3 * std::cos(a))}));
  ASSERT_TRUE(AffineDrawBilinear(rec, t.get(), src.get(), 200, kNoClip));
  test::DumpPpm("affine_rotated", t.get());
  EXPECT_EQ(Get24(t.get(), 0, 129), 0x204060u);
}

TEST(AffineDraw, ImpossibleRequestsDrawNothing) {
  TAffineEdges rec;
  ASSERT_TRUE(AffineEdgesFromRect(rec, 8, 8, {0, 0}, {1, 0}, {0, 1}));
  Ref<TSysBitmap> small = Pattern(4, 8, F().R8G8B8);
  Ref<TSysBitmap> grey = Sys(8, 8, F().Y8);
  Ref<TSysBitmap> t = test::Canvas24(8, 8, 0x010203);
  Ref<TSysBitmap> t32 = Sys(8, 8, F().A8R8G8B8);
  Ref<TSysBitmap> ok = Pattern(8, 8, F().R8G8B8);
  for (bool bilinear : {false, true}) {
    auto draw = [&](TSysBitmap* target, TSysBitmap* source) {
      return bilinear ? AffineDrawBilinear(rec, target, source, 255, kNoClip)
                      : AffineDrawNearest(rec, target, source, 255, kNoClip);
    };
    EXPECT_FALSE(draw(t.get(), small.get()));
    EXPECT_FALSE(draw(t.get(), grey.get()));
    EXPECT_FALSE(draw(t32.get(), ok.get()));
    EXPECT_FALSE(draw(nullptr, ok.get()));
  }
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(Get24(t.get(), x, y), 0x010203u);
}

}  // namespace
}  // namespace kav
