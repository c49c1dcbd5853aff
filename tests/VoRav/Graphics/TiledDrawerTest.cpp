#include <gtest/gtest.h>

#include <cmath>

#include "DrawTestUtil.h"
#include "DumpPpm.h"
#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysAffineDrawer.h"

namespace kav {
namespace {

using test::F;
using test::Get24;
using test::Sys;

struct TPlacement {
  TFloatPoint Origin, AxisX, AxisY;
};

Ref<TSysBitmap> DrawTiled(TSysBitmap* src, const TPlacement& p, int32_t tw, int32_t th, int32_t opacity,
                          int32_t w = 120, int32_t h = 100) {
  Ref<TSysBitmap> t = test::Canvas24(w, h, 0x303030);
  Ref<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(tw, th);
  d->SetOpacity(opacity);
  d->SetImage(src, false);
  EXPECT_TRUE(d->SetPlacement(TRect{0, 0, w, h}, p.Origin, p.AxisX, p.AxisY));
  EXPECT_TRUE(d->Draw(t.get()));
  return t;
}

// The source position of a target pixel centre, in double precision.
void SourcePos(const TPlacement& p, int32_t x, int32_t y, double& u, double& v) {
  const double det = double(p.AxisX.x) * p.AxisY.y - double(p.AxisX.y) * p.AxisY.x;
  const double wx = x + 0.5 - p.Origin.x, wy = y + 0.5 - p.Origin.y;
  u = (double(p.AxisY.y) * wx - double(p.AxisY.x) * wy) / det;
  v = (double(p.AxisX.x) * wy - double(p.AxisX.y) * wx) / det;
}

// Pixels whose centre maps within 1/100 pixel of the source's border may
// be drawn or not, by the rounding of the fixed-point steps.
bool NearBorder(TSysBitmap* src, const TPlacement& p, int32_t x, int32_t y) {
  double u, v;
  SourcePos(p, x, y, u, v);
  return std::min({std::fabs(u), std::fabs(v), std::fabs(u - src->Width()), std::fabs(v - src->Height())}) < 0.01;
}

// The expected bilinear colour of one target pixel in double precision
// (centre-aligned, neighbours clamped), or -1 outside the source.
double Reference(TSysBitmap* src, const TPlacement& p, int32_t x, int32_t y, int k) {
  double u, v;
  SourcePos(p, x, y, u, v);
  if (u < 0 || v < 0 || u >= src->Width() || v >= src->Height()) return -1;
  const double su = u - 0.5, sv = v - 0.5;
  const double fu = su - std::floor(su), fv = sv - std::floor(sv);
  auto px = [&](int64_t i, int64_t j) {
    i = std::clamp<int64_t>(i, 0, src->Width() - 1);
    j = std::clamp<int64_t>(j, 0, src->Height() - 1);
    return double(src->PixelAddress(int32_t(i), int32_t(j))[k]);
  };
  const int64_t i0 = int64_t(std::floor(su)), j0 = int64_t(std::floor(sv));
  return (px(i0, j0) * (1 - fu) + px(i0 + 1, j0) * fu) * (1 - fv) +
         (px(i0, j0 + 1) * (1 - fu) + px(i0 + 1, j0 + 1) * fu) * fv;
}

const TPlacement kPlacements[] = {
    {{10, 8}, {1, 0}, {0, 1}},                     // 1:1
    {{3.5f, 2.25f}, {2.7f, 0}, {0, 1.9f}},          // enlarged
    {{60, 4}, {0.9f, 0.6f}, {-0.6f, 0.9f}},         // rotated and scaled
    {{5, 5}, {0.37f, 0}, {0, 0.41f}},              // reduced
};

TEST(TiledDrawer, MatchesBilinearReferenceWithoutSeams) {
  Ref<TSysBitmap> src = test::SmoothPicture(40, 30, F().R8G8B8);
  int n = 0;
  for (const TPlacement& p : kPlacements) {
    SCOPED_TRACE(n);
    Ref<TSysBitmap> big = DrawTiled(src.get(), p, 8, 8, 255);
    test::DumpPpm("tiled_" + std::to_string(n++), big.get());
    // Other tile sizes draw the same picture (the per-tile start positions
    // differ from stepping by at most rounding).
    for (auto [tw, th] : {std::pair{1, 1}, std::pair{3, 5}, std::pair{64, 64}}) {
      Ref<TSysBitmap> other = DrawTiled(src.get(), p, tw, th, 255);
      int32_t worst = 0;
      for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 120; ++x)
          for (int k = 0; k < 3 && !NearBorder(src.get(), p, x, y); ++k)
            worst = std::max(worst, std::abs(big->PixelAddress(x, y)[k] - other->PixelAddress(x, y)[k]));
      EXPECT_LE(worst, 1) << tw << "x" << th;
    }
    // Against the reference: inside the placement within 2, outside untouched
    // (pixels whose centre is within 1/100 pixel of the border may go either way).
    int32_t worst = 0, outside = 0;
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 120; ++x) {
        if (NearBorder(src.get(), p, x, y)) continue;
        if (Reference(src.get(), p, x, y, 0) < 0) {
          if (Get24(big.get(), x, y) != 0x303030u) ++outside;
          continue;
        }
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, int32_t(std::lround(std::fabs(Reference(src.get(), p, x, y, k) -
                                                                 big->PixelAddress(x, y)[k]))));
      }
    EXPECT_LE(worst, 2);
    EXPECT_EQ(outside, 0);
  }
}

