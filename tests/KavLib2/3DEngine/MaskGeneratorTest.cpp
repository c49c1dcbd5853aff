// Preset masks: keys both ways, shapes, hard and soft edges, and sizes from
// a show that are refused.
#include <gtest/gtest.h>

#include "KavLib2/3DEngine/MaskGenerator.h"

namespace kav {
namespace {

TEST(MaskGenerator, Keys) {
  TMaskDescription d;
  d.Width = 640;
  d.Height = 480;
  d.Shape = 1;
  d.Feather = 10;
  d.Corner = 12.5f;
  EXPECT_EQ(TMaskGenerator::MakeMaskKey(d), u"PresetedMask:640:480:1:10:12.5");
  TMaskDescription e;
  TMaskGenerator::ParseMaskKey(u"PresetedMask:640: 480:1:10:12.5", e);
  EXPECT_EQ(e.Width, 640);
  EXPECT_EQ(e.Height, 480);
  EXPECT_EQ(e.Shape, 1);
  EXPECT_FLOAT_EQ(e.Feather, 10);
  EXPECT_FLOAT_EQ(e.Corner, 12.5f);
  TMaskDescription kept = e;
  TMaskGenerator::ParseMaskKey(u"PresetedMask:", kept);
  EXPECT_EQ(kept.Width, 640);
  TMaskDescription bad;
  bad.Width = 3;
  TMaskGenerator::ParseMaskKey(u"PresetedMask:x:1e9:7:q:", bad);
  EXPECT_EQ(bad.Width, 512);
  EXPECT_EQ(bad.Height, 512);
  EXPECT_EQ(bad.Shape, 0);
  EXPECT_EQ(bad.Feather, 0);
  EXPECT_EQ(bad.Corner, 0);
}

TEST(MaskGenerator, EllipseEdges) {
  auto g = MakeRef<TMaskGenerator>();
  TMaskDescription d;
  d.Shape = 1;
  d.Width = 101;
  d.Height = 51;
  d.Feather = 0;
  Ref<TSysBitmap> b = g->Generate(d);
  ASSERT_TRUE(b);
  // Hard edge: centre.x = 50; inside white, outside black.
  EXPECT_EQ(b->Row(25)[50 * 3], 255);
  EXPECT_EQ(b->Row(25)[0], 255);  // C = 50 = B: on the edge counts as inside
  EXPECT_EQ(b->Row(0)[50 * 3], 255);
  EXPECT_EQ(b->Row(0)[0], 0);
  EXPECT_EQ(MaskRampLevel(0, 50, 49.9), 0);
  EXPECT_EQ(MaskRampLevel(0, 50, 50.1), 255);
  // 640 x 480, 10 percent: a feather of 24 pixels.
  d = TMaskDescription{1, 10, 0, 640, 480};
  b = g->Generate(d);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 640);
  const double cx = 319.5;
  EXPECT_EQ(b->Row(240)[320 * 3], 255);
  EXPECT_EQ(b->Row(240)[int(cx - 319.5) * 3], 0);  // x = 0: C = 319.5 = B: fully black
  EXPECT_EQ(b->Row(240)[26 * 3], 255);             // beyond the 24-pixel ramp: white
  const int mid = b->Row(240)[12 * 3];
  EXPECT_GT(mid, 60);
  EXPECT_LT(mid, 200);
}

TEST(MaskGenerator, RoundedRectangleAndProgress) {
  auto g = MakeRef<TMaskGenerator>();
  TMaskDescription d{0, 50, 20, 200, 100};
  Ref<TSysBitmap> b = g->Generate(d);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Row(50)[100 * 3], 255);
  EXPECT_EQ(b->Row(0)[100 * 3], 0);   // the border row is black
  EXPECT_EQ(b->Row(0)[0], 0);         // the corner too
  EXPECT_EQ(b->Row(50)[0], 0);
  EXPECT_EQ(b->Row(50)[15 * 3], 255);  // R = 10, A = 6: inside after the ramp
  // Stopped after the third row: the rest stays black.
  int rows = 0;
  struct TStop : TRefObject {
    int* n;
    void On(TMaskGenerator*, bool& stop) { stop = ++*n == 3; }
  };
  auto s = MakeRef<TStop>();
  s->n = &rows;
  g->OnProgress = TDelegate<void(TMaskGenerator*, bool&)>::Bind<&TStop::On>(s.get());
  b = g->Generate(d);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(b->Row(50)[100 * 3], 0);
}

TEST(MaskGenerator, SizesAreChecked) {
  auto g = MakeRef<TMaskGenerator>();
  EXPECT_FALSE(g->Generate(TMaskDescription{0, 0, 0, 0, 10}));
  EXPECT_FALSE(g->Generate(TMaskDescription{0, 0, 0, -5, 10}));
  EXPECT_FALSE(g->Generate(TMaskDescription{0, 0, 0, 100000, 100000}));
  EXPECT_FALSE(g->Generate(TMaskDescription{2, 0, 0, 10, 10}));
  EXPECT_TRUE(g->Generate(TMaskDescription{0, 0, 0, 1, 1}));
}

}  // namespace
}  // namespace kav
