#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "../Graphics/GraphicsTestUtil.h"
#include "VoRav/VectorGraphics/vxRasterizer.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"

namespace kav {
namespace {

// Collects the coverage handed to the span callback, one entry per pixel; a
// pixel handed on twice (a row flushed before it was complete) fails.
struct TSpanLog {
  std::map<std::pair<int32_t, int32_t>, int32_t> Cells;
  void OnSpan(TOutline*, int32_t row, int32_t first, int32_t count, const uint16_t* cells) {
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(Cells.count({first + i, row}), 0u) << first + i << "," << row;
      EXPECT_GT(cells[i], 0);
      EXPECT_LE(cells[i], 256);
      Cells[{first + i, row}] += cells[i];
    }
  }
  int32_t At(int32_t x, int32_t y) const {
    auto it = Cells.find({x, y});
    return it == Cells.end() ? 0 : it->second;
  }
};

using Poly = std::vector<TFloatPoint>;

TSpanLog Rasterize(const std::vector<Poly>& figures, bool even_odd, int32_t w = 16, int32_t h = 16,
                   bool reference = false) {
  TSpanLog log;
  Ref<TOutline> o = MakeRef<TOutline>();
  Ref<TRasterizer> r = MakeRef<TRasterizer>();
  o->SetOnSpan(TSpanCallback::Bind<&TSpanLog::OnSpan>(&log));
  o->SetEvenOdd(even_odd);
  for (const Poly& f : figures) {
    o->MoveTo(f[0]);
    for (size_t i = 1; i < f.size(); ++i) o->AddPoint(f[i]);
  }
  if (reference)
    r->FillReference(o.get(), w, h);
  else
    r->Fill(o.get(), w, h);
  return log;
}

Poly Rect(float l, float t, float r, float b, bool clockwise = true) {
  return clockwise ? Poly{{l, t}, {r, t}, {r, b}, {l, b}} : Poly{{l, t}, {l, b}, {r, b}, {r, t}};
}

TEST(Rasterizer, CoverageOfWholeAndPartialPixels) {
  TSpanLog one = Rasterize({Rect(0, 0, 1, 1)}, false);
  EXPECT_EQ(one.Cells.size(), 1u);
  EXPECT_EQ(one.At(0, 0), 256);

  TSpanLog half = Rasterize({Rect(3, 2, 3.5f, 3)}, false);
  EXPECT_EQ(half.Cells.size(), 1u);
  EXPECT_EQ(half.At(3, 2), 128);

  // A quarter pixel from the top half and the right half.
  TSpanLog quarter = Rasterize({Rect(5.5f, 1, 6, 1.5f)}, false);
  EXPECT_EQ(quarter.At(5, 1), 64);

  // A rectangle spanning several pixels: full inside, fractions on its edges.
  TSpanLog wide = Rasterize({Rect(1.25f, 1, 4.75f, 3)}, false);
  EXPECT_EQ(wide.At(1, 1), 192);
  EXPECT_EQ(wide.At(2, 2), 256);
  EXPECT_EQ(wide.At(4, 1), 192);
  EXPECT_EQ(wide.At(5, 1), 0);
  EXPECT_EQ(wide.At(0, 0), 0);
}

TEST(Rasterizer, FillRulesAndWindingDirections) {
  const std::vector<Poly> overlap = {Rect(0, 0, 4, 4), Rect(2, 0, 6, 4)};
  TSpanLog eo = Rasterize(overlap, true);
  TSpanLog nz = Rasterize(overlap, false);
  EXPECT_EQ(eo.At(1, 1), 256);
  EXPECT_EQ(eo.At(3, 1), 0);
  EXPECT_EQ(nz.At(3, 1), 256);

  // One figure traced either way fills under non-zero.
  EXPECT_EQ(Rasterize({Rect(0, 0, 3, 3, true)}, false).At(1, 1), 256);
  EXPECT_EQ(Rasterize({Rect(0, 0, 3, 3, false)}, false).At(1, 1), 256);

  // Two separate figures on the same rows traced in opposite directions both
  // fill under non-zero (the second one's winding is -1, not 0).
  TSpanLog two = Rasterize({Rect(0, 0, 3, 3, true), Rect(5, 0, 8, 3, false)}, false);
  EXPECT_EQ(two.At(1, 1), 256);
  EXPECT_EQ(two.At(6, 1), 256);

  // A hole traced against the outer figure is empty under both rules; one
  // traced with it only under even-odd.
  const Poly outer = Rect(0, 0, 9, 9, true);
  EXPECT_EQ(Rasterize({outer, Rect(3, 3, 6, 6, false)}, false).At(4, 4), 0);
  EXPECT_EQ(Rasterize({outer, Rect(3, 3, 6, 6, true)}, false).At(4, 4), 256);
  EXPECT_EQ(Rasterize({outer, Rect(3, 3, 6, 6, true)}, true).At(4, 4), 0);
}

TEST(Rasterizer, EdgesOutsideTheAreaAndDegenerateFigures) {
  // Only horizontal edges: nothing.
  EXPECT_TRUE(Rasterize({Poly{{0, 1.5f}, {8, 1.5f}}}, false).Cells.empty());
  // A figure left of, above and beyond the area is cut, never written outside.
  TSpanLog cut = Rasterize({Rect(-5, -5, 2, 2), Rect(14, 14, 40, 40)}, false, 16, 16);
  for (const auto& [pos, c] : cut.Cells) {
    EXPECT_GE(pos.first, 0);
    EXPECT_LT(pos.first, 16);
    EXPECT_GE(pos.second, 0);
    EXPECT_LT(pos.second, 16);
  }
  EXPECT_EQ(cut.At(0, 0), 256);
  EXPECT_EQ(cut.At(15, 15), 256);
  EXPECT_EQ(cut.Cells.size(), 4u + 4u);
  // Figures far apart vertically: rows in between are skipped, each row is
  // pixel is handed on once (checked by the log).
  TSpanLog gap = Rasterize({Rect(0, 0.5f, 2, 1.25f), Rect(0, 1.5f, 2, 1.75f), Rect(0, 12.25f, 2, 13)}, false);
  EXPECT_EQ(gap.At(0, 0), 128);
  EXPECT_EQ(gap.At(0, 1), 64 + 64);
  EXPECT_EQ(gap.At(0, 12), 192);

  Ref<TOutline> o = MakeRef<TOutline>();
  EXPECT_ABORT_WITH(o->AddPoint({1, 1}), "TOutline.AddPoint Error: No Start Point or Closed Outline");
  o->MoveTo({0, 0});
  o->AddPoint({1, 1});
  o->Close();
  EXPECT_ABORT_WITH(o->AddPoint({1, 1}), "TOutline.AddPoint Error: No Start Point or Closed Outline");
  EXPECT_EQ(ToSubPixel(std::nanf("")), 0);
  EXPECT_EQ(ToSubPixel(1e30f), 2147483647);
  EXPECT_EQ(ToSubPixel(-1e30f), -2147483647);
  EXPECT_EQ(ToSubPixel(0.03125f), 0);  // 0.5 sub-pixel rounds to even
}

Ref<TRasterHelper> WhiteHelper(int32_t w, int32_t h) {
  Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
  helper->SetFillColor(0xFFFFFFFFu);
  helper->BeginPaintClear(w, h);
  return helper;
}

uint8_t AlphaAt(TDirectBitmap* b, int32_t x, int32_t y) { return b->PixelAddress(x, y)[3]; }

TEST(RasterHelper, RefusesMalformedPaths) {
  Ref<TRasterHelper> h = WhiteHelper(8, 8);
  TPointArray p;
  p.Add(1, 1, kPathLine);
  EXPECT_FALSE(h->DrawPath(p, false));  // no move first
  p.Clear();
  p.Add(0, 0, kPathMove);
  p.Add(1, 1, kPathClose);
  p.Add(2, 2, kPathLine);
  EXPECT_FALSE(h->DrawPath(p, false));  // no move after an end of figure
  p.Clear();
  p.Add(0, 0, kPathMove);
  p.Add(4, 4, kPathCubic);
  p.Add(4, 0, kPathCubic);
  EXPECT_FALSE(h->DrawPath(p, false));  // cubic without its end point
  p.Clear();
  p.Add(0, 0, kPathMove);
  p.Add(4, 4, 7);
  EXPECT_FALSE(h->DrawPath(p, false));  // unknown command
  p.Clear();
  p.Add(0, 0, kPathMove);
  p.Add(std::nanf(""), 4, kPathLine);
  EXPECT_FALSE(h->DrawPath(p, false));
  Ref<TDirectBitmap> b = h->EndPaint();
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(AlphaAt(b.get(), x, y), 0);
}

TEST(RasterHelper, PaintLifecycleAssertions) {
  Ref<TRasterHelper> h = MakeRef<TRasterHelper>();
  EXPECT_ABORT_WITH(h->EndPaint(), "No Previous Call of TRasterHelper.BeginPaint");
  EXPECT_ABORT_WITH(h->BeginPaint(0, 5, 0), "TRasterHelper.BeginPaint: W or H = 0");
  h->BeginPaint(4, 4, 0xFF102030u);
  EXPECT_ABORT_WITH(h->BeginPaint(4, 4, 0), "Previous TRasterHelper.BeginPaint not Closed");
  Ref<TDirectBitmap> b = h->EndPaint();
  uint32_t px;
  std::memcpy(&px, b->PixelAddress(3, 3), 4);
  EXPECT_EQ(px, 0xFF102030u);
  EXPECT_FALSE(h->Painting());
  // Releasing a helper that still paints reports and frees, never throws.
  Ref<TRasterHelper> open = MakeRef<TRasterHelper>();
  open->BeginPaint(2, 2, 0);
  open = nullptr;
}

TEST(RasterHelper, TransformClipStrokeAndColour) {
  TPointArray sq;
  sq.Add(0, 0, kPathMove);
  sq.Add(1, 0, kPathLine);
  sq.Add(1, 1, kPathLine);
  sq.Add(0, 1, kPathLine);
  Ref<TRasterHelper> h = WhiteHelper(8, 8);
  h->Transform(AffineScale(3, 2));
  h->Transform(AffineTranslation(1, 1));
  ASSERT_TRUE(h->DrawPath(sq, false));
  Ref<TDirectBitmap> b = h->EndPaint();
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x)
      EXPECT_EQ(AlphaAt(b.get(), x, y), (x >= 1 && x < 4 && y >= 1 && y < 3) ? 255 : 0) << x << "," << y;

