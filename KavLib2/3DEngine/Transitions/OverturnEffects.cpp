#include "KavLib2/3DEngine/Transitions/OverturnEffects.h"

#include <algorithm>
#include <cmath>

namespace kav {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kClearColour = 0xFF000000u;

// Every tile of the grid painted opaque black (the frame around a turning
// card is black whatever was drawn there before).
void ClearTiles(TEffController* c) {
  for (int32_t col = 0; col < c->Cols(); ++col)
    for (int32_t row = 0; row < c->Rows(); ++row) {
      TEffTile* t = c->GetTile(col, row);
      const float l = float(t->Bounds.Left), tp = float(t->Bounds.Top), r = float(t->Bounds.Right),
                  b = float(t->Bounds.Bottom);
      const TEffVertex v[6] = {{l, tp, 0}, {r, tp, 0}, {l, b, 0}, {r, tp, 0}, {r, b, 0}, {l, b, 0}};
      t->Begin(1, 0);
      t->AddColourTriangles(v, 6, kClearColour);
      t->End();
    }
}

// The tile's rectangle clipped to `r`; false when nothing is left.
bool Clip(const TEffTile* t, const TRect& r, float& l, float& tp, float& rt, float& b) {
  l = float(std::max(t->Bounds.Left, r.Left));
  tp = float(std::max(t->Bounds.Top, r.Top));
  rt = float(std::min(t->Bounds.Right, r.Right));
  b = float(std::min(t->Bounds.Bottom, r.Bottom));
  return rt > l && b > tp;
}

// Two triangles of the quadrilateral (corners top-left, top-right,
// bottom-left, bottom-right).
void EmitDepthQuad(TEffTile* t, const TEffDepthVertex q[4]) {
  const TEffDepthVertex v[6] = {q[0], q[1], q[2], q[1], q[3], q[2]};
  t->AddDepthTriangles(v, 6);
}

// Largest depth (as a fraction of the picture's height) a piece may reach
// toward the viewer: the eye is one height in front of the picture.
constexpr double kMaxNearDepth = 0.8;

}  // namespace

double SmoothEase(double x) { return x < 0.5 ? 2 * x * x : 1 - 2 * (1 - x) * (1 - x); }

// ---- Overturn ----

TOverturnEffect::TOverturnEffect(int32_t direction, bool add_four, bool smooth, float depth)
    // Directions outside 1-4 turn like direction 1 (instead of failing).
    : Direction((direction >= 1 && direction <= 4 ? direction : 1) + (add_four ? 4 : 0)),
      Smooth(smooth),
      Depth(std::isfinite(depth) ? std::max(depth, 0.0f) : 0.0f) {}

void TOverturnEffect::DrawFrame(TEffController* c) {
  if (!c) return;
  const double p = Progress();
  double theta = kPi * (Smooth ? SmoothEase(p) : p);
  ClearTiles(c);
  const bool vertical = Direction == 1 || Direction == 2 || Direction == 5 || Direction == 6;
  if (Direction % 2 == 1) theta = -theta;
  const bool second = Direction > 4;
  const TRect& r = DrawRect;
  const double w = r.Width(), h = r.Height();
  if (!(w > 0) || !(h > 0)) return;
  // Along the turning picture (x for a vertical line) and across it.
  const double along0 = vertical ? r.Left : r.Top, span = vertical ? w : h;
  const double centre = along0 + span * 0.5, half = span * 0.5;
  const double s = std::abs(theta) < kPi / 2 ? 1.0 : -1.0;
  const double u = std::cos(theta) * half * s;
  // The depth scale is capped so no edge comes up to the eye.
  const double depth = std::min(double(Depth), half > 0 ? kMaxNearDepth * h / half : 0.0);
  const double z = std::sin(theta) * half * depth * s;
  const double z_hi = second ? -z : std::abs(z) - z;  // right (or bottom) edge
  const double z_lo = second ? z : std::abs(z) + z;
  const float level = float(std::floor(100 + 155 * std::abs(std::cos(theta))));
  for (int32_t col = 0; col < c->Cols(); ++col)
    for (int32_t row = 0; row < c->Rows(); ++row) {
      TEffTile* t = c->GetTile(col, row);
      float l, tp, rt, b;
      if (!Clip(t, r, l, tp, rt, b)) continue;
      TEffDepthVertex q[4];
      const float xs[2] = {l, rt}, ys[2] = {tp, b};
      for (int k = 0; k < 4; ++k) {
        const float x = xs[k % 2], y = ys[k / 2];
        const double f = ((vertical ? x : y) - along0) / span;
        const double pos = centre - u + f * 2 * u;
        const double dz = z_lo + f * (z_hi - z_lo);
        q[k] = TEffDepthVertex{vertical ? float(pos) : x, vertical ? y : float(pos), float(dz), x, y, level};
      }
      t->Begin(1, 0);
      EmitDepthQuad(t, q);
      t->End();
    }
}

