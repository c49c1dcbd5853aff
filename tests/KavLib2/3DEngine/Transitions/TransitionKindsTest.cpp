// Mid-progress frames of each kind against what the kind computes.
#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/3DEngine/Transitions/BroomClock.h"
#include "KavLib2/3DEngine/Transitions/OverturnEffects.h"
#include "KavLib2/3DEngine/Transitions/PageRoll.h"
#include "KavLib2/3DEngine/Transitions/ShapeWipes.h"
#include "KavLib2/3DEngine/Transitions/SlideFilters.h"
#include "tests/KavLib2/3DEngine/Transitions/RecordingTiles.h"
#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

TEST(TransitionKinds, DissolveAtHalfIsTheAverage) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(1, {}));
  const auto mid = rig.At(p.get(), 500);
  rig.Dump("dissolve_half");
  int worst = 0;
  for (size_t i = 0; i < mid.size(); ++i)
    for (int s = 0; s < 24; s += 8) {
      const double want = (((from[i] >> s) & 0xFF) * 127.5 + ((to[i] >> s) & 0xFF) * 127.5) / 255.0;
      worst = std::max(worst, int(std::lround(std::abs(((mid[i] >> s) & 0xFF) - want))));
    }
  EXPECT_LE(worst, 1);
}


TEST(TransitionKinds, PushAtHalfShowsHalfOfEachSlideSideBySide) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  // Flag 0: the incoming slide enters from the right edge moving left.
  auto p = Params(Effect(7, {0}));
  const auto f = rig.At(p.get(), 500);
  rig.Dump("push_half");
  int bad = 0;
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 160; ++x) {
      const uint32_t want = x < 80 ? from[size_t(y) * 160 + size_t(x + 80)] : to[size_t(y) * 160 + size_t(x - 80)];
      if (ChannelDistance(f[size_t(y) * 160 + size_t(x)], want) > 1) ++bad;
    }
  EXPECT_EQ(bad, 0);
  // Direction 3 (flag 3) pushes the outgoing slide down by a quarter.
  auto down = Params(Effect(7, {3}));
  const auto g = rig.At(down.get(), 250);
  EXPECT_EQ(g[size_t(40) * 160 + 10], from[size_t(40 - 22) * 160 + 10]);  // 90 / 4 = 22.5
  EXPECT_EQ(g[size_t(10) * 160 + 10], to[size_t(10 + 68) * 160 + 10]);
}

TEST(TransitionKinds, SlideCoversTheOutgoingSlideWhichStaysInPlace) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(8, {2}));  // from the left, moving right
  const auto f = rig.At(p.get(), 250);
  rig.Dump("slide_quarter");
  for (int32_t y = 0; y < 90; y += 7) {
    EXPECT_EQ(f[size_t(y) * 160 + 30], to[size_t(y) * 160 + 30 + 120]);
    EXPECT_EQ(f[size_t(y) * 160 + 100], from[size_t(y) * 160 + 100]);
  }
}

TEST(TransitionKinds, RandomBlocksFollowTheirSeededStartLevels) {
  TBlockRandom r;
  r.SetSeed(0);
  EXPECT_EQ(r.Next(), 1013904223u);
  r.SetSeed(0xFFFFFFFFu);
  for (int i = 0; i < 1000; ++i) {
    const float v = r.NextFloat();
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
  }
  // Absurd counts and spreads are brought into range.
  auto bad = MakeRef<TRandomFilter>(-3, 1 << 30, 5);
  bad->Spread = -7;
  bad->Init(TRect{0, 0, 100, 100}, 1000, 0);
  EXPECT_EQ(bad->Cols, 1);
  EXPECT_EQ(bad->Rows, TRandomFilter::kMaxBlocks);
  EXPECT_EQ(bad->Spread, 0);

  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(6, {}, {8, 6, 3, 77}));
  const auto f = rig.At(p.get(), 500);
  rig.Dump("mosaic_half");
  auto* rf = static_cast<TRandomFilter*>(p->Filter.get());
  const int32_t level = int32_t(std::nearbyint((300.0 + 256.0) * 0.5 - 256.0));
  for (int32_t j = 0; j < 6; ++j)
    for (int32_t i = 0; i < 8; ++i) {
      const int32_t d = rf->StartLevels[size_t(j) * 8 + size_t(i)] - level;
      const double a = d >= 255 ? 0 : d < 0 ? 255 : 255 - d;
      const size_t at = size_t(j * 15 + 7) * 160 + size_t(i * 20 + 10);
      const double want = (((from[at] >> 16) & 0xFF) * (255 - a) + ((to[at] >> 16) & 0xFF) * a) / 255.0;
      EXPECT_NEAR(double((f[at] >> 16) & 0xFF), want, 1.5) << i << "," << j;
    }
}


