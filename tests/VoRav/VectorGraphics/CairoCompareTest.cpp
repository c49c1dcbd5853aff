// Filled paths compared with cairo filling the same path with its own
// anti-aliasing. Run with KAV_DUMP_DIR=<folder> to get ours | cairo |
// difference x 4 as PNG files.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "CairoReference.h"
#include "VoRav/VectorGraphics/vxSvgUtils.h"

namespace kav {
namespace {

// An ellipse of four cubic arcs, clockwise on screen or against it.
void AddEllipse(TPointArray& p, float cx, float cy, float rx, float ry, bool clockwise) {
  const float k = 0.5522847f;
  const float s = clockwise ? 1.0f : -1.0f;
  p.Add(cx + rx, cy, kPathMove);
  const float pts[4][6] = {
      {rx, s * k * ry, k * rx, s * ry, 0, s * ry},
      {-k * rx, s * ry, -rx, s * k * ry, -rx, 0},
      {-rx, -s * k * ry, -k * rx, -s * ry, 0, -s * ry},
      {k * rx, -s * ry, rx, -s * k * ry, rx, 0},
  };
  for (const auto& q : pts) {
    p.Add(cx + q[0], cy + q[1], kPathCubic);
    p.Add(cx + q[2], cy + q[3], kPathCubic);
    p.Add(cx + q[4], cy + q[5], kPathCubic);
  }
  p.Add(cx + rx, cy, kPathClose);
}

TPointArray FromText(const char* text) {
  TPointArray p;
  EXPECT_TRUE(ParsePathText(text, p)) << text;
  return p;
}

// Coverage counts on a 16 x 16 grid against cairo's exact-area sampling:
// one sub-row (16 of 255) at a nearly horizontal edge, plus flattening.
constexpr int32_t kMaxPixelDifference = 24;
constexpr double kMaxMeanDifference = 4.0;

struct TShape {
  std::string Name;
  TPointArray Path;
  int32_t Width;
  int32_t Height;
  int32_t MaxDifference = kMaxPixelDifference;
  double MeanDifference = kMaxMeanDifference;
};

// A circle as a polygon of 64 corners.
void AddPolygonCircle(TPointArray& p, float cx, float cy, float r) {
  for (int i = 0; i < 64; ++i) {
    const double a = i * 2 * M_PI / 64;
    p.Add(float(cx + r * std::cos(a)), float(cy + r * std::sin(a)), i == 0 ? kPathMove : kPathLine);
  }
}

std::vector<TShape> Shapes() {
  std::vector<TShape> shapes;
  // A glyph-like "O" of 48 pixels: the hole traced against the outline.
  TPointArray o;
  AddEllipse(o, 24.3f, 24.1f, 17.6f, 21.7f, true);
  AddEllipse(o, 24.3f, 24.1f, 9.8f, 14.6f, false);
  shapes.push_back({"glyph_o", o, 48, 48});
  // The same with the hole traced with the outline (non-zero fills it).
  TPointArray o2;
  AddEllipse(o2, 24.3f, 24.1f, 17.6f, 21.7f, true);
  AddEllipse(o2, 24.3f, 24.1f, 9.8f, 14.6f, true);
  shapes.push_back({"glyph_o_same_direction", o2, 48, 48});
  // A glyph-like "A" with a triangular counter, fractional positions.
  shapes.push_back({"glyph_a",
                    FromText("M3.2 46 L20.6 2.4 H27.4 L44.8 46 H37.1 L33.2 35.3 H14.8 L10.9 46 Z "
                             "M17.3 28.6 H30.7 L24 10.2 Z"),
                    48, 48});
  // A glyph-like "S" of quadratic curves, as TrueType outlines are.
  shapes.push_back({"glyph_s",
                    FromText("M38 9 Q30 3 22 3 Q8 3 8 14 Q8 22 20 25.5 Q31 28.5 31 34 Q31 41 22 41 Q14 41 "
                             "8 36 L5 42 Q13 47.5 22.5 47.5 Q39 47.5 39 34 Q39 25 26 21 Q16 18.5 16 14 Q16 "
                             "9.5 22.5 9.5 Q29 9.5 35 14 Z"),
                    48, 48});
  // A self-crossing five-pointed star: the middle differs between the rules.
  shapes.push_back({"pentagram", FromText("M100 10 L153.3 182 L13.6 75 L186.4 75 L46.7 182 Z"), 200, 200});
  // The seed shapes of the path parser's corpus, closed.
  shapes.push_back({"svg_cubic", FromText("M10 80 C 40 10, 65 10, 95 80 S 150 150, 180 80 Z"), 190, 140});
  shapes.push_back({"svg_quadratic", FromText("M10 80 Q 52.5 10, 95 80 T 180 80z"), 190, 140});
  shapes.push_back({"svg_square_hole",
                    FromText("M2.5,2.5 L60,2 60,60 2,60.5 Z M20.3,20 l0,20 20,0 0,-20z"), 64, 64});
  // Small circles at fractional centres and a thin rotated bar.
  TPointArray dots;
  AddEllipse(dots, 5.3f, 5.7f, 3.2f, 3.2f, true);
  AddEllipse(dots, 14.5f, 5.5f, 1.1f, 1.1f, false);
  AddEllipse(dots, 10.25f, 14.75f, 4.6f, 2.4f, true);
  // Curves are flat once their chord is below 2 pixels, so a curve of about
  // a pixel's radius is drawn as a polygon of a few corners: up to 0.3 of a
  // pixel's area apart from cairo's finer flattening.
  shapes.push_back({"small_dots", dots, 20, 20, 80, 10.0});
  // The same dots as fine polygons: the rasterizer alone.
  TPointArray polygons;
  AddPolygonCircle(polygons, 5.3f, 5.7f, 3.2f);
  AddPolygonCircle(polygons, 14.5f, 5.5f, 1.1f);
  AddPolygonCircle(polygons, 10.25f, 14.75f, 2.4f);
  shapes.push_back({"small_polygons", polygons, 20, 20});
  shapes.push_back({"rotated_bar", FromText("M4 30 L30 3.5 L32.2 5.7 L6.2 32.2 Z"), 36, 36});
  return shapes;
}

TEST(RasterizerVsCairo, FilledPathsMatchWithinTolerance) {
  for (const TShape& s : Shapes()) {
    for (bool even_odd : {false, true}) {
      SCOPED_TRACE(s.Name + (even_odd ? " even-odd" : " non-zero"));
      const test::TCoverage ours = test::OurFill(s.Path, s.Width, s.Height, even_odd);
      const test::TCoverage ref = test::CairoFill(s.Path, s.Width, s.Height, even_odd);
      const test::TCoverageDiff d = test::CompareCoverage(ours, ref);
      test::DumpCoverage(s.Name + (even_odd ? "_evenodd" : "_nonzero"), ours, ref);
      EXPECT_GT(d.Covered, 0);
      EXPECT_LE(d.Max, s.MaxDifference);
      EXPECT_LE(d.Mean, s.MeanDifference);
      RecordProperty(s.Name + (even_odd ? "_eo" : "_nz"), std::to_string(d.Max) + "/" + std::to_string(d.Mean));
      std::printf("%-24s %-9s max %3d mean %.2f over %lld pixels\n", s.Name.c_str(),
                  even_odd ? "even-odd" : "non-zero", d.Max, d.Mean, static_cast<long long>(d.Covered));
    }
  }
}

TEST(RasterizerVsCairo, FillRulesDifferWhereTheyShould) {
  const std::vector<TShape> shapes = Shapes();
  // The pentagram's centre is filled only under non-zero; the "O" drawn
  // twice the same way keeps its counter only under even-odd.
  const TShape& star = shapes[4];
  EXPECT_EQ(test::OurFill(star.Path, star.Width, star.Height, false).At(100, 100), 255);
  EXPECT_EQ(test::OurFill(star.Path, star.Width, star.Height, true).At(100, 100), 0);
  const TShape& o2 = shapes[1];
  EXPECT_EQ(test::OurFill(o2.Path, 48, 48, false).At(24, 24), 255);
  EXPECT_EQ(test::OurFill(o2.Path, 48, 48, true).At(24, 24), 0);
  const TShape& o = shapes[0];
  EXPECT_EQ(test::OurFill(o.Path, 48, 48, false).At(24, 24), 0);
}

}  // namespace
}  // namespace kav
