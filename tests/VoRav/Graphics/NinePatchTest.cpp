#include <gtest/gtest.h>

#include "DumpPpm.h"
#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/vxNinePatchUtils.h"

namespace kav {
namespace {

using test::F;
using test::Get32;
using test::Set32;
using test::Sys;

// A skin of distinct opaque pixels.
Ref<TSysBitmap> Skin(int32_t w, int32_t h) {
  Ref<TSysBitmap> b = Sys(w, h, F().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) Set32(b.get(), x, y, ColorRGBA(uint8_t(x * 20), uint8_t(y * 20), 99, 255));
  return b;
}

const TRect kAll{0, 0, 10000, 10000};

TEST(NinePatch, AxisSplitShrinksBordersThatDoNotFit) {
  TNinePatch p;
  p.Left = p.Top = p.Right = p.Bottom = 8;
  const TRect r{0, 0, 10, 10};
  EXPECT_EQ(NinePatchMapRect(0, 0, r, p), (TRect{0, 0, 5, 5}));
  EXPECT_EQ(NinePatchMapRect(2, 2, r, p), (TRect{5, 5, 10, 10}));
  EXPECT_TRUE(NinePatchMapRect(1, 1, r, p).IsEmpty());
  p.Left = 2;
  p.Right = 3;
  EXPECT_EQ(NinePatchMapCoord(1, 10, 30, 3, 2), 12);
  EXPECT_EQ(NinePatchMapCoord(2, 10, 30, 3, 2), 27);
  EXPECT_EQ(NinePatchMapRect(1, 0, TRect{10, 0, 30, 10}, p).Left, 12);
}

TEST(NinePatch, OwnSizeReproducesTheSkinAndCornersStayExact) {
  Ref<TSysBitmap> skin = Skin(9, 7);
  TNinePatch p;
  NinePatchAssign(p, skin.get(), 3, 2, 2, 3);
  ASSERT_TRUE(p.Bitmap);
  EXPECT_EQ(p.Frame, (TRect{0, 0, 9, 7}));
  EXPECT_EQ(p.Flags, 0u);
  Ref<TSysBitmap> t = Sys(9, 7, F().A8R8G8B8);
  DrawNinePatchAt(t.get(), kAll, p);
  EXPECT_TRUE(test::SamePixels(t.get(), skin.get()));

  // Stretched to 60 x 40 at (5, 4): each corner is the skin's corner.
  t = Sys(70, 50, F().A8R8G8B8);
  DrawNinePatch(t.get(), kAll, TRect{5, 4, 65, 44}, p);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(Get32(t.get(), 5 + x, 4 + y), Get32(skin.get(), x, y));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 2; ++x)
      EXPECT_EQ(Get32(t.get(), 63 + x, 41 + y), Get32(skin.get(), 7 + x, 4 + y)) << x << "," << y;
  // Edges stretch along one axis only: the top edge's rows keep the skin's rows.
  for (int32_t x = 8; x < 63; ++x) EXPECT_EQ(ColorGreen(Get32(t.get(), x, 5)), 20);
  EXPECT_EQ(Get32(t.get(), 4, 4), 0u);
  EXPECT_EQ(Get32(t.get(), 65, 20), 0u);
  test::DumpPpm("ninepatch_stretched", t.get());
}

TEST(NinePatch, BilinearMiddleFollowsTheFormula) {
  // Middle column pair 40 | 140 (blue) stretched over 11 pixels: the ramp
  // 40 + 100 x i / 10 within the rounding of the 16-bit weights.
  Ref<TSysBitmap> skin = Sys(4, 3, F().A8R8G8B8);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 4; ++x) Set32(skin.get(), x, y, ColorRGBA(0, 0, x == 2 ? 140 : 40, 255));
  TNinePatch p;
  NinePatchAssign(p, skin.get(), 1, 1, 1, 1);
  Ref<TSysBitmap> t = Sys(13, 3, F().A8R8G8B8);
  DrawNinePatch(t.get(), kAll, TRect{0, 0, 13, 3}, p);
  for (int32_t i = 0; i < 11; ++i) EXPECT_NEAR(ColorBlue(Get32(t.get(), 1 + i, 1)), 40 + 100.0 * i / 10, 1) << i;

