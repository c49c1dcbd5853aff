// Independent reference for the rasterizer tests: cairo fills the same path
// with its own anti-aliasing, and both results can be written as PNG files
// for a look.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VoRav/VectorGraphics/vxRasterizerUtils.h"

namespace kav::test {

// Coverage of each pixel, 0..255, row by row.
struct TCoverage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Alpha;
  uint8_t At(int32_t x, int32_t y) const { return Alpha[size_t(y) * size_t(Width) + size_t(x)]; }
};

// cairo fills the path (quadratic curves raised to cubics) in opaque white
// on a transparent surface; the coverage is the alpha channel.
inline TCoverage CairoFill(const TPointArray& path, int32_t w, int32_t h, bool even_odd) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_fill_rule(cr, even_odd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  double cx = 0, cy = 0;
  for (int32_t i = 0; i < path.Count();) {
    const TPathPoint& p = path[i];
    switch (p.Command) {
      case kPathMove:
        cairo_move_to(cr, p.x, p.y);
        cx = p.x, cy = p.y;
        i += 1;
        break;
      case kPathLine:
        cairo_line_to(cr, p.x, p.y);
        cx = p.x, cy = p.y;
        i += 1;
        break;
      case kPathQuadratic: {
        const TPathPoint& e = path[i + 1];
        cairo_curve_to(cr, cx + 2.0 / 3 * (p.x - cx), cy + 2.0 / 3 * (p.y - cy), e.x + 2.0 / 3 * (p.x - e.x),
                       e.y + 2.0 / 3 * (p.y - e.y), e.x, e.y);
        cx = e.x, cy = e.y;
        i += 2;
        break;
      }
      case kPathCubic:
        cairo_curve_to(cr, p.x, p.y, path[i + 1].x, path[i + 1].y, path[i + 2].x, path[i + 2].y);
        cx = path[i + 2].x, cy = path[i + 2].y;
        i += 3;
        break;
      default:
        cairo_close_path(cr);
        i += 1;
        break;
    }
  }
  cairo_set_source_rgba(cr, 1, 1, 1, 1);
  cairo_fill(cr);
  cairo_surface_flush(s);
  TCoverage c{w, h, std::vector<uint8_t>(size_t(w) * size_t(h))};
  const uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint32_t v;
      std::memcpy(&v, data + size_t(y) * size_t(stride) + size_t(x) * 4, 4);
      c.Alpha[size_t(y) * size_t(w) + size_t(x)] = uint8_t(v >> 24);
    }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return c;
}

// Our raster helper fills the path in opaque white on a cleared bitmap.
inline TCoverage OurFill(const TPointArray& path, int32_t w, int32_t h, bool even_odd) {
  Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
  helper->SetFillColor(0xFFFFFFFFu);
  helper->BeginPaintClear(w, h);
  EXPECT_TRUE(helper->DrawPath(path, even_odd));
  Ref<TDirectBitmap> b = helper->EndPaint();
  TCoverage c{w, h, std::vector<uint8_t>(size_t(w) * size_t(h))};
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) c.Alpha[size_t(y) * size_t(w) + size_t(x)] = b->PixelAddress(x, y)[3];
  return c;
}

struct TCoverageDiff {
  int32_t Max = 0;
  double Mean = 0;  // over pixels where either side has coverage
  int64_t Covered = 0;
};

inline TCoverageDiff CompareCoverage(const TCoverage& a, const TCoverage& b) {
  TCoverageDiff d;
  int64_t sum = 0;
  for (size_t i = 0; i < a.Alpha.size(); ++i) {
    const int32_t v = std::abs(int32_t(a.Alpha[i]) - int32_t(b.Alpha[i]));
    d.Max = std::max(d.Max, v);
    if (a.Alpha[i] || b.Alpha[i]) {
      sum += v;
      ++d.Covered;
    }
  }
  d.Mean = d.Covered ? double(sum) / double(d.Covered) : 0;
  return d;
}

// Writes ours | cairo | difference x 4 side by side as a grey PNG into the
// folder named by KAV_DUMP_DIR (nothing when it is not set); small pictures
// are magnified to about 200 pixels.
inline void DumpCoverage(const std::string& name, const TCoverage& ours, const TCoverage& ref) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  if (!dir) return;
  const int32_t z = std::max(1, 200 / ours.Width);
  const int32_t w = ours.Width * z, h = ours.Height * z;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w * 3 + 4, h);
  uint8_t* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  std::memset(data, 0x40, size_t(stride) * size_t(h));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t sx = x / z, sy = y / z;
      const uint8_t v[3] = {ours.At(sx, sy), ref.At(sx, sy),
                            uint8_t(std::min(255, 4 * std::abs(int32_t(ours.At(sx, sy)) - ref.At(sx, sy))))};
      for (int k = 0; k < 3; ++k) {
        const uint32_t g = v[k];
        const uint32_t px = (g << 16) | (g << 8) | g;
        std::memcpy(data + size_t(y) * size_t(stride) + size_t(x + k * (w + 2)) * 4, &px, 4);
      }
    }
  cairo_surface_mark_dirty(s);
  std::filesystem::create_directories(dir);
  cairo_surface_write_to_png(s, (std::filesystem::path(dir) / (name + ".png")).c_str());
  cairo_surface_destroy(s);
}

}  // namespace kav::test
