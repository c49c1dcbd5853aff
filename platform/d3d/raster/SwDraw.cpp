#include "platform/d3d/raster/SwDraw.h"

#include <algorithm>
#include <cmath>

#include "platform/d3d/raster/SwFastQuad.h"
#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwPipeline.h"

namespace kav {

uint32_t SwVertexCount(TSwPrimitive type, uint32_t n) {
  if (n == 0) return 0;
  switch (type) {
    case TSwPrimitive::PointList: return n;
    case TSwPrimitive::LineList: return 2 * n;
    case TSwPrimitive::LineStrip: return n + 1;
    case TSwPrimitive::TriangleList: return 3 * n;
    default: return n + 2;
  }
}

namespace {

inline bool Inside(const TSwRect& r, int32_t x, int32_t y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void DrawPoint(const TSwPixelState& ps, const TSwClipVertex& v, int32_t nattr, const TSwViewMapping& map) {
  if (!(v.w > 0.0f)) return;
  TSwScreenVertex s = SwToScreen(v, nattr, map);
  if (!(std::fabs(s.x) < 1e9f && std::fabs(s.y) < 1e9f)) return;
  int32_t x = int32_t(std::nearbyint(s.x)), y = int32_t(std::nearbyint(s.y));
  if (Inside(ps.Clip, x, y)) SwShadePixel(ps, s.a, nullptr, x, y);
}

// A one-pixel line stepping along its major axis from the first end point
// up to (not including) the second; attributes interpolated linearly.
void DrawLine(const TSwPixelState& ps, const TSwClipVertex& a, const TSwClipVertex& b, int32_t nattr,
              const TSwViewMapping& map) {
  if (!(a.w > 0.0f) || !(b.w > 0.0f)) return;
  TSwScreenVertex p = SwToScreen(a, nattr, map), q = SwToScreen(b, nattr, map);
  for (float c : {p.x, p.y, q.x, q.y})
    if (!(std::fabs(c) < 1e9f)) return;  // far off screen (or invalid): nothing to draw
  float dx = q.x - p.x, dy = q.y - p.y;
  float len = std::max(std::fabs(dx), std::fabs(dy));
  if (!(len >= 0.5f) || !(len < 65536.0f)) return;
  int32_t steps = int32_t(std::nearbyint(len));
  float attr[kSwMaxAttrs];
  for (int32_t i = 0; i < steps; ++i) {
    float t = float(i) / len;
    int32_t x = int32_t(std::nearbyint(p.x + dx * t)), y = int32_t(std::nearbyint(p.y + dy * t));
    if (!Inside(ps.Clip, x, y)) continue;
    for (int k = 0; k < nattr; ++k) attr[k] = p.a[k] + (q.a[k] - p.a[k]) * t;
    SwShadePixel(ps, attr, nullptr, x, y);
  }
}

}  // namespace

TSwRect SwDraw(const TSwPixelState& ps, const TSwDrawRequest& req, TSwDrawScratch& sc) {
  if (ps.Clip.Empty()) return TSwRect{};
  const int32_t nattr = SwAttrCount(req.Vertices.Fvf);
  const TSwViewMapping map = TSwViewMapping::From(req.Viewport);
  SwTransformVertices(req.Vertices, req.Wvp, map, sc.Clip);
  const auto& v = sc.Clip;

  switch (req.Type) {
    case TSwPrimitive::PointList:
      for (uint32_t i = 0; i < req.PrimitiveCount; ++i) DrawPoint(ps, v[i], nattr, map);
      return ps.Clip;
    case TSwPrimitive::LineList:
      for (uint32_t i = 0; i < req.PrimitiveCount; ++i) DrawLine(ps, v[2 * i], v[2 * i + 1], nattr, map);
      return ps.Clip;
    case TSwPrimitive::LineStrip:
      for (uint32_t i = 0; i < req.PrimitiveCount; ++i) DrawLine(ps, v[i], v[i + 1], nattr, map);
      return ps.Clip;
    default: break;
  }

  SwAssembleTriangles(req.Type, req.PrimitiveCount, sc.Indices);
  const bool clip_depth = (req.Vertices.Fvf & SwFvfXYZRHW) == 0;
  sc.Screen.clear();
  sc.Tris.clear();
  for (size_t i = 0; i + 2 < sc.Indices.size(); i += 3) {
    size_t first = sc.Screen.size();
    SwClipTriangle(v[sc.Indices[i]], v[sc.Indices[i + 1]], v[sc.Indices[i + 2]], nattr, clip_depth, map, sc.Screen);
    for (size_t k = first; k + 2 < sc.Screen.size(); k += 3) {
      TSwTriSetup t;
      if (SwSetupTriangle(sc.Screen[k], sc.Screen[k + 1], sc.Screen[k + 2], nattr, ps.Clip, req.Cull, t))
        sc.Tris.push_back(t);
    }
  }
  if (sc.Tris.empty()) return TSwRect{};
  TSwRect touched{sc.Tris[0].MinX, sc.Tris[0].MinY, sc.Tris[0].MaxX, sc.Tris[0].MaxY};
  int64_t pixels = 0;
  for (const TSwTriSetup& t : sc.Tris) {
    touched.left = std::min(touched.left, t.MinX);
    touched.top = std::min(touched.top, t.MinY);
    touched.right = std::max(touched.right, t.MaxX);
    touched.bottom = std::max(touched.bottom, t.MaxY);
    pixels += int64_t(t.MaxX - t.MinX) * (t.MaxY - t.MinY) / 2;
  }
  if (req.FastPaths && SwTryFastQuad(ps, sc.Tris.data(), sc.Tris.size(), req.Threads)) return touched;
  const int32_t y0 = touched.top, y1 = touched.bottom;
  TSwSpanPlan plan;
  const bool kernel = req.FastPaths && ps.Kernel;
  const bool fast = req.FastPaths && !ps.Kernel && SwPlanFastSpans(ps, plan);
  (fast || kernel ? SwRasterStats().FastSpanDraws : SwRasterStats().ReferenceDraws)
      .fetch_add(1, std::memory_order_relaxed);
  if (fast && plan.Int) SwRasterStats().IntSpanDraws.fetch_add(1, std::memory_order_relaxed);
  const std::vector<TSwTriSetup>& tris = sc.Tris;
  SwForBands(y0, y1, pixels, req.Threads, [&](int32_t b0, int32_t b1) {
    for (const TSwTriSetup& t : tris) {
      int32_t r0 = std::max(b0, t.MinY), r1 = std::min(b1, t.MaxY);
      if (fast && plan.Int) {
        SwShadeTriangleIntAvx2(ps, plan, t, r0, r1);
        continue;
      }
      for (int32_t y = r0; y < r1; ++y) {
        int32_t x0, x1;
        if (!SwTriangleSpan(t, y, x0, x1)) continue;
        if (kernel) SwShadeSpanKernel(ps, t, y, x0, x1);
        else if (fast) SwShadeSpanFast(ps, plan, t, y, x0, x1);
        else SwShadeSpanReference(ps, t, nattr, y, x0, x1);
      }
    }
  });
  return touched;
}

}  // namespace kav
