#include "VoRav/Graphics/vxAffineUtils.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr float kMaxPlacedCoordinate = 1073741824.0f;  // 2^30

int32_t FloorInt(float v) { return int32_t(std::floor(v)); }
int32_t CeilInt(float v) { return int32_t(std::ceil(v)); }

TAffineEdge MakeEdge(const TFloatPoint& p, const TFloatPoint& q) {
  const TFloatPoint& upper = p.y < q.y ? p : q;
  const TFloatPoint& lower = p.y < q.y ? q : p;
  TAffineEdge e;
  e.X = upper.x;
  e.Y = upper.y;
  e.Slope = upper.y == lower.y ? 0.0f : float((double(lower.x) - upper.x) / (double(lower.y) - upper.y));
  e.Left = FloorInt(std::min(p.x, q.x));
  e.Top = FloorInt(upper.y);
  e.Right = CeilInt(std::max(p.x, q.x));
  e.Bottom = CeilInt(lower.y);
  return e;
}

// The edge's run in the band, when the edge reaches into it.
bool EdgeRun(const TAffineEdge& e, float y1, float y2, int32_t& left, int32_t& right) {
  if (!(y1 < float(e.Bottom) && y2 > float(e.Top))) return false;
  const float xa = e.X + (y1 - e.Y) * e.Slope;
  const float xb = e.X + (y2 - e.Y) * e.Slope;
  left = std::max(e.Left, FloorInt(std::clamp(std::min(xa, xb), -kMaxPlacedCoordinate, kMaxPlacedCoordinate)));
  right = std::min(e.Right - 1, CeilInt(std::clamp(std::max(xa, xb), -kMaxPlacedCoordinate, kMaxPlacedCoordinate)) - 1);
  return true;
}

}  // namespace

int32_t FloatToFixed(float v) noexcept {
  const double d = std::nearbyint(65536.0 * double(v) - 0.5);
  if (std::isnan(d)) return 0;
  return int32_t(std::clamp(d, -2147483648.0, 2147483647.0));
}

float FixedToFloat(int32_t f) noexcept { return float(f) * 1.5258789e-5f; }

void FloatPointToFixed(const TFloatPoint& p, int32_t& x, int32_t& y) noexcept {
  x = FloatToFixed(p.x);
  y = FloatToFixed(p.y);
}

bool AffineEdgesFromRect(TAffineEdges& rec, int32_t width, int32_t height, const TFloatPoint& origin,
                         const TFloatPoint& axis_x, const TFloatPoint& axis_y) {
  TFrame2D frame;
  if (!InitFrame2D(frame, origin, axis_x, axis_y)) return false;
  const TFloatPoint corners[4] = {
      Frame2DToWorld(frame, TFloatPoint{0, 0}),
      Frame2DToWorld(frame, TFloatPoint{float(width), 0}),
      Frame2DToWorld(frame, TFloatPoint{float(width), float(height)}),
      Frame2DToWorld(frame, TFloatPoint{0, float(height)}),
  };
  // Corners that are not finite or far beyond any bitmap have no integer
  // bounds; such a placement is refused like a degenerate frame.
  for (const TFloatPoint& c : corners)
    if (!(std::fabs(c.x) <= kMaxPlacedCoordinate && std::fabs(c.y) <= kMaxPlacedCoordinate)) return false;
  rec.Width = width;
  rec.Height = height;
  rec.Frame = frame;
  for (int i = 0; i < 4; ++i) rec.Edges[i] = MakeEdge(corners[i], corners[(i + 1) % 4]);
  rec.Bounds = TRect{rec.Edges[0].Left, rec.Edges[0].Top, rec.Edges[0].Right, rec.Edges[0].Bottom};
  for (int i = 1; i < 4; ++i) {
    rec.Bounds.Left = std::min(rec.Bounds.Left, rec.Edges[i].Left);
    rec.Bounds.Top = std::min(rec.Bounds.Top, rec.Edges[i].Top);
    rec.Bounds.Right = std::max(rec.Bounds.Right, rec.Edges[i].Right);
    rec.Bounds.Bottom = std::max(rec.Bounds.Bottom, rec.Edges[i].Bottom);
  }
  return true;
}

bool FindLinesForInterval(const TAffineEdges& rec, float y1, float y2, int32_t& left, int32_t& right) {
  if (!(float(rec.Bounds.Top) < y2 && y1 < float(rec.Bounds.Bottom))) return false;
  bool found = false;
  int32_t l = 0, r = 0;
  for (const TAffineEdge& e : rec.Edges) {
    int32_t el, er;
    if (!EdgeRun(e, y1, y2, el, er)) continue;
    l = found ? std::min(l, el) : el;
    r = found ? std::max(r, er) : er;
    found = true;
  }
  if (!found)
    KAV_ASSERT_FAIL("Line not Found for interval: " + std::to_string(y1) + " - " + std::to_string(y2));
  left = l;
  right = r;
  return true;
}

}  // namespace kav