// The largest grid is 131,072 triangles in one batch, twice what the device
// takes in one call: every block must still show its level (the whole batch
// was lost, and the frame showed the outgoing slide only, from half way on).
TEST(TransitionKinds, TheLargestMosaicShowsEveryBlock) {
  TTransitionRig rig(512, 256);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(6, {}, {256, 256, 3, 91}));
  for (const int32_t time : {600, 950}) {
    const auto f = rig.At(p.get(), time);
    auto* rf = static_cast<TRandomFilter*>(p->Filter.get());
    ASSERT_EQ(rf->Cols, 256);
    const int32_t level = int32_t(std::nearbyint((300.0 + 256.0) * time / 1000.0 - 256.0));
    int bad = 0, drawn = 0;
    for (int32_t j = 0; j < 256; ++j)
      for (int32_t i = 0; i < 256; ++i) {
        const int32_t d = rf->StartLevels[size_t(j) * 256 + size_t(i)] - level;
        const double a = d >= 255 ? 0 : d < 0 ? 255 : 255 - d;
        drawn += a > 0;
        const size_t at = size_t(j) * 512 + size_t(i) * 2;
        for (int s = 0; s < 24; s += 8) {
          const double want = (((from[at] >> s) & 0xFF) * (255 - a) + ((to[at] >> s) & 0xFF) * a) / 255.0;
          bad += std::abs(double((f[at] >> s) & 0xFF) - want) > 1.5;
        }
      }
    EXPECT_GT(drawn * 2, 65536) << time;  // more triangles than one call takes
    EXPECT_EQ(bad, 0) << time;
  }
}

template <class F, class... A>
Ref<F> Laid(const TRect& r, float edge, A... a) {
  auto f = MakeRef<F>(a...);
  f->Init(r, 1000, edge);
  return f;
}

TEST(ShapeWipes, SizesFromTheOriginsPlace) {
  const TRect r{0, 0, 160, 90};
  auto rh = Laid<TRhombFilter>(r, 10, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(rh->MaxRadius, 80 + 45 + 10);
  auto rc = Laid<TRhombFilter>(r, 0, 1.5f, 1.5f);  // beyond a corner
  EXPECT_FLOAT_EQ(rc->MaxRadius, 160 + 90);
  auto c = Laid<TCircleFilter>(r, 0, 0.5f, 0.5f, false);
  EXPECT_EQ(c->Segments, 128);
  EXPECT_EQ(c->Offset, 0);
  auto co = Laid<TCircleFilter>(r, 0, 1.25f, 0.5f, false);
  EXPECT_EQ(co->Segments, 256);
  EXPECT_FLOAT_EQ(co->Offset, 40);
  // Beyond a corner the rectangle grows until it reaches the far corner.
  auto sq = Laid<TSquareFilter>(r, 0, 1.5f, 2.0f);
  EXPECT_NEAR(sq->Offset + sq->MaxRadius, 180 * 16 / 9.0, 1e-3);
  auto d = Laid<TDiagLines>(TRect{0, 0, 160, 91}, 0, 8, 2);
  EXPECT_EQ(d->TopX, 125);  // 251 div 2
  // An empty layout draws nothing and never divides by zero.
  auto e = Laid<TSquareFilter>(TRect{5, 5, 5, 5}, 0, 0.5f, 0.5f);
  e->SetTime(500);
  auto grid = MakeGrid(TRect{0, 0, 10, 10}, 1, 1);
  e->DrawFrame(grid.get());
  EXPECT_EQ(grid->Area(), 0);
}

TEST(ShapeWipes, WipeFromTheLeftAtHalfWithItsSoftEdge) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(5, {4}), 1000, 0.1f);  // THLines at the left edge
  const auto f = rig.At(p.get(), 500);
  rig.Dump("wipe_left_half");
  // R = 0.5 * (160 + 16) = 88: incoming up to 72, the edge fades to 88.
  for (int32_t y = 0; y < 90; y += 5) {
    for (int32_t x = 0; x < 72; x += 3) EXPECT_LE(ChannelDistance(f[size_t(y) * 160 + size_t(x)], to[size_t(y) * 160 + size_t(x)]), 1);
    for (int32_t x = 89; x < 160; x += 3)
      EXPECT_LE(ChannelDistance(f[size_t(y) * 160 + size_t(x)], from[size_t(y) * 160 + size_t(x)]), 1);
  }
}