  // The clip rectangle limits the painted pixels.
  h = WhiteHelper(8, 8);
  h->SetClipRect(TRect{2, 3, 5, 6});
  h->Transform(AffineScale(8, 8));
  ASSERT_TRUE(h->DrawPath(sq, false));
  b = h->EndPaint();
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x)
      EXPECT_EQ(AlphaAt(b.get(), x, y), (x >= 2 && x < 5 && y >= 3 && y < 6) ? 255 : 0) << x << "," << y;

  // An open stroke of width 2 along y = 5 covers rows 4 and 5 from x 2 to 10.
  h = WhiteHelper(12, 10);
  h->SetStrokeMode(2);
  h->SetStrokeWidth(2);
  TPointArray line;
  line.Add(2, 5, kPathMove);
  line.Add(10, 5, kPathLine);
  ASSERT_TRUE(h->DrawPath(line, false));
  b = h->EndPaint();
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 12; ++x)
      EXPECT_EQ(AlphaAt(b.get(), x, y), (x >= 2 && x < 10 && y >= 4 && y < 6) ? 255 : 0) << x << "," << y;

  // A closed stroke of a square is a ring; a width of 0 draws nothing.
  h = WhiteHelper(12, 12);
  h->SetStrokeMode(1);
  h->SetStrokeWidth(2);
  TPointArray ring;
  ring.Add(2, 2, kPathMove);
  ring.Add(10, 2, kPathLine);
  ring.Add(10, 10, kPathLine);
  ring.Add(2, 10, kPathLine);
  ring.Add(2, 2, kPathLine);
  ASSERT_TRUE(h->DrawPath(ring, false));
  h->SetStrokeWidth(0);
  ASSERT_TRUE(h->DrawPath(sq, false));
  b = h->EndPaint();
  EXPECT_EQ(AlphaAt(b.get(), 6, 6), 0);
  EXPECT_EQ(AlphaAt(b.get(), 6, 2), 255);
  EXPECT_EQ(AlphaAt(b.get(), 2, 6), 255);
  EXPECT_EQ(AlphaAt(b.get(), 0, 0), 0);

  // Partial coverage scales the colour's alpha and blends over the target.
  h = MakeRef<TRasterHelper>();
  h->BeginPaint(2, 1, 0xFF000000u);
  h->SetFillColor(0xFFFFFFFFu);
  TPointArray halfpx;
  halfpx.Add(0, 0, kPathMove);
  halfpx.Add(0.5f, 0, kPathLine);
  halfpx.Add(0.5f, 1, kPathLine);
  halfpx.Add(0, 1, kPathLine);
  ASSERT_TRUE(h->DrawPath(halfpx, false));
  b = h->EndPaint();
  uint32_t px;
  std::memcpy(&px, b->PixelAddress(0, 0), 4);
  EXPECT_EQ(px, BlendPixelOver(0xFF000000u, 0x7FFFFFFFu));
}

