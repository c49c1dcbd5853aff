#include <gtest/gtest.h>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxBitmapUtils.h"

namespace kav {
namespace {

using test::F;
using test::Get24;
using test::Get32;
using test::Set32;
using test::Sys;

Ref<TSysBitmap> Filled(int32_t w, int32_t h, TPixelFormat* f, TColor32 c) {
  Ref<TSysBitmap> b = Sys(w, h, f);
  b->FillRect(TRect{0, 0, w, h}, c);
  return b;
}

Ref<TImage> ImageOf(TSysBitmap* b) { return ImageFromBitmap(b, false, u"test"); }

TEST(BitmapUtils, BlendOnto24ByAlpha) {
  Ref<TSysBitmap> t = Filled(3, 1, F().R8G8B8, 0xFF204080u);
  Ref<TSysBitmap> s = Sys(3, 1, F().A8R8G8B8);
  Set32(s.get(), 0, 0, 0x00FFFFFFu);
  Set32(s.get(), 1, 0, 0xFF102030u);
  Set32(s.get(), 2, 0, 0x80000000u);
  BlendImageOnto24(t.get(), s.get(), TRect{0, 0, 3, 1}, TPoint{0, 0});
  EXPECT_EQ(Get24(t.get(), 0, 0), 0x204080u);  // alpha 0: unchanged
  for (int k = 0; k < 3; ++k)  // alpha 255: the source colour within rounding
    EXPECT_NEAR(t->PixelAddress(1, 0)[k], s->PixelAddress(1, 0)[k], 1);
  // alpha 128 toward black: t + (0 - t) x 128 / 256, rounding toward zero.
  EXPECT_EQ(Get24(t.get(), 2, 0), 0x102040u);
  EXPECT_ABORT_WITH(BlendImageOnto24(s.get(), s.get(), TRect{0, 0, 1, 1}, TPoint{}), "Assertion");
}

TEST(BitmapUtils, FillsAndFramesAreClipped) {
  Ref<TSysBitmap> b = Filled(6, 6, F().R8G8B8, 0);
  TRect r{1, 1, 5, 5};
  FillRectClipped(b.get(), r, TRect{3, 0, 10, 2}, 0xFFFFFFFFu);
  EXPECT_EQ(r, (TRect{3, 1, 5, 2}));
  EXPECT_EQ(Get24(b.get(), 3, 1), 0xFFFFFFu);
  EXPECT_EQ(Get24(b.get(), 2, 1), 0u);
  TRect none{1, 1, 2, 2};
  FillRectClipped(b.get(), none, TRect{4, 4, 6, 6}, 0xFFFFFFFFu);
  EXPECT_EQ(none, TRect{});

  b = Filled(6, 6, F().R8G8B8, 0);
  FrameRectEdges(b.get(), TRect{0, 0, 5, 5}, 0xFF0000FFu, TRect{0, 0, 6, 4}, 0xFF00FF00u);
  EXPECT_EQ(Get24(b.get(), 2, 0), 0x0000FFu);
  EXPECT_EQ(Get24(b.get(), 0, 2), 0x0000FFu);
  EXPECT_EQ(Get24(b.get(), 4, 2), 0x00FF00u);
  EXPECT_EQ(Get24(b.get(), 4, 0), 0x00FF00u);  // the right edge drawn last
  EXPECT_EQ(Get24(b.get(), 2, 4), 0u);         // bottom edge clipped away
  EXPECT_EQ(Get24(b.get(), 2, 2), 0u);
}

TEST(BitmapUtils, TilesAndPatternFrame) {
  // A 2 x 1 tile black | white; the grid anchored right of the rectangle
  // still starts at or left of its left edge.
  Ref<TSysBitmap> tile = Sys(2, 1, F().R8G8B8);
  test::Set24(tile.get(), 1, 0, 0xFFFFFF);
  Ref<TImage> image = ImageOf(tile.get());
  Ref<TSysBitmap> b = Filled(8, 2, F().R8G8B8, 0xFF808080u);
  TileImageStore(b.get(), TRect{1, 0, 8, 2}, image.get(), TPoint{5, 0});
  EXPECT_EQ(Get24(b.get(), 0, 0), 0x808080u);
  // Tiles at x = 1, 3, 5, 7 (the grid of origin 5 reaches back to 1).
  for (int32_t x = 1; x < 8; ++x) EXPECT_EQ(Get24(b.get(), x, 1), (x % 2) ? 0u : 0xFFFFFFu) << x;

  // A 32-bit tile with alpha blends onto a 24-bit target, copies onto a 32-bit one.
  Ref<TSysBitmap> a = Filled(1, 1, F().A8R8G8B8, 0x80FFFFFFu);
  Ref<TImage> ai = ImageOf(a.get());
  Ref<TSysBitmap> t24 = Filled(2, 1, F().R8G8B8, 0xFF000000u);
  TileImageStore(t24.get(), TRect{0, 0, 2, 1}, ai.get(), TPoint{0, 0});
  EXPECT_EQ(Get24(t24.get(), 1, 0), 0x7F7F7Fu);
  Ref<TSysBitmap> t32 = Filled(2, 1, F().A8R8G8B8, 0xFF000000u);
  TileImageStore(t32.get(), TRect{0, 0, 2, 1}, ai.get(), TPoint{0, 0});
  EXPECT_EQ(Get32(t32.get(), 1, 0), 0x80FFFFFFu);

  // A dotted frame: the pattern runs from the rectangle's corner.
  b = Filled(8, 8, F().R8G8B8, 0xFF808080u);
  FrameRectWithImage(b.get(), image.get(), TRect{1, 1, 7, 7}, TRect{0, 0, 8, 8});
  EXPECT_EQ(Get24(b.get(), 1, 1), 0u);
  EXPECT_EQ(Get24(b.get(), 2, 1), 0xFFFFFFu);
  EXPECT_EQ(Get24(b.get(), 6, 6), 0xFFFFFFu);
  EXPECT_EQ(Get24(b.get(), 1, 4), 0u);
  EXPECT_EQ(Get24(b.get(), 3, 3), 0x808080u);
  EXPECT_EQ(Get24(b.get(), 7, 7), 0x808080u);
}

TEST(BitmapUtils, HitTestFollowsAlpha) {
  Ref<TSysBitmap> a = Filled(4, 4, F().A8R8G8B8, 0xFF000000u);
  Set32(a.get(), 2, 1, 0x00FFFFFFu);
  Ref<TImage> ai = ImageOf(a.get());
  EXPECT_TRUE(ImageHitTest(ai.get(), 1, 1));
  EXPECT_FALSE(ImageHitTest(ai.get(), 2, 1));
  EXPECT_FALSE(ImageHitTest(ai.get(), 4, 0));
  EXPECT_FALSE(ImageHitTest(ai.get(), -1, 0));
  EXPECT_FALSE(ImageHitTest(nullptr, 0, 0));
  Ref<TSysBitmap> rgb = Filled(2, 2, F().R8G8B8, 0);
  EXPECT_TRUE(ImageHitTest(ImageOf(rgb.get()).get(), 1, 1));
}

TEST(ImageAnimator, PhasesShapesAndResult) {
  Ref<TImageAnimator> an = MakeRef<TImageAnimator>();
  EXPECT_ABORT_WITH(an->SetPhase(0), "TImageAnimator.SetPhase: Images not Set");
  EXPECT_ABORT_WITH(an->SetImage(2, nullptr, false, {}), "TImageAnimator.SetImage: Index must be in [0,1]");
  Ref<TSysBitmap> red = Filled(2, 2, F().A8R8G8B8, 0xFFFF0000u);
  Ref<TSysBitmap> blue = Filled(2, 2, F().A8R8G8B8, 0xFF0000FFu);
  an->SetImage(0, ImageOf(red.get()).get(), false, TPoint{0, 0});
  an->SetImage(1, ImageOf(blue.get()).get(), true, TPoint{1, 1});
  an->SetPhase(0);
  ASSERT_TRUE(an->Result());
  EXPECT_EQ(an->Result()->Width(), 3);
  EXPECT_EQ(Get32(an->Result(), 1, 1), 0xFFFF0000u);
  EXPECT_EQ(Get32(an->Result(), 2, 2), 0u);
  an->SetPhase(1);
  EXPECT_EQ(Get32(an->Result(), 1, 1), 0xFF0000FFu);
  EXPECT_EQ(Get32(an->Result(), 0, 0), 0u);
  an->SetPhase(0.5);  // each half: 255 x 128 >> 8 = 127, alpha 127 + 127
  EXPECT_EQ(Get32(an->Result(), 1, 1), 0xFE7F007Fu);
  an->SetPhase(7);  // clamped to 1
  EXPECT_EQ(Get32(an->Result(), 1, 1), 0xFF0000FFu);

  an->SetPingPong(true);
  EXPECT_DOUBLE_EQ(an->ShapePhase(0.5), 1.0);
  EXPECT_DOUBLE_EQ(an->ShapePhase(1.0), 0.0);
  EXPECT_DOUBLE_EQ(an->ShapePhase(0.25), 0.5);
  EXPECT_DOUBLE_EQ(an->ShapePhase(2.75), 0.5);
  EXPECT_DOUBLE_EQ(an->ShapePhase(-3), 0.0);
  an->SetPingPong(false);
  an->SetEase(true);
  EXPECT_DOUBLE_EQ(an->ShapePhase(0.5), 0.5);
  EXPECT_DOUBLE_EQ(an->ShapePhase(0.25), 0.125);
  EXPECT_DOUBLE_EQ(an->ShapePhase(0.75), 0.875);

  Ref<TBitmapStore> store = an->CreateResultStore();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Width(), 3);
  Ref<TBitmap> level = store->GetMipLevel(0, F().A8R8G8B8);
  ASSERT_TRUE(level);
  uint32_t px = 0;
  level->GetPixels32(1, 1, 1, std::span<uint32_t>(&px, 1), 0);
  EXPECT_EQ(px, Get32(an->Result(), 1, 1));
}

}  // namespace
}  // namespace kav