TEST(ShapeWipes, HourglassGatesCloseToNothingOfTheOutgoingSlide) {
  TTransitionRig rig(160, 90);
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(4, {0}));  // the band around the centre closes
  ASSERT_EQ(rig.At(p.get(), 1000), to);
  EXPECT_TRUE(p->Filter->Reverse);
}


TEST(Perspective, SmoothEaseAndTheCardEdgeOnAtHalf) {
  EXPECT_DOUBLE_EQ(SmoothEase(0.5), 0.5);
  EXPECT_DOUBLE_EQ(SmoothEase(0.25), 0.125);
  TTransitionRig rig(160, 90);
  auto p = Params(Effect(10, {0}, {}, {0.5f}));
  const auto f = rig.At(p.get(), 500);
  int lit = 0;
  for (uint32_t c : f)
    if ((c & 0xFFFFFF) != 0) ++lit;
  EXPECT_LT(lit, 90 * 3);  // at most a thin line of the card
  // At a quarter the card is narrower than the frame, darker, and centred.
  const auto q = rig.At(p.get(), 250);
  rig.Dump("flip_quarter");
  EXPECT_EQ(q[size_t(45) * 160 + 2] & 0xFFFFFF, 0u);
  EXPECT_NE(q[size_t(45) * 160 + 80] & 0xFFFFFF, 0u);
}

TEST(Perspective, SwapDrawsTheFarPictureFirstAndReflectsOnlySideways) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  // At a small progress the outgoing slide is almost in place, in front.
  auto p = Params(Effect(11, {0}, {}, {0.5f, 0.5f, 0.5f}));
  const auto f = rig.At(p.get(), 40);
  rig.Dump("swap_early");
  EXPECT_LE(ChannelDistance(f[size_t(20) * 160 + 10], from[size_t(20) * 160 + 10]), 40);
  // Directions 3 and 4 draw no reflection: below the receding picture the
  // frame stays black.
  auto up = Params(Effect(11, {3}, {}, {0.5f, 0.0f, 0.0f}));
  const auto g = rig.At(up.get(), 500);
  EXPECT_EQ(g[size_t(89) * 160 + 80] & 0xFFFFFF, 0u);
  // Absurd parameters still draw (clamped), never crash.
  auto bad = Params(Effect(10, {1}, {}, {1e30f}));
  rig.At(bad.get(), 500);
  auto bad2 = Params(Effect(11, {1}, {}, {-5.0f, 1e30f, NAN}));
  rig.At(bad2.get(), 500);
}


TEST(PageRoll, AngleSolverHandlesNoRootAndTheDegenerateQuadratic) {
  EXPECT_FLOAT_EQ(RollAngleSolve(0, 1, 1), 1.5707964f);  // D < 0
  // 2c = b: a r + b / 2 = 0, finite and a root of the equation.
  const float t = RollAngleSolve(3, 2, 1);
  EXPECT_TRUE(std::isfinite(t));
  EXPECT_NEAR(3 * std::sin(t) + (2 - 1) * std::cos(t) + 1, 0, 1e-4);
  const float u = RollAngleSolve(4, 1, 1);
  EXPECT_NEAR(4 * std::sin(u) + (1 - 1) * std::cos(u) + 1, 0, 1e-4);
}