// The painter writes groups of pixels at once where "over" needs no blend;
// every pixel must still be what "over" gives for the colour scaled by its
// coverage, over targets that are empty, opaque, partly transparent and
// mixed, for opaque, translucent and nearly clear colours.
TEST(RasterHelper, SolidSpansGiveThePerPixelOver) {
  std::mt19937 rng(4242);
  std::uniform_real_distribution<float> coord(-4, 44);
  const TColor32 colors[] = {0xFFFFFFFFu, 0xFF2060A0u, 0x80FF8000u, 0x01FFFFFFu, 0xFE102030u};
  for (int round = 0; round < 60; ++round) {
    const int32_t w = 40, h = 24;
    std::vector<Poly> figures(1 + round % 3);
    for (Poly& f : figures)
      for (int i = 0; i < 3 + int(rng() % 8); ++i) f.push_back({coord(rng), coord(rng) * 0.5f});
    const TColor32 color = colors[round % 5];
    // Background: each pixel's alpha drawn from 0, 255 and values between.
    std::vector<TColor32> under(size_t(w) * h);
    for (TColor32& px : under) {
      const uint32_t pick = rng() % 4;
      const uint32_t alpha = pick == 0 ? 0 : pick == 1 ? 255 : rng() % 256;
      px = (alpha << 24) | (rng() & 0x00FFFFFFu);
    }
    if (round % 4 == 0) std::fill(under.begin(), under.end(), 0x00000000u);
    Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
    helper->BeginPaint(w, h, 0);
    for (int32_t y = 0; y < h; ++y) std::memcpy(helper->Target()->Row(y), under.data() + size_t(y) * w, size_t(w) * 4);
    helper->SetFillColor(color);
    TPointArray path;
    for (const Poly& f : figures) {
      path.Add(f[0].x, f[0].y, kPathMove);
      for (size_t i = 1; i < f.size(); ++i) path.Add(f[i].x, f[i].y, kPathLine);
      path.Add(0, 0, kPathClose);
    }
    ASSERT_TRUE(helper->DrawPath(path, round % 2 == 1));
    Ref<TDirectBitmap> b = helper->EndPaint();
    const TSpanLog log = Rasterize(figures, round % 2 == 1, w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t c = uint32_t(log.At(x, y));
        TColor32 want = under[size_t(y) * w + size_t(x)];
        if (c > 0) {
          const TColor32 src = c < 256 ? ColorSetAlpha(color, uint8_t((ColorAlpha(color) * c) >> 8)) : color;
          want = BlendPixelOver(want, src);
        }
        TColor32 got;
        std::memcpy(&got, b->PixelAddress(x, y), 4);
        ASSERT_EQ(got, want) << "round " << round << " at " << x << "," << y;
      }
  }
}

