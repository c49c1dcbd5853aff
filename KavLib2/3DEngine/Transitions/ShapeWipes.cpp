#include "KavLib2/3DEngine/Transitions/ShapeWipes.h"

#include <algorithm>
#include <cmath>

namespace kav {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

// ---- Circle ----

void TCircleFilter::Layout() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float cx = OriginX, cy = OriginY;
  FarDistance = 0;
  for (float x : {l, r})
    for (float y : {t, b}) FarDistance = std::max(FarDistance, std::hypot(x - cx, y - cy));
  const float nx = std::clamp(cx, l, r), ny = std::clamp(cy, t, b);
  Offset = std::hypot(nx - cx, ny - cy);
  MaxRadius = FarDistance - Offset + EdgeWidth;
  if (Offset > 0) Segments = 256;
}

void TCircleFilter::DrawShape(int32_t index, float ri, float ro, float ai, float ao) {
  const int32_t n = Segments;
  const double s = 2 * kPi / n;
  // The polygons are drawn around their circles (not inside them), so the
  // full-size shape really covers the farthest corner.
  const double grow = 1.0 / std::cos(s);
  const double rad[2] = {(double(ri) + Offset) * grow, (double(ro) + Offset) * grow};
  const float alpha[2] = {ai, ao};
  const bool even = (index % 2) == 0;
  const double start[2] = {even ? 0.0 : s, even ? s : 0.0};
  auto at = [&](int which, double angle) {
    return TEffVertex{float(OriginX + std::cos(angle) * rad[which]), float(OriginY + std::sin(angle) * rad[which]),
                      alpha[which]};
  };
  TEffVertex cur[2] = {at(0, start[0]), at(1, start[1])};
  int32_t steps[2] = {0, 0};
  int turn = start[0] == 0 ? 0 : 1;
  std::vector<TEffVertex> tris;
  tris.reserve(size_t(n) * 3);
  for (int32_t k = 0; k < n; ++k) {
    const int w = turn;
    turn = 1 - turn;
    ++steps[w];
    const bool closes = steps[w] * 2 >= n;
    const TEffVertex next = at(w, closes ? start[w] : start[w] + 2 * s * steps[w]);
    // With no inner circle its turns draw nothing: the ring is a fan.
    if (w == 1 || rad[0] > 0) {
      tris.push_back(cur[0]);
      tris.push_back(cur[1]);
      tris.push_back(next);
    }
    cur[w] = next;
  }
  if (!tris.empty()) EmitTriangles(tris.data(), int32_t(tris.size()));
}

// ---- Rhombus ----

void TRhombFilter::Layout() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float cx = OriginX, cy = OriginY;
  const float nx = std::clamp(cx, l, r), ny = std::clamp(cy, t, b);
  Offset = std::abs(nx - cx) + std::abs(ny - cy);
  float far = 0;
  for (float x : {l, r})
    for (float y : {t, b}) far = std::max(far, std::abs(x - cx) + std::abs(y - cy));
  MaxRadius = far - Offset + EdgeWidth;
}

void TRhombFilter::DrawShape(int32_t, float ri, float ro, float ai, float ao) {
  const float i = ri + Offset, o = ro + Offset, cx = OriginX, cy = OriginY;
  // The diamond's corners: left, top, right, bottom.
  const TEffVertex in[4] = {{cx - i, cy, ai}, {cx, cy - i, ai}, {cx + i, cy, ai}, {cx, cy + i, ai}};
  const TEffVertex out[4] = {{cx - o, cy, ao}, {cx, cy - o, ao}, {cx + o, cy, ao}, {cx, cy + o, ao}};
  for (int k = 0; k < 4; ++k) EmitQuadPoints(in[k], in[(k + 1) % 4], out[k], out[(k + 1) % 4]);
}

// ---- Rectangle ----

