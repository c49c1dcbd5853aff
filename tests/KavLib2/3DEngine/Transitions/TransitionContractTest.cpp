// The contract every transition configuration keeps: it starts exactly on
// the outgoing slide and ends exactly on the incoming one, never goes back,
// stays inside the effect rectangle and draws the same frame for the same
// time.
#include <gtest/gtest.h>

#include "tests/KavLib2/3DEngine/Transitions/TransitionRig.h"

namespace kav {
namespace {

using namespace transtest;

// Largest channel difference between two frames, and where.
int MaxDiff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, size_t* at = nullptr) {
  int m = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const int d = ChannelDistance(a[i], b[i]);
    if (d > m) {
      m = d;
      if (at) *at = i;
    }
  }
  return m;
}

TEST(TransitionContract, EveryConfigurationStartsAndEndsOnTheSlidesAndIsRepeatable) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  ASSERT_GT(MaxDiff(from, to), 100);
  for (const TConfig& c : AllConfigs()) {
    SCOPED_TRACE(c.Name);
    auto params = Params(c.Effect);
    size_t at = 0;
    EXPECT_LE(MaxDiff(rig.At(params.get(), 0), from, &at), 1) << "at pixel " << at;
    ASSERT_TRUE(params->Filter);
    EXPECT_LE(MaxDiff(rig.At(params.get(), 1000), to, &at), 1) << "at pixel " << at;
    const auto mid = rig.At(params.get(), 420);
    EXPECT_EQ(rig.At(params.get(), 420), mid);
    // A new filter from the same description draws the same frame.
    auto again = Params(c.Effect);
    EXPECT_EQ(rig.At(again.get(), 420), mid);
  }
}

TEST(TransitionContract, WipesAndFadesOnlyMoveTowardTheIncomingSlide) {
  TTransitionRig rig(160, 90);
  const auto to = rig.Plain(rig.To.get());
  for (const TConfig& c : AllConfigs()) {
    if (c.Moving) continue;
    SCOPED_TRACE(c.Name);
    auto params = Params(c.Effect);
    // The clock's two soft lines are blended where they cross at the
    // centre; the blend changes with the angle, so a few pixels there may
    // step back by a few levels.
    const int slack = c.Name.rfind("clock", 0) == 0 ? 4 : 1;
    std::vector<uint32_t> prev = rig.At(params.get(), 0);
    for (int k = 1; k <= 8; ++k) {
      const auto cur = rig.At(params.get(), k * 125.0);
      int worse = 0, excess = 0;
      size_t where = 0;
      for (size_t i = 0; i < cur.size(); ++i) {
        const int d = ChannelDistance(cur[i], to[i]) - ChannelDistance(prev[i], to[i]);
        if (d > slack) ++worse;
        if (d > excess) excess = d, where = i;
      }
      EXPECT_EQ(worse, 0) << "step " << k << " by " << excess << " at " << where % 160 << "," << where / 160;
      prev = cur;
    }
  }
}

TEST(TransitionContract, NothingIsDrawnOutsideTheOutputRectangle) {
  TTransitionRig rig(160, 90);
  rig.Drawer->SetOutputRect(TRect{20, 10, 140, 80});
  for (const TConfig& c : AllConfigs()) {
    SCOPED_TRACE(c.Name);
    auto params = Params(c.Effect);
    for (double t : {0.0, 300.0, 500.0, 800.0, 1000.0}) {
      const auto f = rig.At(params.get(), t, 0xFF0000FF);
      int outside = 0;
      for (int32_t y = 0; y < 90; ++y)
        for (int32_t x = 0; x < 160; ++x)
          if ((x < 20 || x >= 140 || y < 10 || y >= 80) && f[size_t(y) * 160 + size_t(x)] != 0xFF0000FFu) ++outside;
      EXPECT_EQ(outside, 0) << "time " << t;
    }
  }
}

TEST(TransitionContract, ClearedFlagsDrawTheCutAndTimesOutsideClampToTheSlides) {
  TTransitionRig rig(160, 90);
  const auto from = rig.Plain(rig.From.get());
  const auto to = rig.Plain(rig.To.get());
  auto none = Params(Effect(7, {}));
  EXPECT_EQ(rig.At(none.get(), 300), to);
  EXPECT_FALSE(none->Filter);
  auto p = Params(Effect(1, {}));
  EXPECT_EQ(rig.At(p.get(), -50), from);
  EXPECT_EQ(rig.At(p.get(), 5000), to);
  // No parameters of the show's kind: nothing is drawn, nothing breaks.
  rig.Frame([&](TDeviceDrawer* d) { d->DrawTransition(rig.From.get(), rig.To.get(), nullptr); });
  // A zero duration never divides by zero.
  auto z = Params(Effect(1, {}), 0);
  rig.At(z.get(), 0);
}

// A letterboxed show: the output rectangle is narrower than the frame and
// its centre falls between two pixels. The last frame of every transition
// is the incoming slide exactly as it is drawn alone afterwards, so the
// transition's end shows no seam.
TEST(TransitionContract, TheLastFrameInALetterboxedOutputIsTheIncomingSlide) {
  TTransitionRig rig(300, 200);
  rig.Drawer->SetOutputRect(TRect{13, 7, 250, 190});
  const auto to = rig.Plain(rig.To.get());
  for (const TConfig& c : AllConfigs()) {
    SCOPED_TRACE(c.Name);
    auto params = Params(c.Effect);
    const auto last = rig.At(params.get(), 1000);
    int differing = 0, worst = 0;
    size_t where = 0;
    for (size_t i = 0; i < last.size(); ++i) {
      const int d = ChannelDistance(last[i], to[i]);
      if (d > 1) ++differing;
      if (d > worst) worst = d, where = i;
    }
    EXPECT_EQ(differing, 0) << "by " << worst << " at " << where % 300 << "," << where / 300;
  }
}

}  // namespace
}  // namespace kav