TEST(RasterHelper, GradientLooksUpTheProjectedPixel) {
  auto g = std::make_unique<TRasterGradient>();
  g->Origin = {0, 0};
  g->Axis = {1, 0};
  g->Scale = 1024.0f / 8;
  for (int i = 0; i <= 1024; ++i) g->Colors[size_t(i)] = ColorRGBA(uint8_t(i / 4 > 255 ? 255 : i / 4), 0, 0, 255);
  Ref<TRasterHelper> h = WhiteHelper(8, 1);
  h->SetGradient(std::move(g));
  TPointArray all;
  all.Add(-1, 0, kPathMove);
  all.Add(9, 0, kPathLine);
  all.Add(9, 1, kPathLine);
  all.Add(-1, 1, kPathLine);
  ASSERT_TRUE(h->DrawPath(all, false));
  Ref<TDirectBitmap> b = h->EndPaint();
  for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(b->PixelAddress(x, 0)[2], uint8_t(int((x + 0.5) * 128) / 4)) << x;
}

TEST(RasterHelper, HostilePathsStayBounded) {
  // Enormous coordinates are clamped; a curve that never gets flat on the
  // bitmap is bounded by the split budget and the depth cap.
  TPointArray p;
  p.Add(0, 0, kPathMove);
  p.Add(1e30f, -1e30f, kPathCubic);
  p.Add(-1e30f, 1e30f, kPathCubic);
  p.Add(64, 64, kPathCubic);
  for (int i = 0; i < 40; ++i) {
    p.Add(float(i * 1e7), 3e7f, kPathQuadratic);
    p.Add(float(i), 5, kPathQuadratic);
  }
  const auto t0 = std::chrono::steady_clock::now();
  Ref<TRasterHelper> h = WhiteHelper(64, 64);
  EXPECT_TRUE(h->DrawPath(p, false));
  h->EndPaint();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  {
    // The fuzz entry point's lower budget: the same path still draws, and
    // the budget comes back with the scope.
    const TFuzzPathSplits splits;
    EXPECT_EQ(PathSplitBudget(), TFuzzPathSplits::kFuzz);
    Ref<TRasterHelper> low = WhiteHelper(64, 64);
    EXPECT_TRUE(low->DrawPath(p, false));
    low->EndPaint();
    EXPECT_EQ(SetPathSplitBudget(0), TFuzzPathSplits::kFuzz);
    EXPECT_EQ(PathSplitBudget(), 1);
    SetPathSplitBudget(TFuzzPathSplits::kFuzz);
  }
  EXPECT_EQ(PathSplitBudget(), kMaxPathSplits);
}

