// The scanline rasterizer beside cairo filling the same paths with its own
// anti-aliasing: a 48-pixel glyph-like outline and a large star. Each
// iteration makes a cleared bitmap, fills the path and ends the painting.
// BM_ShapeSummary times both sides in alternating rounds and reports the
// median ratio of each pair to cairo.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/VectorGraphics/vxSvgUtils.h"

using namespace kav;

namespace {

TPointArray Glyph() {
  TPointArray p;
  ParsePathText("M38 9 Q30 3 22 3 Q8 3 8 14 Q8 22 20 25.5 Q31 28.5 31 34 Q31 41 22 41 Q14 41 8 36 L5 42 Q13 47.5 "
                "22.5 47.5 Q39 47.5 39 34 Q39 25 26 21 Q16 18.5 16 14 Q16 9.5 22.5 9.5 Q29 9.5 35 14 Z "
                "M44 4 C47 4 47 20 44 20 C41 20 41 4 44 4 Z",
                p);
  return p;
}

// 64 points around (500, 500), radii 490 and 180.
TPointArray Star() {
  TPointArray p;
  for (int i = 0; i < 128; ++i) {
    const double a = i * M_PI / 64, r = (i % 2) ? 180 : 490;
    p.Add(float(500 + r * std::cos(a)), float(500 + r * std::sin(a)), i == 0 ? kPathMove : kPathLine);
  }
  p.Add(0, 0, kPathClose);
  return p;
}

void OursOnce(TRasterHelper* helper, const TPointArray& path, int32_t size) {
  helper->BeginPaintClear(size, size);
  helper->DrawPath(path, false);
  Ref<TDirectBitmap> b = helper->EndPaint();
  benchmark::DoNotOptimize(b->Row(size / 2));
}

void CairoOnce(const TPointArray& path, int32_t size) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(s);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  double cx = 0, cy = 0;
  for (int32_t i = 0; i < path.Count();) {
    const TPathPoint& q = path[i];
    if (q.Command == kPathMove) {
      cairo_move_to(cr, q.x, q.y);
      cx = q.x, cy = q.y, i += 1;
    } else if (q.Command == kPathLine) {
      cairo_line_to(cr, q.x, q.y);
      cx = q.x, cy = q.y, i += 1;
    } else if (q.Command == kPathQuadratic) {
      const TPathPoint& e = path[i + 1];
      cairo_curve_to(cr, cx + 2.0 / 3 * (q.x - cx), cy + 2.0 / 3 * (q.y - cy), e.x + 2.0 / 3 * (q.x - e.x),
                     e.y + 2.0 / 3 * (q.y - e.y), e.x, e.y);
      cx = e.x, cy = e.y, i += 2;
    } else if (q.Command == kPathCubic) {
      cairo_curve_to(cr, q.x, q.y, path[i + 1].x, path[i + 1].y, path[i + 2].x, path[i + 2].y);
      cx = path[i + 2].x, cy = path[i + 2].y, i += 3;
    } else {
      cairo_close_path(cr);
      i += 1;
    }
  }
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_fill(cr);
  cairo_surface_flush(s);
  benchmark::DoNotOptimize(cairo_image_surface_get_data(s));
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}

void Ours(benchmark::State& state, const TPointArray& path, int32_t size) {
  Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
  helper->SetFillColor(0xFFFFFFFFu);
  for (auto _ : state) OursOnce(helper.get(), path, size);
}

void Cairo(benchmark::State& state, const TPointArray& path, int32_t size) {
  for (auto _ : state) CairoOnce(path, size);
}

// Seconds per call of `f`, over `reps` calls.
template <class F>
double SecondsPerCall(F&& f, int reps) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < reps; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / reps;
}

// The median over `rounds` of our time over cairo's, each round timing
// both one after the other, so that a change of load on the machine falls
// on both sides alike.
double MedianRatio(const TPointArray& path, int32_t size, int reps, int rounds, double& ours_us, double& cairo_us) {
  Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
  helper->SetFillColor(0xFFFFFFFFu);
  OursOnce(helper.get(), path, size);
  CairoOnce(path, size);
  std::vector<double> ratios, ours, theirs;
  for (int r = 0; r < rounds; ++r) {
    ours.push_back(SecondsPerCall([&] { OursOnce(helper.get(), path, size); }, reps));
    theirs.push_back(SecondsPerCall([&] { CairoOnce(path, size); }, reps));
    ratios.push_back(ours.back() / theirs.back());
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  ours_us = median(ours) * 1e6;
  cairo_us = median(theirs) * 1e6;
  return median(ratios);
}

void BM_ShapeSummary(benchmark::State& state) {
  const TPointArray glyph = Glyph(), star = Star();
  for (auto _ : state) {
    double ours = 0, cairo = 0;
    state.counters["glyph48_x_cairo"] = MedianRatio(glyph, 48, 2000, 15, ours, cairo);
    state.counters["glyph48_us"] = ours;
    state.counters["glyph48_cairo_us"] = cairo;
    state.counters["star1000_x_cairo"] = MedianRatio(star, 1000, 20, 15, ours, cairo);
    state.counters["star1000_us"] = ours;
    state.counters["star1000_cairo_us"] = cairo;
  }
}

void BM_RasterGlyph48(benchmark::State& state) { Ours(state, Glyph(), 48); }
void BM_CairoGlyph48(benchmark::State& state) { Cairo(state, Glyph(), 48); }
void BM_RasterStar1000(benchmark::State& state) { Ours(state, Star(), 1000); }
void BM_CairoStar1000(benchmark::State& state) { Cairo(state, Star(), 1000); }

BENCHMARK(BM_RasterGlyph48);
BENCHMARK(BM_CairoGlyph48);
BENCHMARK(BM_RasterStar1000);
BENCHMARK(BM_CairoStar1000);
BENCHMARK(BM_ShapeSummary)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
