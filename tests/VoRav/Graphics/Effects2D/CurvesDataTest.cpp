#include <gtest/gtest.h>

#include <cmath>

#include "VoRav/Graphics/Effects2D/CurvesData.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

std::string Be16(int v) { return std::string{char((v >> 8) & 0xFF), char(v & 0xFF)}; }

std::string PointsRecord(const std::vector<std::pair<int, int>>& pts, int count = -1) {
  std::string s = Be16(count < 0 ? int(pts.size()) : count);
  for (auto [x, y] : pts) s += Be16(x) + Be16(y);
  return s;
}

bool Load(TCurvesData& c, const std::string& record) {
  TStringStream s(record);
  return c.LoadFromStream(&s);
}

bool IsIdentity(const TCurvesData& c) {
  for (int x = 0; x < 256; ++x)
    if (c.GetValue(x) != x) return false;
  return true;
}

// The uniform Catmull-Rom curve through `pts` evaluated directly (no forward
// differences): the y of the curve at abscissa x, found by bisection on t in
// the segment whose x range holds x.
double ReferenceY(const std::vector<std::pair<int, int>>& pts, double x) {
  const int n = int(pts.size());
  auto eval = [&](int i, double t, bool want_y) {
    auto v = [&](int j) {
      j = std::clamp(j, 0, n - 1);
      return double(want_y ? pts[size_t(j)].second : pts[size_t(j)].first);
    };
    const double p0 = v(i - 1), p1 = v(i), p2 = v(i + 1), p3 = v(i + 2);
    return 0.5 * (2 * p1 + (-p0 + p2) * t + (2 * p0 - 5 * p1 + 4 * p2 - p3) * t * t +
                  (-p0 + 3 * p1 - 3 * p2 + p3) * t * t * t);
  };
  for (int i = 0; i + 1 < n; ++i) {
    if (x < pts[size_t(i)].first || x > pts[size_t(i + 1)].first) continue;
    double lo = 0, hi = 1;
    for (int k = 0; k < 60; ++k) {
      const double mid = (lo + hi) / 2;
      (eval(i, mid, false) < x ? lo : hi) = mid;
    }
    return eval(i, lo, true);
  }
  return -1;
}

TEST(CurvesData, CreatedAndPresetShapes) {
  TCurvesData c;
  EXPECT_TRUE(IsIdentity(c));
  EXPECT_EQ(c.PresetIndex(), 0);
  c.SelectPreset(0);
  EXPECT_TRUE(IsIdentity(c));
  EXPECT_EQ(c.Name(), "Linear");

  c.SelectPreset(1);
  EXPECT_EQ(c.Name(), "Cone");
  EXPECT_EQ(c.GetValue(0), 0);
  EXPECT_EQ(c.GetValue(128), 255);
  EXPECT_EQ(c.GetValue(255), 0);

  c.SelectPreset(3);
  EXPECT_EQ(c.Name(), "Cove - Deep");
  EXPECT_EQ(c.GetValue(0), 63);
  for (int x = 192; x < 256; ++x) EXPECT_EQ(c.GetValue(x), 255) << x;
}

// Every preset's table follows the spline formula (within the rounding of
// the stepped walk) and passes exactly through its control points.
TEST(CurvesData, PresetsFollowTheCatmullRomFormula) {
  const std::vector<std::vector<std::pair<int, int>>> presets = {
      {{0, 0}, {255, 255}},
      {{0, 0}, {128, 255}, {255, 0}},
      {{0, 255}, {128, 0}, {255, 255}},
      {{1, 63}, {148, 110}, {192, 255}},
      {{0, 127}, {83, 174}, {128, 255}},
      {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}},
      {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}},
      {{0, 0}, {86, 255}, {172, 0}, {255, 255}},
      {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}},
      {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}},
  };
  for (int i = 0; i < kContourPresetCount; ++i) {
    TCurvesData c;
    c.SelectPreset(i);
    const auto& pts = presets[size_t(i)];
    for (auto [x, y] : pts) EXPECT_EQ(c.GetValue(x), y) << "preset " << i << " point " << x;
    for (int x = pts.front().first; x <= pts.back().first; ++x) {
      const double ref = std::clamp(ReferenceY(pts, x), 0.0, 255.0);
      // Steep parts of the curve jump several levels between neighbouring
      // abscissas; the table holds the last step that landed on x.
      const double slope = std::max(std::fabs(ReferenceY(pts, std::min(x + 1.0, 255.0)) - ref),
                                    std::fabs(ref - ReferenceY(pts, std::max(x - 1.0, 0.0))));
      EXPECT_NEAR(c.GetValue(x), ref, 1.5 + slope) << "preset " << i << " x " << x;
    }
  }
}