TEST(TiledDrawer, TileClassesKeepTheFastRoutineInside) {
  Ref<TSysBitmap> src = test::SmoothPicture(40, 30, F().R8G8B8);
  Ref<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(8, 8);
  d->SetImage(src.get(), false);
  ASSERT_TRUE(d->SetPlacement(TRect{0, 0, 120, 100}, {3.5f, 2.25f}, {2.7f, 0}, {0, 1.9f}));
  int counts[4] = {};
  for (const TDrawerBand& b : d->Bands())
    for (const TDrawerTile& t : b.Tiles) {
      ++counts[t.Class];
      if (t.Class < 2) continue;
      // Every pixel of an inner tile samples two existing neighbours.
      for (int64_t j = 0; j < t.Target.Height(); ++j)
        for (int64_t i = 0; i < t.Target.Width(); ++i) {
          const int64_t px = t.FixedX + i * d->StepColumnX() + j * d->StepRowX();
          const int64_t py = t.FixedY + i * d->StepColumnY() + j * d->StepRowY();
          ASSERT_GE(px, 0);
          ASSERT_LT((px >> 16) + 1, 40);
          ASSERT_GE(py, 0);
          ASSERT_LT((py >> 16) + 1, 30);
        }
    }
  EXPECT_GT(counts[3], 40);  // opaque 24-bit: inner tiles are border-class
  EXPECT_GT(counts[1], 10);
  EXPECT_EQ(counts[2], 0);
  // With an alpha source the inner tiles are class 2.
  Ref<TSysBitmap> a = test::SmoothPicture(40, 30, F().A8R8G8B8);
  d->SetImage(a.get(), false);
  int inner = 0;
  for (const TDrawerBand& b : d->Bands())
    for (const TDrawerTile& t : b.Tiles) inner += t.Class == 2;
  EXPECT_GT(inner, 40);
}

TEST(TiledDrawer, OpacityAndAlphaRules) {
  const TPlacement one{{0, 0}, {1, 0}, {0, 1}};
  Ref<TSysBitmap> white = test::Canvas24(4, 4, 0xFFFFFF);
  Ref<TSysBitmap> t = DrawTiled(white.get(), one, 8, 8, 128, 4, 4);
  EXPECT_EQ(Get24(t.get(), 1, 1), 0x979797u);  // 0x30 + (0xFF - 0x30) x 128 >> 8
  t = DrawTiled(white.get(), one, 8, 8, 0, 4, 4);
  EXPECT_EQ(Get24(t.get(), 1, 1), 0x303030u);
  Ref<TSysBitmap> a = Sys(4, 4, F().A8R8G8B8);
  a->FillRect(TRect{0, 0, 4, 4}, 0x80FFFFFFu);
  t = DrawTiled(a.get(), one, 8, 8, 255, 4, 4);
  EXPECT_EQ(Get24(t.get(), 2, 2), 0x979797u);  // alpha 128 at full opacity
  t = DrawTiled(a.get(), one, 8, 8, 128, 4, 4);
  EXPECT_EQ(Get24(t.get(), 2, 2), 0x636363u);  // w = 128 x 128 >> 8 = 64
  a->FillRect(TRect{0, 0, 4, 4}, 0x00FFFFFFu);
  t = DrawTiled(a.get(), one, 8, 8, 200, 4, 4);
  EXPECT_EQ(Get24(t.get(), 2, 2), 0x303030u);
}

TEST(TiledDrawer, ImpossibleRequestsAreRefusedBeforeDrawing) {
  Ref<TSysBitmap> src = test::SmoothPicture(10, 10, F().R8G8B8);
  Ref<TBilinearDrawer> d = MakeRef<TBilinearDrawer>(8, 8);
  d->SetImage(src.get(), false);
  EXPECT_FALSE(d->SetPlacement(TRect{0, 0, -5, 10}, {0, 0}, {1, 0}, {0, 1}));
  EXPECT_FALSE(d->SetPlacement(TRect{0, 0, 20, 20}, {0, 0}, {1, 1}, {2, 2}));  // degenerate
  ASSERT_TRUE(d->SetPlacement(TRect{0, 0, 20, 20}, {0, 0}, {1, 0}, {0, 1}));
  Ref<TSysBitmap> small = test::Canvas24(19, 20, 0x010203);
  EXPECT_FALSE(d->Draw(small.get()));
  Ref<TSysBitmap> wrong = Sys(20, 20, F().A8R8G8B8);
  EXPECT_FALSE(d->Draw(wrong.get()));
  EXPECT_FALSE(d->Draw(nullptr));
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 19; ++x) EXPECT_EQ(Get24(small.get(), x, y), 0x010203u);
  Ref<TSysBitmap> grey = Sys(4, 4, F().Y8);
  EXPECT_ABORT_WITH(d->SetImage(grey.get(), false), "Unsupported PixelFormat");
}

}  // namespace
}  // namespace kav