  // A one-pixel middle column repeats over 100 pixels.
  Ref<TSysBitmap> thin = Skin(3, 3);
  NinePatchAssign(p, thin.get(), 1, 1, 1, 1);
  t = Sys(102, 3, F().A8R8G8B8);
  DrawNinePatch(t.get(), kAll, TRect{0, 0, 102, 3}, p);
  for (int32_t x = 1; x < 101; ++x) EXPECT_EQ(Get32(t.get(), x, 1), Get32(thin.get(), 1, 1)) << x;
}

TEST(NinePatch, UniformMiddleAndClip) {
  Ref<TSysBitmap> skin = Sys(5, 5, F().A8R8G8B8);
  skin->FillRect(TRect{0, 0, 5, 5}, 0xFFFF0000u);
  skin->FillRect(TRect{1, 1, 4, 4}, 0x00000000u);
  TNinePatch p;
  NinePatchAssign(p, skin.get(), 1, 1, 1, 1);
  EXPECT_EQ(p.Flags, kNinePatchUniformMiddle);
  Ref<TSysBitmap> t = Sys(20, 20, F().A8R8G8B8);
  t->FillRect(TRect{0, 0, 20, 20}, 0xFF00FF00u);
  DrawNinePatch(t.get(), TRect{0, 0, 20, 10}, TRect{0, 0, 20, 20}, p);
  EXPECT_EQ(Get32(t.get(), 10, 5), 0xFF00FF00u);   // transparent middle: untouched
  EXPECT_EQ(Get32(t.get(), 0, 5), 0xFFFF0000u);    // left edge
  EXPECT_EQ(Get32(t.get(), 0, 15), 0xFF00FF00u);   // clipped
  skin->FillRect(TRect{1, 1, 4, 4}, 0x800000FFu);  // half-transparent middle blends
  NinePatchAssign(p, skin.get(), 1, 1, 1, 1);
  DrawNinePatch(t.get(), kAll, TRect{0, 0, 20, 20}, p);
  EXPECT_EQ(Get32(t.get(), 10, 10), BlendPixelOver(0xFF00FF00u, 0x800000FFu));
}

TEST(NinePatch, HostileAssignmentsStayInside) {
  Ref<TSysBitmap> skin = Skin(6, 6);
  TNinePatch p;
  NinePatchAssignArea(p, skin.get(), TRect{4, 4, 40, 40}, -5, -5, 100, 100);
  ASSERT_TRUE(p.Bitmap);
  EXPECT_EQ(p.Frame, (TRect{0, 0, 2, 2}));
  EXPECT_EQ(p.Left, 0);
  Ref<TSysBitmap> t = Sys(30, 30, F().A8R8G8B8);
  DrawNinePatch(t.get(), kAll, TRect{-10, -10, 1000000, 1000000}, p);
  NinePatchAssignArea(p, skin.get(), TRect{10, 10, 20, 20}, 1, 1, 1, 1);
  EXPECT_FALSE(p.Bitmap);
  DrawNinePatch(t.get(), kAll, TRect{0, 0, 30, 30}, p);  // draws nothing
  NinePatchClear(p);
  EXPECT_EQ(p.Frame, TRect{});
  Ref<TSysBitmap> rgb = Sys(4, 4, F().R8G8B8);
  NinePatchAssign(p, skin.get(), 1, 1, 1, 1);
  EXPECT_ABORT_WITH(DrawNinePatch(rgb.get(), kAll, TRect{0, 0, 4, 4}, p), "Assertion");
}

}  // namespace
}  // namespace kav
