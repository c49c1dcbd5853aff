#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "CalcTestUtil.h"
#include "VoRav/CurveLinearInterpolation.h"
#include "VoRav/vxCalcSpline.h"

using namespace kav;

namespace {

TCubicBezierPoints Spline(float x1, float y1, float x2, float y2) {
  return TCubicBezierPoints{FloatPoint(0, 0), FloatPoint(x1, y1), FloatPoint(x2, y2), FloatPoint(1, 1)};
}

// y at x by bisection of t on the exact curve (x rising in t).
double TrueY(const TCubicBezierPoints& c, double x) {
  double lo = 0, hi = 1;
  for (int i = 0; i < 100; ++i) {
    double mid = (lo + hi) / 2;
    TCurvePoint p;
    c.PointAt(mid, p);
    (p.x < x ? lo : hi) = mid;
  }
  TCurvePoint p;
  c.PointAt(lo, p);
  return p.y;
}

Ref<TCubicBezier> Split(const TCubicBezierPoints& pts) {
  Ref<TCubicBezier> c = MakeRef<TCubicBezier>(pts);
  c->SetCurve(kSplineTolerance, 0, 1);
  return c;
}

}  // namespace

TEST(Curves, StraightControlsGiveTheDiagonalAndExtrapolate) {
  Ref<TCubicBezier> c = Split(Spline(0, 0, 1, 1));
  ASSERT_GT(c->PieceCount(), 0);
  for (double x = 0; x <= 1; x += 0.0625) EXPECT_NEAR(c->InterpolateCurve(x), x, 1e-6) << x;
  EXPECT_NEAR(c->InterpolateCurve(-0.5), -0.5, 1e-6);
  EXPECT_NEAR(c->InterpolateCurve(1.5), 1.5, 1e-6);
  // Outside [0, 1] the answer follows the end pieces.
  Ref<TCubicBezier> e = Split(Spline(0.25f, 0.1f, 0.25f, 1));
  const TKusochek& first = e->Piece(0);
  const TKusochek& last = e->Piece(e->PieceCount() - 1);
  EXPECT_DOUBLE_EQ(e->InterpolateCurve(-1), (-1 - first.StartX) * first.Slope + first.StartY);
  EXPECT_DOUBLE_EQ(e->InterpolateCurve(2), (2 - last.StartX) * last.Slope + last.StartY);
}

TEST(Curves, PiecesCoverTheCurveInOrderAndSearchBothWays) {
  TCubicBezierPoints pts = Spline(0.42f, 0, 0.58f, 1);
  Ref<TCubicBezier> c = Split(pts);
  for (int i = 1; i < c->PieceCount(); ++i) EXPECT_EQ(c->Piece(i).StartX, c->Piece(i - 1).EndX);
  EXPECT_EQ(c->Piece(0).StartX, 0);
  EXPECT_EQ(c->Piece(c->PieceCount() - 1).EndX, 1);
  // Walking up and then down must find the same piece as a fresh search.
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k <= 200; ++k) {
      double x = pass == 0 ? k / 200.0 : 1 - k / 200.0;
      Ref<TCubicBezier> fresh = Split(pts);
      EXPECT_EQ(c->InterpolateCurve(x), fresh->InterpolateCurve(x)) << x;
      EXPECT_NEAR(c->InterpolateCurve(x), TrueY(pts, x), 1.5e-3) << x;
    }
  }
  EXPECT_THROW(MakeRef<TCubicBezier>(pts)->InterpolateCurve(0.5), EAbort);  // never split
}

TEST(Curves, UnsplitEvaluationMatchesTheSplitPieces) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> unit(0, 1), any(-2, 3);
  for (int n = 0; n < 40; ++n) {
    TCubicBezierPoints pts = Spline(unit(rng), any(rng), unit(rng), any(rng));
    Ref<TCubicBezier> c = Split(pts);
    for (double x = -0.25; x <= 1.25; x += 0.01) {
      EXPECT_NEAR(EvaluateBezierUnsplit(pts, kSplineTolerance, x), c->InterpolateCurve(x), 1e-6) << n << " " << x;
      EXPECT_EQ(c->EvaluateUnsplit(kSplineTolerance, x), EvaluateBezierUnsplit(pts, kSplineTolerance, x));
    }
  }
}

TEST(Curves, HostileControlValuesStayBoundedAndFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (TCubicBezierPoints pts : {Spline(1e30f, -1e30f, -1e30f, 1e30f), Spline(nan, 0, 0.5f, 1), Spline(inf, 0, 0, 1)}) {
    Ref<TCubicBezier> c = Split(pts);
    EXPECT_LE(c->PieceCount(), 1 << TCurveSeparator::kMaxSplitDepth);
    c->InterpolateCurve(0.5);
    c->InterpolateCurve(std::numeric_limits<double>::quiet_NaN());
    EvaluateBezierUnsplit(pts, kSplineTolerance, 0.5);
  }
  // Every piece vertical: defined, finite answers.
  Ref<TCubicBezier> v = Split(TCubicBezierPoints{FloatPoint(0, 0), FloatPoint(0, 1), FloatPoint(0, 2), FloatPoint(0, 3)});
  for (int i = 0; i < v->PieceCount(); ++i) EXPECT_EQ(v->Piece(i).Slope, 0);
  EXPECT_TRUE(std::isfinite(v->InterpolateCurve(0)));
  EXPECT_TRUE(std::isfinite(v->InterpolateCurve(5)));
}

TEST(Curves, SplineGraphInTheCalculator) {
  RegisterCurveFunctions();
  RegisterCurveFunctions();
  ASSERT_TRUE(FindCalcFunction("qsplinegraph"));
  kav::test::TVarResolver vars;
  vars.Values = {{"x", 0.3}, {"a", 0.25}};
  TExpressionParser0 p;
  EXPECT_EQ(kav::test::Compile(p, "QSplineGraph(x, 0.25, 0.1, 0.25, 1)", vars.AsResolver()),
            "call x|call(1) QSplineGraph-opt(0.25:0.1;0.25:1)");
  TCalcStack s;
  ASSERT_TRUE(EvaluateCode(p.Code, s));
  const double optimised = s.Top;
  EXPECT_NEAR(optimised, TrueY(Spline(0.25f, 0.1f, 0.25f, 1), 0.3), 1.5e-3);

  // One control value from a variable: the five-argument form runs.
  EXPECT_EQ(kav::test::Compile(p, "QSplineGraph(x, a, 0.1, 0.25, 1)", vars.AsResolver()),
            "call x|call a|load 0.1|load 0.25|load 1|call(5) QSplineGraph");
  ASSERT_TRUE(EvaluateCode(p.Code, s));
  EXPECT_NEAR(s.Top, optimised, 1e-6);
  // All constant: folded at compile time.
  EXPECT_EQ(kav::test::Compile(p, "QSplineGraph(0.5, 0, 0, 1, 1)", nullptr), "load 0.5");
}
