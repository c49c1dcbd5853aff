#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "../Graphics/FuzzSeeds.h"
#include "VoRav/VectorGraphics/vxSvgUtils.h"

namespace kav {
namespace {

TPointArray Parse(std::string_view text) {
  TPointArray p;
  EXPECT_TRUE(ParsePathText(text, p)) << text;
  return p;
}

void ExpectPoint(const TPathPoint& p, float x, float y, int32_t cmd) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_EQ(p.Command, cmd);
}

TEST(SvgPathParse, CommandsAndImplicitRepeats) {
  TPointArray p = Parse("M0,0 10,0 10,10z");
  ASSERT_EQ(p.Count(), 4);
  ExpectPoint(p[0], 0, 0, kPathMove);
  ExpectPoint(p[1], 10, 0, kPathLine);
  ExpectPoint(p[2], 10, 10, kPathLine);
  EXPECT_EQ(p[3].Command, kPathClose);

  p = Parse("m1 1 l2 0");
  ASSERT_EQ(p.Count(), 2);
  ExpectPoint(p[0], 1, 1, kPathMove);
  ExpectPoint(p[1], 3, 1, kPathLine);

  p = Parse("M0 0 H5 V5");
  ASSERT_EQ(p.Count(), 3);
  ExpectPoint(p[1], 5, 0, kPathLine);
  ExpectPoint(p[2], 5, 5, kPathLine);

  // Relative moves repeat as relative lines; h and v keep the other coordinate.
  p = Parse("m1 1 2 0 0 3 h-1 v-1");
  ASSERT_EQ(p.Count(), 5);
  ExpectPoint(p[2], 3, 4, kPathLine);
  ExpectPoint(p[3], 2, 4, kPathLine);
  ExpectPoint(p[4], 2, 3, kPathLine);

  // Separators are every character up to 32; numbers in exponent form.
  p = Parse("\tM\n1e1\r,2.5E0 L-.5 +3");
  ASSERT_EQ(p.Count(), 2);
  ExpectPoint(p[0], 10, 2.5f, kPathMove);
  ExpectPoint(p[1], -0.5f, 3, kPathLine);

  // The empty text parses to the empty path.
  EXPECT_TRUE(Parse("  ").Empty());
}

TEST(SvgPathParse, CurvesAndSmoothReflections) {
  TPointArray p = Parse("M0 0 C1 2 3 4 5 6 S9 9 10 10");
  ASSERT_EQ(p.Count(), 7);
  ExpectPoint(p[1], 1, 2, kPathCubic);
  ExpectPoint(p[3], 5, 6, kPathCubic);
  // S reflects the previous second control point (3, 4) about (5, 6).
  ExpectPoint(p[4], 7, 8, kPathCubic);
  ExpectPoint(p[6], 10, 10, kPathCubic);

  p = Parse("M0 0 q1 1 2 0 t2 0");
  ASSERT_EQ(p.Count(), 5);
  ExpectPoint(p[1], 1, 1, kPathQuadratic);
  ExpectPoint(p[2], 2, 0, kPathQuadratic);
  ExpectPoint(p[3], 3, -1, kPathQuadratic);
  ExpectPoint(p[4], 4, 0, kPathQuadratic);

  // After a line the smooth control point is the current point.
  p = Parse("M0 0 L4 4 T8 0");
  ASSERT_EQ(p.Count(), 4);
  ExpectPoint(p[2], 4, 4, kPathQuadratic);
  // After Z the next figure starts at the relative move from the figure's start.
  p = Parse("M10 10 L20 10 20 20 Z m5 5 l1 0");
  ASSERT_EQ(p.Count(), 6);
  ExpectPoint(p[4], 15, 15, kPathMove);
}

TEST(SvgPathParse, MalformedTextsGiveEmptyPathAndPosition) {
  struct TCase {
    const char* Text;
    size_t Pos;
  };
  const TCase cases[] = {
      {"M0 0 X5 5", 5},         // not a command letter
      {"M0 0 L5", 7},           // missing argument
      {"M0 0 Z 5 5", 7},        // number right after Z
      {"M0 0 Z L5 5", 8},       // Z must be followed by a move
      {"L5 5", 1},              // no move first
      {"5 5", 0},               // a number with no command to repeat
      {"M0 0 S1 1 2 2", 6},     // S right after a move
      {"M1e999 0", 1},          // not a finite number
      {"M3e38 0 l3e38 0", 15},  // the relative sum leaves the float range
      {"M1-2 3", 1},            // one run of number characters that is no number
      {"M.", 1},
      {"M0 0 L1,,2", 8},  // at most one comma
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TPointArray p;
    p.Add(1, 1, kPathMove);
    size_t pos = 12345;
    EXPECT_FALSE(ParsePathText(c.Text, p, &pos));
    EXPECT_TRUE(p.Empty());
    EXPECT_EQ(pos, c.Pos);
  }
}

TEST(SvgPathParse, HugeTextsAreCappedCleanly) {
  // 10 MB of commands: refused at the point cap, without parsing the rest.
  std::string text = "M0 0";
  while (text.size() < 10'000'000) text += " L1 2 3 4";
  TPointArray p;
  size_t pos = 0;
  EXPECT_FALSE(ParsePathText(text, p, &pos));
  EXPECT_TRUE(p.Empty());
  EXPECT_LT(pos, text.size());
  // A text just under the cap parses.
  std::string ok = "M0 0";
  for (int i = 1; i < kMaxParsedPathPoints; ++i) ok += " 1 1";
  EXPECT_TRUE(ParsePathText(ok, p));
  EXPECT_EQ(p.Count(), kMaxParsedPathPoints);
  // A number of a million digits is refused or read, never crashes.
  std::string digits = "M" + std::string(1'000'000, '9') + " 0";
  EXPECT_FALSE(ParsePathText(digits, p));
  std::string zeros = "M1." + std::string(1'000'000, '0') + "1 0";
  EXPECT_TRUE(ParsePathText(zeros, p));
}

TEST(SvgPathBezier, ValuesMatchTheDefinition) {
  for (double t : {0.0, 0.25, 0.5, 0.9, 1.0}) {
    const double u = 1 - t;
    EXPECT_NEAR(QuadraticBezier(t, 1, 5, -3), u * u * 1 + 2 * t * u * 5 + t * t * -3, 1e-12);
    EXPECT_NEAR(CubicBezier(t, 1, 5, -3, 7), u * u * u + 3 * t * u * u * 5 + 3 * t * t * u * -3 + t * t * t * 7,
                1e-12);
    EXPECT_FLOAT_EQ(CubicBezierSingle(float(t), 1, 5, -3, 7), float(CubicBezier(t, 1, 5, -3, 7)));
  }
}

struct TLineLog {
  std::vector<TFloatPoint> Points;
  bool Flat = true;  // what the flatness test answers
  static void Add(void* d, float x, float y) { static_cast<TLineLog*>(d)->Points.push_back({x, y}); }
  static bool IsFlat(void* d, TFloatPoint a, TFloatPoint b, TFloatPoint) {
    return static_cast<TLineLog*>(d)->Flat || (std::fabs(b.x - a.x) < 2 && std::fabs(b.y - a.y) < 2);
  }
};

TEST(SvgPathFlatten, FlatCurveIsOneLineAndSplitsStayInOrderAndBounded) {
  TLineLog log;
  TFlattenContext c;
  c.P[0] = {0, 0};
  c.P[1] = {0.5f, 0.5f};
  c.P[2] = {1, 0};
  c.AddLine = &TLineLog::Add;
  c.IsFlat = &TLineLog::IsFlat;
  c.Data = &log;
  c.SplitBudget = 100;
  FlattenQuadratic(c, c.P[0], c.P[2], 32, 1, 0);
  ASSERT_EQ(log.Points.size(), 1u);
  EXPECT_FLOAT_EQ(log.Points[0].x, 1);

  // A large cubic: segments follow the curve in order and end at its end.
  log = {};
  log.Flat = false;
  c.P[0] = {0, 0};
  c.P[1] = {0, 100};
  c.P[2] = {100, 100};
  c.P[3] = {100, 0};
  FlattenCubic(c, c.P[0], c.P[3], 32, 1, 0);
  ASSERT_GT(log.Points.size(), 32u);
  EXPECT_LE(log.Points.size(), 101u);  // at most budget + 1
  EXPECT_FLOAT_EQ(log.Points.back().x, 100);
  for (size_t i = 1; i < log.Points.size(); ++i) EXPECT_GE(log.Points[i].x, log.Points[i - 1].x);

  // A never-flat test stops at the capped depth: 2^16 segments, not 2^31.
  log = {};
  c.IsFlat = [](void*, TFloatPoint, TFloatPoint, TFloatPoint) { return false; };
  c.SplitBudget = int64_t(1) << 40;
  FlattenCubic(c, c.P[0], c.P[3], 32, 1, 0);
  EXPECT_EQ(log.Points.size(), size_t(1) << (kMaxFlattenDepth - 1));
}

TEST(SvgPathFuzz, SeedCorpusRunsCleanly) { EXPECT_GE(test::RunFuzzSeeds("svgpath", &FuzzSvgPath), 8); }

}  // namespace
}  // namespace kav