// ---- Two slides ----

TTwoSlidesEffect::TTwoSlidesEffect(int32_t direction, float recede, float swing, float tilt_degrees)
    // Directions outside 1-4 move like direction 1 (instead of failing).
    : Direction(direction >= 1 && direction <= 4 ? direction : 1),
      Recede(std::isfinite(recede) ? std::max(recede, 0.0f) : 0.0f),
      Swing(std::isfinite(swing) ? swing : 0.0f),
      Tilt(std::isfinite(tilt_degrees) ? float(tilt_degrees * kPi / 180.0) : 0.0f) {}

void TTwoSlidesEffect::DrawFrame(TEffController* c) {
  if (!c) return;
  ++CallCount;
  const bool odd = CallCount % 2 == 1;
  const double p = Progress();
  const double e = SmoothEase(p);
  if (odd) ClearTiles(c);
  const double t = ((p >= 0.5) == odd) ? e : 1 - e;
  const TRect& r = DrawRect;
  const double w = r.Width(), h = r.Height();
  if (!(w > 0) || !(h > 0)) return;
  double dx = 0, dy = 0;
  switch (Direction) {
    case 1: dx = w; break;
    case 2: dx = -w; break;
    case 3: dy = h; break;
    default: dy = -h; break;
  }
  const double swing = std::sin(kPi * t) * Swing, tilt = std::sin(t * Tilt);
  const double recede = t * h * Recede;
  // A corner's place: moved sideways and pushed back, its trailing side
  // further than its leading edge.
  auto place = [&](float x, float y, float level) {
    const double rx = x - r.Left, ry = y - r.Top;
    const double lead = dx > 0 ? w - rx : dx < 0 ? rx : dy > 0 ? h - ry : ry;
    return TEffDepthVertex{float(x + dx * swing), float(y + dy * swing), float(recede + lead * tilt), x, y, level};
  };
  const float y0 = float(r.Top + 0.33 * h), bottom = float(r.Bottom);
  for (int32_t col = 0; col < c->Cols(); ++col)
    for (int32_t row = 0; row < c->Rows(); ++row) {
      TEffTile* tile = c->GetTile(col, row);
      float l, tp, rt, b;
      if (!Clip(tile, r, l, tp, rt, b)) continue;
      tile->Begin(1, 0);
      const TEffDepthVertex q[4] = {place(l, tp, 255), place(rt, tp, 255), place(l, b, 255), place(rt, b, 255)};
      EmitDepthQuad(tile, q);
      if ((Direction == 1 || Direction == 2) && b > y0) {
        const float ry0 = std::max(tp, y0);
        TEffDepthVertex m[4];
        const float xs[2] = {l, rt}, ys[2] = {ry0, b};
        for (int k = 0; k < 4; ++k) {
          const float y = ys[k / 2];
          // 128 at the bottom edge, fading to nothing at y0 (measured from
          // the picture's top, and never below 0).
          const float level = std::max(0.0f, float(192.0 * (y - r.Top) / h - 64.0));
          m[k] = place(xs[k % 2], y, level);
          m[k].Y = 2 * bottom - m[k].Y;
        }
        // Mirrored, the upper corners lie below the lower ones.
        const TEffDepthVertex mm[4] = {m[2], m[3], m[0], m[1]};
        EmitDepthQuad(tile, mm);
      }
      tile->End();
    }
}

}  // namespace kav
