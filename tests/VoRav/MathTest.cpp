#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "VoRav/wpMath.h"

using namespace kav;

TEST(Math, PowerTakesTheIntegerPathAndItsSpecialCases) {
  EXPECT_EQ(Power(0, 0), 1);
  EXPECT_EQ(Power(0, 2), 0);
  EXPECT_EQ(Power(2, -2), 0.25L);
  EXPECT_EQ(Power(-2, 3), -8);  // integral exponent: no logarithm of a negative base
  EXPECT_EQ(static_cast<double>(Power(2, 0.5)), std::sqrt(2.0));
  EXPECT_TRUE(std::isnan(Power(-2, 0.5)));
  EXPECT_EQ(IntPower(3, 0), 1);
  EXPECT_EQ(IntPower(3, 5), 243);
  EXPECT_EQ(IntPower(2, -3), 0.125L);
  EXPECT_EQ(IntPower(1, std::numeric_limits<int32_t>::min()), 1);
  EXPECT_EQ(IntPower(2, std::numeric_limits<int32_t>::min()), 0);
}

TEST(Math, CeilAndFloorRoundTowardTheirSideAndSaturate) {
  EXPECT_EQ(Ceil(-1.5), -1);
  EXPECT_EQ(Floor(-1.5), -2);
  EXPECT_EQ(Ceil(2), 2);
  EXPECT_EQ(Floor(2), 2);
  EXPECT_EQ(Ceil(0.25), 1);
  EXPECT_EQ(Floor(0.25), 0);
  EXPECT_EQ(Ceil(1e20), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Floor(-1e20), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Ceil(2147483647.5L), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Floor(-2147483648.5L), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Ceil(std::numeric_limits<Extended>::quiet_NaN()), 0);
}

TEST(Math, TrigonometryAndHypot) {
  const Extended pi = std::numbers::pi_v<Extended>;
  EXPECT_EQ(ArcCot(0), pi / 2);
  EXPECT_EQ(ArcCot(1e-17L), pi / 2);  // within the default epsilon
  EXPECT_NEAR(static_cast<double>(ArcCot(1)), std::numbers::pi / 4, 1e-15);
  EXPECT_NEAR(static_cast<double>(ArcSin(0.5)), std::numbers::pi / 6, 1e-15);
  EXPECT_NEAR(static_cast<double>(ArcCos(0.5)), std::numbers::pi / 3, 1e-15);
  EXPECT_EQ(ArcSin(1), pi / 2);
  EXPECT_EQ(ArcCos(-1), pi);
  EXPECT_TRUE(std::isnan(ArcSin(1.5)));
  EXPECT_NEAR(static_cast<double>(Cot(pi / 4)), 1.0, 1e-15);
  EXPECT_EQ(Cot(0.3L), Cotan(0.3L));
  EXPECT_EQ(DegToRad(180), pi);
  EXPECT_EQ(Hypot(3, -4), 5);
  EXPECT_EQ(Hypot(0, 0), 0);
  EXPECT_EQ(Hypot(0, -7), 7);
  EXPECT_NEAR(static_cast<double>(Hypot(1e4000L, 1e4000L) / 1e4000L), std::sqrt(2.0), 1e-15);
  EXPECT_EQ(Log2(1024), 10);
}

TEST(Math, SignZeroAndMinMax) {
  EXPECT_EQ(SignDouble(-0.0), 0);
  EXPECT_EQ(SignDouble(0.0), 0);
  EXPECT_EQ(SignDouble(-1e-300), -1);
  EXPECT_EQ(SignDouble(5), 1);
  EXPECT_EQ(SignDouble(-std::numeric_limits<double>::infinity()), -1);
  EXPECT_TRUE(IsZero(1e-16L));
  EXPECT_FALSE(IsZero(2e-16L));
  EXPECT_TRUE(IsZero(0.5, 0.5));
  EXPECT_FALSE(IsZero(-0.6, 0.5));
  EXPECT_EQ(MinInt(-3, 2), -3);
  EXPECT_EQ(MaxInt64(INT64_MIN, 4), 4);
  EXPECT_EQ(MaxSingleValue(1.5f, -2.f), 1.5f);
  EXPECT_EQ(MinExtended(1, 2), 1);
}