TEST(PageRoll, FlatRollWindsEverythingBeforeTheStartEdgeAtTheStartAndNothingAtTheEnd) {
  for (int32_t dir = 1; dir <= 8; ++dir) {
    SCOPED_TRACE(dir);
    TRoller3 r(dir, 0, 0, 160, 90, false, 1);
    RefAddRef(&r);  // on the stack: never released to zero
    r.Radius = 12;
    float first, last;
    r.GetRange(first, last);
    r.SetPosition(first);
    for (float x = 0; x <= 160; x += 20)
      for (float y = 0; y <= 90; y += 15) {
        float ox, oy, z;
        r.Map(x, y, ox, oy, z);
        // Landed at or before the start edge (or the start corner's line).
        const float along = (ox - r.StartX) * r.DirX + (oy - r.StartY) * r.DirY;
        EXPECT_LE(along, 0.01f) << x << "," << y;
      }
    r.SetPosition(last);
    for (float x = 0; x <= 160; x += 20)
      for (float y = 0; y <= 90; y += 15) {
        float ox, oy, z;
        r.Map(x, y, ox, oy, z);
        EXPECT_NEAR(ox, x, 1e-3);
        EXPECT_NEAR(oy, y, 1e-3);
      }
  }
}

TEST(PageRoll, StripsCoverThePictureOnceAndAreCutAtTheWindingLimit) {
  for (int32_t dir = 1; dir <= 8; ++dir) {
    SCOPED_TRACE(dir);
    TRoller3 r(dir, 0, 0, 160, 90, false, 1);
    RefAddRef(&r);
    r.Radius = 10;
    r.Steps = 3;
    double area = 0;
    bool far_seen = false;
    r.OnTriangle = [&](const TEffVertex* t, bool far) {
      area += std::abs((t[1].X - t[0].X) * (t[2].Y - t[0].Y) - (t[2].X - t[0].X) * (t[1].Y - t[0].Y)) * 0.5;
      far_seen = far_seen || far;
    };
    float first, last;
    r.GetRange(first, last);
    r.SetPosition(first + (last - first) * 0.4f);
    EXPECT_NEAR(area, 160.0 * 90.0, 1.0);
    EXPECT_TRUE(far_seen);
  }
  // Radius below 2 and the strip lengths by radius.
  auto f = MakeRef<TRollEffect2>(14, 1);
  f->RadiusPixels = 1;
  f->Init(TRect{0, 0, 160, 90}, 1000, 0);
  auto grid = MakeGrid(TRect{0, 0, 160, 90}, 1, 1);
  f->SetTime(500);
  f->DrawFrame(grid.get());
  EXPECT_EQ(f->Roller->Radius, 2);
  EXPECT_EQ(f->Roller->Steps, 3);
  auto g = MakeRef<TRollEffect2>(14, 5);
  EXPECT_TRUE(g->Reverse);
  g->RadiusPixels = 95;
  g->Init(TRect{0, 0, 160, 90}, 1000, 0);
  g->DrawFrame(grid.get());
  EXPECT_EQ(g->Roller->Steps, 9);
  EXPECT_EQ(g->Roller->DirX, -1);  // direction 5 rolls as 3, backwards
}


