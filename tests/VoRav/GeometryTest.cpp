#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "VoRav/vxGeometry.h"

using namespace kav;

TEST(Geometry, FramesRoundTripAndDegenerateAxesGiveZero) {
  TFrame2D f2;
  ASSERT_TRUE(InitFrame2D(f2, FloatPoint(10, 20), FloatPoint(2, 1), FloatPoint(-1, 3)));
  TFloatPoint w = Frame2DToWorld(f2, FloatPoint(1.5f, -2));
  EXPECT_FLOAT_EQ(w.x, 10 + 3 + 2);
  EXPECT_FLOAT_EQ(w.y, 20 + 1.5f - 6);
  TFloatPoint l = Frame2DFromWorld(f2, w);
  EXPECT_FLOAT_EQ(l.x, 1.5f);
  EXPECT_FLOAT_EQ(l.y, -2);

  EXPECT_FALSE(InitFrame2D(f2, FloatPoint(1, 1), FloatPoint(2, 4), FloatPoint(1, 2)));
  EXPECT_EQ(f2.InvDet, 0);
  l = Frame2DFromWorld(f2, FloatPoint(5, 7));
  EXPECT_EQ(l.x, 0);
  EXPECT_EQ(l.y, 0);

  TFrame3D f3;
  ASSERT_TRUE(InitFrame3D(f3, Vector3(1, 2, 3), Vector3(0, 2, 0), Vector3(-1, 0, 0), Vector3(0, 0.5f, 4)));
  TVector3 local = Vector3(0.25f, -3, 2);
  TVector3 world = Frame3DToWorld(f3, local);
  TVector3 dir = Frame3DDirection(f3, local);
  EXPECT_FLOAT_EQ(world.x - dir.x, 1);
  EXPECT_FLOAT_EQ(world.z - dir.z, 3);
  TVector3 back = Frame3DFromWorld(f3, world);
  EXPECT_NEAR(back.x, local.x, 1e-6);
  EXPECT_NEAR(back.y, local.y, 1e-6);
  EXPECT_NEAR(back.z, local.z, 1e-6);
  EXPECT_FALSE(InitFrame3D(f3, Vector3(0, 0, 0), Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(1, 1, 0)));
  back = Frame3DFromWorld(f3, Vector3(4, 5, 6));
  EXPECT_EQ(back.x, 0);
  EXPECT_EQ(back.z, 0);
}

TEST(Geometry, NormalisingLeavesNearZeroVectorsUnchanged) {
  TVector3 z = NormalizeVector3(Vector3(0, 0, 0));
  EXPECT_EQ(z.x, 0);
  EXPECT_EQ(z.y, 0);
  EXPECT_EQ(z.z, 0);
  TVector3 n = NormalizeVector3(Vector3(3, 0, -4));
  EXPECT_FLOAT_EQ(n.x, 0.6f);
  EXPECT_FLOAT_EQ(n.z, -0.8f);
  TFloatPoint p = NormalizeByMaxAbs(FloatPoint(-8, 2));
  EXPECT_EQ(p.x, -1);
  EXPECT_EQ(p.y, 0.25f);
  p = DivFloatPoint(FloatPoint(3, 4), 1e-39f);  // denormal divisor: counts as zero
  EXPECT_EQ(p.x, 3);
  EXPECT_EQ(DivFloatPoint(FloatPoint(3, 4), 2).y, 2);
  EXPECT_FALSE(IsNonZero(2.9411764705882355e-39));
  EXPECT_FALSE(IsNonZero(-2.9411764705882355e-39));
  EXPECT_TRUE(IsNonZero(2.95e-39));
}

TEST(Geometry, ArithmeticAndRectangles) {
  TFloatPoint a = FloatPoint(1, 2), b = FloatPoint(4, 6);
  EXPECT_TRUE(FloatPointsEqual(SubFloatPoints(a, b), FloatPoint(3, 4)));  // b minus a
  EXPECT_EQ(FloatPointLength(SubFloatPoints(a, b)), 5);
  EXPECT_TRUE(FloatPointsEqual(CombineFloatPoints(a, 2, b, 0.5f), FloatPoint(4, 7)));
  EXPECT_TRUE(FloatPointsEqual(PerpendicularCW(a), FloatPoint(2, -1)));
  EXPECT_TRUE(FloatPointsEqual(PerpendicularCCW(a), FloatPoint(-2, 1)));
  EXPECT_EQ(DotFloatPoints(a, b), 16);
  TVector3 c = CrossVectors3(Vector3(1, 0, 0), Vector3(0, 1, 0));
  EXPECT_EQ(c.z, 1);
  EXPECT_EQ(Distance3(Vector3(1, 1, 1), Vector3(3, 4, 7)), 7);
  // One rounding to float for a*s + b*t + c*u: 1 + 2^-30 - 1 keeps nothing, but
  // (1 + 2^-24) computed exactly in double and rounded once keeps the sum.
  TVector3 v = CombineVectors3Three(Vector3(1, 0, 0), 1, Vector3(1, 0, 0), 0x1p-24f, Vector3(1, 0, 0), 0x1p-24f);
  EXPECT_EQ(v.x, 1 + 0x1p-23f);

  TFloatRect r;
  EXPECT_TRUE(IntersectFloatRect(FloatRect(0, 0, 10, 10), FloatRect(5, -5, 20, 5), r));
  EXPECT_TRUE(FloatRectsEqual(r, FloatRect(5, 0, 10, 5)));
  r = FloatRect(1, 1, 1, 1);
  EXPECT_FALSE(IntersectFloatRect(FloatRect(0, 0, 10, 10), FloatRect(10, 0, 20, 10), r));
  EXPECT_TRUE(FloatRectsEqual(r, TFloatRect{}));
  EXPECT_TRUE(FloatRectIsEmpty(FloatRect(0, 0, std::numeric_limits<float>::quiet_NaN(), 5)));
  EXPECT_TRUE(FloatRectsEqual(IntRectToFloatRect(Rect(-1, 2, 3, 4)), FloatRect(-1, 2, 3, 4)));
  EXPECT_EQ(FloatRectWidth(OffsetFloatRect(FloatRectFromSize(3, 4), 7, 8)), 3);
  TMatrix3x4 m1, m2;
  m2.m[2][3] = -0.0f;
  EXPECT_TRUE(Matrix3x4Equal(m1, m2));
  m2.m[1][1] = 1e-30f;
  EXPECT_FALSE(Matrix3x4Equal(m1, m2));
}
