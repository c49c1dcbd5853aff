#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "KavLib2/KavClasses/KavImageAnimation.h"

namespace kav {
namespace {

std::vector<int32_t> Build(std::string_view text, int32_t count) {
  TImageAnimationParams p;
  p.AnimCount = count;
  BuildAnimationFrames(text, p);
  return p.Intervals;
}

TEST(ImageAnimation, IntervalsFromText) {
  EXPECT_EQ(Build("100,200", 4), (std::vector<int32_t>{100, 200, 200, 200}));
  EXPECT_EQ(Build("", 3), (std::vector<int32_t>{100, 100, 100}));
  EXPECT_EQ(Build("1,x,3", 3), (std::vector<int32_t>{1, 0, 3}));
  EXPECT_EQ(Build("5,", 3), (std::vector<int32_t>{5, 0, 0}));  // the last item is empty
  EXPECT_TRUE(Build("5", -3).empty());
  EXPECT_EQ(Build("5", std::numeric_limits<int32_t>::max()).size(), size_t(kMaxAnimationFrames));
}

TImageAnimationParams Sheet(int32_t cols, int32_t rows, std::vector<int32_t> intervals, int32_t reps) {
  TImageAnimationParams p;
  p.AnimEnable = 1;
  p.AnimColumns = cols;
  p.AnimRows = rows;
  p.AnimCount = int32_t(intervals.size());
  p.Intervals = std::move(intervals);
  p.AnimRepCount = reps;
  return p;
}

TEST(ImageAnimation, FrameAtTimeWalksTheIntervalsAndRepeats) {
  TImageAnimationParams p = Sheet(4, 2, std::vector<int32_t>(8, 100), 2);
  EXPECT_EQ(AnimationFrameAtTime(p, 50), 0);
  EXPECT_EQ(AnimationFrameAtTime(p, 100), 0);  // a frame's span includes its end
  EXPECT_EQ(AnimationFrameAtTime(p, 101), 1);
  EXPECT_EQ(AnimationFrameAtTime(p, 750), 7);
  EXPECT_EQ(AnimationFrameAtTime(p, 850), 0);
  EXPECT_EQ(AnimationFrameAtTime(p, 1600), 7);
  EXPECT_EQ(AnimationFrameAtTime(p, 1650), 7);  // two rounds done: the last frame stays
  p.AnimRepCount = 0;  // for ever
  EXPECT_EQ(AnimationFrameAtTime(p, 1650), 0);
  const int32_t far = AnimationFrameAtTime(p, 1e300);
  EXPECT_TRUE(far >= 0 && far < 8);
  // The offset delays the start; earlier times show frame 0.
  p.AnimOffset = 1000;
  EXPECT_EQ(AnimationFrameAtTime(p, 1150), 1);
  EXPECT_EQ(AnimationFrameAtTime(p, -5000), 0);
  EXPECT_EQ(AnimationFrameAtTime(p, std::numeric_limits<double>::quiet_NaN()), 0);
  // Frames of 0 ms are skipped over; negative ones count as 0.
  p = Sheet(3, 1, {0, -50, 100}, 0);
  EXPECT_EQ(AnimationFrameAtTime(p, 1), 2);
}

TEST(ImageAnimation, UntrustedGridAndIntervals) {
  // No animation, a 1 x 1 grid or no intervals: frame 0.
  TImageAnimationParams p = Sheet(4, 2, std::vector<int32_t>(8, 100), 0);
  p.AnimEnable = 0;
  EXPECT_EQ(AnimationFrameAtTime(p, 750), 0);
  EXPECT_EQ(AnimationFrameAtTime(Sheet(1, 1, {100, 100}, 0), 150), 0);
  EXPECT_EQ(AnimationFrameAtTime(Sheet(2, 2, {}, 0), 150), 0);
  // Columns and rows below 1 count as 1.
  EXPECT_EQ(AnimationFrameAtTime(Sheet(0, -3, {100, 100}, 0), 150), 0);
  EXPECT_EQ(AnimationFrameAtTime(Sheet(-1, 2, {100, 100}, 0), 150), 1);
  // A zero total shows frame 0.
  EXPECT_EQ(AnimationFrameAtTime(Sheet(2, 2, {0, 0, -7, 0}, 0), 500), 0);
  // More intervals than cells: only the cells play.
  p = Sheet(2, 2, std::vector<int32_t>(8, 100), 0);
  EXPECT_EQ(AnimationFrameCount(p), 4);
  EXPECT_EQ(AnimationFrameAtTime(p, 750), 3);  // round 2 of 400 ms, 350 in
  // A huge grid does not overflow the cell count.
  p = Sheet(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), {10, 10, 10}, 0);
  EXPECT_EQ(AnimationFrameCount(p), 3);
  EXPECT_EQ(AnimationFrameAtTime(p, 25), 2);
}

TEST(ImageAnimation, GridCells) {
  TFloatRect r;
  GetAnimationFrameRect(400, 200, 4, r, 1, 3, 2);
  EXPECT_FLOAT_EQ(r.Left, 300);
  EXPECT_FLOAT_EQ(r.Top, 100);
  EXPECT_FLOAT_EQ(r.Right, 400);
  EXPECT_FLOAT_EQ(r.Bottom, 200);
  GetAnimationFrameRect(300, 90, 0, r, 0, 0, -2);  // a grid below 1 x 1 is one cell
  EXPECT_FLOAT_EQ(r.Right, 300);
  EXPECT_FLOAT_EQ(r.Bottom, 90);
}

}  // namespace
}  // namespace kav