TEST(RotatingWipes, BroomRangeCoversThePictureAndKeepsItsOwnWrap) {
  EXPECT_EQ(SweepLevel(0), 0);
  EXPECT_EQ(SweepLevel(127), 126);
  EXPECT_EQ(SweepLevel(128), 129);
  EXPECT_EQ(SweepLevel(255), 255);
  // The down broom wraps across 2pi; making another broom afterwards does
  // not change that.
  TBroom down(3, 10, 5, 0, 0, 160, 90);
  RefAddRef(&down);
  TBroom left(4, 10, 5, 0, 0, 160, 90);
  RefAddRef(&left);
  EXPECT_TRUE(down.Wrap);
  EXPECT_FALSE(left.Wrap);
  for (int32_t kind : {1, 2, 4, 5, 6, 7, 8}) {
    TBroom other(kind, 10, 5, 0, 0, 160, 90);
    RefAddRef(&other);
    EXPECT_FALSE(other.Wrap) << kind;  // only the down broom's range crosses 2pi
  }
  EXPECT_NEAR(down.StartAngle, 1.5f * 3.14159265f - down.EdgeAngle + std::atan(10.0f / 160), 1e-4);
  // Corner broom: the corrections are the two far corners' angles.
  TBroom dr(6, 0, 5, 0, 0, 160, 90);
  RefAddRef(&dr);
  EXPECT_NEAR(dr.StartAngle, 1.5f * 3.14159265f + std::atan(5.0f / 165), 1e-4);
  EXPECT_NEAR(dr.EndAngle, 2 * 3.14159265f - std::atan(5.0f / 95), 1e-4);
  // Negative margins and no edge still sweep the whole picture.
  TBroom odd(1, 0, -20, 0, 0, 160, 90);
  RefAddRef(&odd);
  EXPECT_EQ(odd.Margin, 0);
  int count = 0;
  odd.OnTriangle = [&](const TEffVertex*) { ++count; };
  odd.BuildSweep(odd.StartAngle);
  EXPECT_GT(count, 0);
  auto b = MakeRef<TBroomEffect>(11, 4.0f);
  EXPECT_EQ(b->Direction, 3);
  EXPECT_TRUE(b->Reverse);
}

TEST(RotatingWipes, HourHandAtAQuarterHasSweptTheUpperRightQuarter) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto p = Params(Effect(2, {6}), 1000, 0.05f);
  const auto f = rig.At(p.get(), 250);
  rig.Dump("clock_quarter");
  auto px = [&](const std::vector<uint32_t>& v, int x, int y) { return v[size_t(y) * 160 + size_t(x)]; };
  EXPECT_LE(ChannelDistance(px(f, 130, 15), px(to, 130, 15)), 1);      // upper right: swept
  EXPECT_LE(ChannelDistance(px(f, 30, 15), px(from, 30, 15)), 1);      // upper left: not yet
  EXPECT_LE(ChannelDistance(px(f, 130, 75), px(from, 130, 75)), 1);    // lower right: not yet
  EXPECT_LE(ChannelDistance(px(f, 30, 75), px(from, 30, 75)), 1);
  // The origin is truncated; a zero edge still draws (0.001 wide).
  TArrow a(0, 0, 101, 50, 50, 25, 0);
  RefAddRef(&a);
  EXPECT_FLOAT_EQ(a.EdgeWidth, 0.001f);
  int tris = 0;
  a.OnTriangle = [&](const TEffVertex*) { ++tris; };
  a.Render(0);
  EXPECT_EQ(tris, 0);
  a.Render(6.2831853f);
  EXPECT_EQ(tris, 2);
}

TEST(RotatingWipes, ClockBandBoundariesCarryTheEasedLevels) {
  // Levels 255, 251, 235, 209, 174, 129, 81, 45, 20, 5, 0 from the unswept
  // edge to the swept one, shown as opacity 255 - level. The hand points
  // right (a quarter turn); above it the hand band is wholly swept, so a
  // point there takes the start band's level alone.
  static constexpr float kLevels[11] = {255, 251, 235, 209, 174, 129, 81, 45, 20, 5, 0};
  TArrow a(0, 0, 1000, 1000, 500, 500, 100);
  RefAddRef(&a);
  a.OnTriangle = [](const TEffVertex*) {};
  a.Render(3.14159265f / 2);
  for (int k = 0; k <= 10; ++k)
    EXPECT_FLOAT_EQ(a.Opacity(450.0f + 10.0f * float(k), 200), 255 - kLevels[k]) << k;
}

}  // namespace
}  // namespace kav