TEST(CurvesData, BadRecordsResetToIdentity) {
  TCurvesData c;
  c.SelectPreset(1);
  EXPECT_FALSE(Load(c, PointsRecord({{0, 0}}, 1)));
  EXPECT_TRUE(IsIdentity(c));
  c.SelectPreset(1);
  EXPECT_FALSE(Load(c, PointsRecord({}, 256)));
  EXPECT_TRUE(IsIdentity(c));
  c.SelectPreset(1);
  EXPECT_FALSE(Load(c, PointsRecord({{0, 0}, {300, 10}, {255, 255}})));
  EXPECT_TRUE(IsIdentity(c));
  EXPECT_TRUE(c.MiddlePoints().empty());
  EXPECT_EQ(c.LastPoint(), (TCurvePoint{255, 255}));
  // A record cut short raises the stream's read error.
  EXPECT_THROW(Load(c, PointsRecord({{0, 0}, {10, 10}, {255, 255}}).substr(0, 9)), EStreamReadError);
}

TEST(CurvesData, RepeatedAbscissaTakesTheFirstPoint) {
  TCurvesData c;
  ASSERT_TRUE(Load(c, PointsRecord({{0, 0}, {100, 200}, {100, 20}, {255, 255}})));
  EXPECT_EQ(c.MiddlePoints().size(), 2u);
  EXPECT_EQ(c.GetValue(100), 200);
}

TEST(CurvesData, IndexOutsideThePresetsKeepsTheTable) {
  TCurvesData c;
  c.SelectPreset(7);
  const auto ring = c.Table();
  c.SelectPreset(10);
  EXPECT_EQ(c.PresetIndex(), -1);
  EXPECT_TRUE(c.Name().empty());
  EXPECT_EQ(c.Table(), ring);
  c.SelectPreset(-3);
  EXPECT_EQ(c.PresetIndex(), -1);
}

TEST(CurvesData, NameLengthsOutsideTheRangeEmptyTheName) {
  TCurvesData c;
  TStringStream zero(std::string("\0\0\0\0", 4));
  c.LoadNameFromStream(&zero);
  EXPECT_TRUE(c.Name().empty());
  // 1000000 bytes announced: refused without reading (or allocating) them.
  TStringStream big(std::string("\x40\x42\x0F\x00", 4) + "abc");
  c.LoadNameFromStream(&big);
  EXPECT_TRUE(c.Name().empty());
  EXPECT_EQ(big.GetPosition(), 4);
  TStringStream cut(std::string("\x05\0\0\0ab", 6));
  EXPECT_THROW(c.LoadNameFromStream(&cut), EStreamReadError);
  EXPECT_EQ(ContourPresetRecord(10), "");
}

}  // namespace
}  // namespace kav

#include "../FuzzSeeds.h"
#include "VoRav/Graphics/Effects2D/Effects2DFuzz.h"

TEST(Effects2DFuzzCorpus, SeedsAndTheirMutations) {
  EXPECT_GE(kav::test::RunFuzzSeeds("contour", &kav::FuzzContourRecord), 4);
  EXPECT_GE(kav::test::RunFuzzSeeds("shadowkey", &kav::FuzzShadowKey), 3);
  EXPECT_GE(kav::test::RunFuzzSeeds("buttons", &kav::FuzzButtonDescription), 2);
}