void TSquareFilter::Layout() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float cx = OriginX, cy = OriginY;
  const double w = r - l, h = b - t;
  // An empty layout keeps a square measure instead of dividing by zero.
  Aspect = (w > 0 && h > 0) ? w / h : 1.0;
  auto measure = [&](float dx, float dy) { return std::max(double(std::abs(dx)), std::abs(dy) * Aspect); };
  // The offset is the measure of the rectangle's nearest point (beyond a
  // corner: the larger of the two distances, where the shape first
  // touches the rectangle).
  const float nx = std::clamp(cx, l, r), ny = std::clamp(cy, t, b);
  Offset = float(measure(nx - cx, ny - cy));
  double far = 0;
  for (float x : {l, r})
    for (float y : {t, b}) far = std::max(far, measure(x - cx, y - cy));
  // The size that reaches the farthest corner: for an origin diagonally
  // beyond a corner this is more than the width, which alone would leave a
  // strip of the picture uncovered at the end.
  MaxRadius = float(far - Offset) + EdgeWidth;
  Aspect = 1.0 / Aspect;
}

void TSquareFilter::DrawShape(int32_t, float ri, float ro, float ai, float ao) {
  const float ui = ri + Offset, uo = ro + Offset, cx = OriginX, cy = OriginY;
  const float vi = float(ui * Aspect), vo = float(uo * Aspect);
  const TEffVertex i00{cx - ui, cy - vi, ai}, i10{cx + ui, cy - vi, ai}, i01{cx - ui, cy + vi, ai},
      i11{cx + ui, cy + vi, ai};
  const TEffVertex o00{cx - uo, cy - vo, ao}, o10{cx + uo, cy - vo, ao}, o01{cx - uo, cy + vo, ao},
      o11{cx + uo, cy + vo, ao};
  EmitQuadPoints(i00, i10, o00, o10);  // top
  EmitQuadPoints(i01, i11, o01, o11);  // bottom
  EmitQuadPoints(i00, i01, o00, o01);  // left
  EmitQuadPoints(i10, i11, o10, o11);  // right
}

// ---- Bands ----

void THLines::Layout() {
  MaxRadius = std::max(std::abs(OriginX - float(Rect.Left)), std::abs(OriginX - float(Rect.Right))) + EdgeWidth;
}

void THLines::DrawShape(int32_t, float ri, float ro, float ai, float ao) {
  const float t = float(Rect.Top), b = float(Rect.Bottom), cx = OriginX;
  EmitQuad(cx - ro, t, cx - ri, b, ao, ai, ao, ai);
  EmitQuad(cx + ri, t, cx + ro, b, ai, ao, ai, ao);
}

void TVLines::Layout() {
  MaxRadius = std::max(std::abs(OriginY - float(Rect.Top)), std::abs(OriginY - float(Rect.Bottom))) + EdgeWidth;
}

void TVLines::DrawShape(int32_t, float ri, float ro, float ai, float ao) {
  const float l = float(Rect.Left), r = float(Rect.Right), cy = OriginY;
  EmitQuad(l, cy - ro, r, cy - ri, ao, ao, ai, ai);
  EmitQuad(l, cy + ri, r, cy + ro, ai, ai, ao, ao);
}

TDiagLines::TDiagLines(int32_t selector, int32_t variant) : TCommonFilter(0, 0) {
  Flip = variant >= 3;
  if (selector == 8) {
    Mode = 1;
    Reverse = variant == 1 || variant == 3;
  } else {
    Mode = (variant == 1 || variant == 3) ? 0 : 2;
  }
}

void TDiagLines::Layout() {
  const int32_t w = Rect.Width(), h = Rect.Height();
  const int32_t s = w + h;
  TopX = Mode == 0 ? 0.0f : Mode == 1 ? float(s / 2) : float(s);
  BottomX = TopX - float(h);
  // The centre band opens both ways from the diagonal at S div 2; the side
  // beyond it is the longer one when S is odd, so it sets the full size
  // (S div 2 alone would leave the far corner's last pixel uncovered).
  MaxRadius = (Mode == 1 ? float(s - s / 2) : float(s)) + EdgeWidth;
  if (Flip) std::swap(TopX, BottomX);
}

void TDiagLines::DrawShape(int32_t, float ri, float ro, float ai, float ao) {
  const float l = float(Rect.Left), t = float(Rect.Top), b = float(Rect.Bottom);
  if (Mode != 2)
    EmitQuadPoints({l + TopX + ri, t, ai}, {l + TopX + ro, t, ao}, {l + BottomX + ri, b, ai},
                   {l + BottomX + ro, b, ao});
  if (Mode != 0)
    EmitQuadPoints({l + TopX - ri, t, ai}, {l + TopX - ro, t, ao}, {l + BottomX - ri, b, ai},
                   {l + BottomX - ro, b, ao});
}

}  // namespace kav