// The stepped crossings and the difference row must give exactly the
// coverage of the plain path: random figures of every slope (tiny, steep,
// 45 degrees, exact halves), overlapping, reaching out of the area on every
// side, crossing each other, with both fill rules and several area sizes.
TEST(Rasterizer, FastPathMatchesThePlainOne) {
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<float> coord(-20, 120);
  std::uniform_int_distribution<int> kind(0, 5);
  int drawn = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<Poly> figures;
    const int nfig = 1 + round % 4;
    for (int f = 0; f < nfig; ++f) {
      Poly poly;
      const int npts = 3 + int(rng() % 12);
      for (int i = 0; i < npts; ++i) {
        TFloatPoint p{coord(rng), coord(rng)};
        if (i > 0) {
          const TFloatPoint q = poly.back();
          switch (kind(rng)) {
            case 0: p.y = q.y + 0.03125f; break;                       // nearly horizontal
            case 1: p.x = q.x + (p.y - q.y) * 1e-6f; break;            // nearly vertical
            case 2: p.x = q.x + (p.y - q.y); break;                    // 45 degrees
            case 3: p = {std::round(p.x * 2) / 2, std::round(p.y * 2) / 2}; break;  // halves
            default: break;
          }
        }
        poly.push_back(p);
      }
      figures.push_back(poly);
    }
    const bool even_odd = round % 2 == 0;
    const int32_t w = 1 + round % 100, h = 1 + (round * 7) % 100;
    TSpanLog fast = Rasterize(figures, even_odd, w, h);
    TSpanLog plain = Rasterize(figures, even_odd, w, h, true);
    ASSERT_EQ(fast.Cells, plain.Cells) << "round " << round;
    drawn += fast.Cells.empty() ? 0 : 1;
  }
  EXPECT_GT(drawn, 300);
  // Edges too tall or too flat to be stepped are recomputed instead.
  const std::vector<Poly> huge = {{{-1e6f, -1e6f}, {1e6f, 2e6f}, {3.5f, 40}, {-2e6f, 9.25f}}};
  EXPECT_EQ(Rasterize(huge, false, 64, 64).Cells, Rasterize(huge, false, 64, 64, true).Cells);
}

}  // namespace
}  // namespace kav
