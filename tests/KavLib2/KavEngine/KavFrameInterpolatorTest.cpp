#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>

#include "KavLib2/KavEngine/KavFrameInterpolator.h"

using namespace kav;

namespace {

// The smoothing written out from its definition: once 16 warm-up values and
// 32 steps went by, the output is the last output advanced by the mean of
// the last 32 steps, pulled a sixth of the way toward the raw value.
struct TReference {
  int calls = 0;
  double out = 0, prev = 0;
  std::deque<double> steps;
  double Next(double raw) {
    ++calls;
    if (calls > 16) {
      steps.push_back(raw - prev);
      if (steps.size() > 32) {
        steps.pop_front();
        double sum = 0;
        for (double s : steps) sum += s;
        out = out + sum / 32;
        out = out + (raw - out) / 6;
      } else {
        out = raw;
      }
    } else {
      out = raw;
    }
    prev = raw;
    return out;
  }
};

}  // namespace

TEST(FrameInterpolator, PassesRawValuesThroughWarmUpAndFirstSteps) {
  TFrameInterpolator f;
  for (int i = 0; i < 48; ++i) {
    const double raw = i * 17.0 + (i % 3) * 5.0;  // uneven on purpose
    EXPECT_EQ(f.NextFrameTime(raw), raw) << i;
  }
  // The 49th value is the first smoothed one.
  const double raw = 48 * 17.0 + 11.0;
  EXPECT_NE(f.NextFrameTime(raw), raw);
}

TEST(FrameInterpolator, EvenClockGivesTheRawValue) {
  TFrameInterpolator f;
  for (int i = 0; i < 400; ++i) EXPECT_NEAR(f.NextFrameTime(1000.0 + i * 16.0), 1000.0 + i * 16.0, 1e-9) << i;
}

TEST(FrameInterpolator, JitteredClockFollowsTheFormulaAndSmooths) {
  TFrameInterpolator f;
  TReference ref;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> jitter(-6.0, 6.0);
  double t = 0;
  double raw_dev = 0, out_dev = 0, last_raw = 0, last_out = 0;
  for (int i = 0; i < 2000; ++i) {
    t += 16.0;
    const double raw = t + jitter(rng);
    const double out = f.NextFrameTime(raw);
    EXPECT_NEAR(out, ref.Next(raw), 1e-6) << i;
    if (i > 100) {
      raw_dev += std::fabs((raw - last_raw) - 16.0);
      out_dev += std::fabs((out - last_out) - 16.0);
    }
    last_raw = raw;
    last_out = out;
  }
  // Frames advance more evenly than the clock does.
  EXPECT_LT(out_dev, raw_dev / 2);
}

TEST(FrameInterpolator, HoldPassesRawValuesAndEndsOneCallAfterRelease) {
  TFrameInterpolator f;
  double t = 0;
  for (int i = 0; i < 100; ++i) f.NextFrameTime(t += 10.0);
  f.SetRunning(false);  // no hold: nothing changes
  EXPECT_FALSE(f.Holding());

  f.SetRunning(true);
  EXPECT_EQ(f.NextFrameTime(5000.0), 5000.0);
  EXPECT_EQ(f.NextFrameTime(5003.0), 5003.0);
  f.SetRunning(false);
  EXPECT_TRUE(f.Holding());
  EXPECT_EQ(f.NextFrameTime(5011.0), 5011.0);  // exactly one more raw value
  EXPECT_FALSE(f.Holding());
  // Smoothing resumes at once with the steps recorded before the hold.
  EXPECT_NE(f.NextFrameTime(5100.0), 5100.0);
}

TEST(FrameInterpolator, WarmUpDoesNotRunDuringAHold) {
  TFrameInterpolator f;
  f.SetRunning(true);
  for (int i = 0; i < 100; ++i) f.NextFrameTime(i * 10.0);
  f.SetRunning(false);
  f.NextFrameTime(1000.0);
  // The whole warm-up and the 32 steps are still ahead.
  for (int i = 1; i <= 48; ++i) EXPECT_EQ(f.NextFrameTime(1000.0 + i * 7.0 + (i & 1)), 1000.0 + i * 7.0 + (i & 1));
}
