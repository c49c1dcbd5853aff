#include "KavLib2/3DEngine/Transitions/BroomClock.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <vector>

namespace kav {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPi = 6.28318531f;

struct TLevelTable {
  float T[256];
  TLevelTable() {
    for (int32_t i = 0; i < 128; ++i) {
      T[i] = float((i * i) >> 7);
      T[255 - i] = 255.0f - T[i];
    }
  }
};
const TLevelTable& Levels() {
  static const TLevelTable t;
  return t;
}

// A polygon (x, y) cut by parallel lines n . p = c into strips.
using TPoly = std::vector<TEffVertex>;

TPoly ClipHalf(const TPoly& in, float nx, float ny, float c, bool keep_above) {
  TPoly out;
  const size_t n = in.size();
  for (size_t i = 0; i < n; ++i) {
    const TEffVertex& a = in[i];
    const TEffVertex& b = in[(i + 1) % n];
    const float da = (a.X * nx + a.Y * ny - c) * (keep_above ? 1.0f : -1.0f);
    const float db = (b.X * nx + b.Y * ny - c) * (keep_above ? 1.0f : -1.0f);
    if (da >= 0) out.push_back(a);
    if ((da >= 0) != (db >= 0)) {
      const float t = da / (da - db);
      out.push_back(TEffVertex{a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t, 0});
    }
  }
  return out;
}

// Cuts every polygon of `in` at the lines n . p = cuts[k] (increasing).
std::vector<TPoly> CutStrips(const std::vector<TPoly>& in, float nx, float ny, const std::vector<float>& cuts) {
  std::vector<TPoly> out;
  for (const TPoly& p : in) {
    TPoly rest = p;
    for (float c : cuts) {
      if (rest.size() < 3) break;
      TPoly below = ClipHalf(rest, nx, ny, c, false);
      if (below.size() >= 3) out.push_back(std::move(below));
      rest = ClipHalf(rest, nx, ny, c, true);
    }
    if (rest.size() >= 3) out.push_back(std::move(rest));
  }
  return out;
}

}  // namespace

float SweepLevel(int32_t i) { return Levels().T[std::clamp(i, 0, 255)]; }

// ---- Broom ----

TBroom::TBroom(int32_t kind, float edge_width, float margin, float left, float top, float width, float height)
    : Left(left), Top(top), Width(width), Height(height),
      // A negative margin would put the pivot inside the picture, which
      // the sweep could then never cover: it is taken as 0.
      Margin(std::isfinite(margin) ? std::max(margin, 0.0f) : 0.0f) {
  const float l = left, t = top, r = left + width, b = top + height, m = Margin;
  static constexpr float kStarts[8] = {kPi / 2, kPi, 3 * kPi / 2, 0, kPi, 3 * kPi / 2, 0, kPi / 2};
  const int32_t k = (kind >= 1 && kind <= 8 ? kind : 1) - 1;
  const float px[8] = {l + width / 2, r + m, l + width / 2, l - m, r + m, r + m, l - m, l - m};
  const float py[8] = {t - m, t + height / 2, b + m, t + height / 2, t - m, b + m, b + m, t - m};
  PivotX = px[k];
  PivotY = py[k];
  const float nominal = kStarts[k];
  // Only the down broom's range crosses 2pi.
  Wrap = k == 2;
  // The soft edge's angular width as seen at the picture's centre.
  const float d = std::hypot(l + width / 2 - PivotX, t + height / 2 - PivotY);
  EdgeAngle = d > 0 ? 2 * std::atan(std::max(edge_width, 0.0f) / (2 * d)) : kPi;
  // The sweep runs from the first corner the edge touches to the last.
  float first = 1e9f, last = -1e9f;
  for (float x : {l, r})
    for (float y : {t, b}) {
      float a = std::atan2(x - PivotX, -(y - PivotY));
      while (a < nominal - 1e-4f) a += kTwoPi;
      while (a >= nominal + kTwoPi - 1e-4f) a -= kTwoPi;
      first = std::min(first, a);
      last = std::max(last, a);
    }
  StartAngle = first - EdgeAngle;
  EndAngle = last;
}

void TBroom::BuildSweep(float angle) {
  Angle = angle;
  if (!OnTriangle) return;
  const float rb = Width + Height + Margin;
  const float s = 0.0062831854f;
  const float* tab = Levels().T;
  auto wrapped = [&](int32_t i) {
    float a = float(i) * s;
    if (Wrap && a < kPi) a += kTwoPi;
    return a;
  };
  auto level = [&](float a) {
    if (a < Angle) return 0.0f;
    if (a >= Angle + EdgeAngle) return 255.0f;
    return tab[std::clamp(int32_t((a - Angle) * 255.0f / EdgeAngle), 0, 255)];
  };
  auto point = [&](int32_t i) {
    const float a = float(i) * s;
    return TEffVertex{PivotX + std::sin(a) * rb, PivotY - std::cos(a) * rb, level(wrapped(i))};
  };
  for (int32_t i = 0; i < 1000;) {
    // Near the soft edge the outline is walked point by point (tested on
    // the wrapped angle, so a sweep across 2pi finds its edge too).
    const float a = wrapped(i);
    int32_t n = (a + 10 * s >= Angle && a <= Angle + EdgeAngle) ? 1 : 10;
    n = std::min(n, 1000 - i);
    const TEffVertex p0 = point(i), p1 = point(i + n);
    const TEffVertex tri[3] = {p0, p1, TEffVertex{PivotX, PivotY, (p0.A + p1.A) * 0.5f}};
    OnTriangle(tri);
    i += n;
  }
}

TBroomEffect::TBroomEffect(int32_t direction, float margin)
    : Direction(direction > 8 ? direction - 8 : direction), Margin(margin) {
  Reverse = direction > 8;
  if (Direction < 1 || Direction > 8) Direction = 1;
}

void TBroomEffect::DrawFrame(TEffController* c) {
  if (!c) return;
  if (!Broom) {
    Broom = MakeRef<TBroom>(Direction, EdgeWidth, Margin, float(Rect.Left), float(Rect.Top), float(Rect.Width()),
                            float(Rect.Height()));
    SweepStart = Broom->StartAngle;
    SweepLength = Broom->EndAngle - Broom->StartAngle;
  }
  const double q = Reverse ? 1 - Progress() : Progress();
  TEffTile* t = c->GetMultiTile();
  std::vector<TEffVertex> tris;
  Broom->OnTriangle = [&](const TEffVertex* v) {
    for (int k = 0; k < 3; ++k) tris.push_back(TEffVertex{v[k].X, v[k].Y, 255.0f - v[k].A});
  };
  t->Begin(1, 0);
  try {
    Broom->BuildSweep(float(SweepLength * q + SweepStart));
  } catch (const std::exception&) {
    // A fault in the geometry leaves the triangles made so far.
  }
  Broom->OnTriangle = nullptr;
  if (!tris.empty() && MapLayoutToDraw(Rect, DrawRect, tris.data(), int32_t(tris.size())))
    t->AddTriangles(tris.data(), int32_t(tris.size()));
  t->End();
}

// ---- Clock ----

TArrow::TArrow(float left, float top, float right, float bottom, float origin_x, float origin_y, float edge_width)
    : Left(left), Top(top), Right(right), Bottom(bottom), OriginX(origin_x), OriginY(origin_y),
      EdgeWidth(edge_width > 0 && std::isfinite(edge_width) ? edge_width : 0.001f) {}

float TArrow::Opacity(float x, float y) const {
  const float* tab = Levels().T;
  // A band's level is taken from its unswept edge, 255 x (1 - t) to the
  // nearest integer (halves to even), eased and inverted into an opacity.
  // The place is snapped to 1/1000 first, so that a strip boundary's exact
  // half is not pushed to the other side by float error.
  auto eased = [&](float t) {
    const double u = std::round(255.0 * std::clamp(double(t), 0.0, 1.0) * 1000.0) / 1000.0;
    return 255.0f - tab[int32_t(std::nearbyint(255.0 - u))];
  };
  // Places across the start band (left edge unswept) and the hand band
  // (the side of (cos a, sin a) unswept), 0 .. 255.
  const float b = eased((x - OriginX) / EdgeWidth + 0.5f);
  const float a = eased(0.5f - ((x - OriginX) * cos_ + (y - OriginY) * sin_) / EdgeWidth);
  const float lo = std::min(a, b), hi = std::max(a, b);
  const float w = 0.9f * kPi;
  float v;
  if (Angle < w) {
    const float f = (w - Angle) / w;
    v = lo + (a + b - 255 - lo) * f * f;
  } else if (Angle < kPi) {
    v = lo;
  } else if (Angle <= 1.1f * kPi) {
    v = hi;
  } else {
    const float f = (Angle - 1.1f * kPi) / w;
    v = hi + (a + b - hi) * f * f;
  }
  return std::clamp(v, 0.0f, 255.0f);
}

void TArrow::Render(float angle) {
  if (!OnTriangle) return;
  Angle = angle;
  if (std::abs(angle) < 1e-6f) return;
  if (std::abs(angle - kTwoPi) < 1e-6f || angle > kTwoPi) {
    const TEffVertex v[6] = {{Left, Top, 255}, {Left, Bottom, 255}, {Right, Top, 255},
                             {Right, Top, 255}, {Left, Bottom, 255}, {Right, Bottom, 255}};
    OnTriangle(v);
    OnTriangle(v + 3);
    return;
  }
  if (std::abs(angle - kPi) < 1e-6f) Angle = 3.1415915f;
  cos_ = std::cos(Angle);
  sin_ = std::sin(Angle);
  // The rectangle is cut at the lines of both bands (ten strips per band,
  // each split in four so the blend where the bands cross is sampled
  // finely) and every vertex takes the blended opacity of both soft
  // half-planes; this one construction stands for the separate strips,
  // overlap and corner regions and gives the same levels.
  const float e = EdgeWidth;
  std::vector<float> xs, hs;
  for (int32_t k = 0; k <= 40; ++k) {
    xs.push_back(OriginX - e / 2 + e * float(k) / 40);
    hs.push_back(OriginX * cos_ + OriginY * sin_ - e / 2 + e * float(k) / 40);
  }
  std::vector<TPoly> pieces{TPoly{{Left, Top, 0}, {Right, Top, 0}, {Right, Bottom, 0}, {Left, Bottom, 0}}};
  pieces = CutStrips(pieces, 1, 0, xs);
  pieces = CutStrips(pieces, cos_, sin_, hs);
  for (const TPoly& p : pieces)
    for (size_t i = 2; i < p.size(); ++i) {
      TEffVertex t[3] = {p[0], p[i - 1], p[i]};
      for (TEffVertex& v : t) v.A = Opacity(v.X, v.Y);
      OnTriangle(t);
    }
}

void TClockEffect::DrawFrame(TEffController* c) {
  if (!c) return;
  if (!Arrow) {
    const float ox = float(std::trunc(float(Rect.Left) + float(Rect.Width()) * OriginFracX));
    const float oy = float(std::trunc(float(Rect.Top) + float(Rect.Height()) * OriginFracY));
    Arrow = MakeRef<TArrow>(float(Rect.Left), float(Rect.Top), float(Rect.Right), float(Rect.Bottom), ox, oy,
                            EdgeWidth);
  }
  std::vector<TEffVertex> tris;
  const float lr = float(Rect.Left + Rect.Right);
  Arrow->OnTriangle = [&](const TEffVertex* v) {
    for (int k = 0; k < 3; ++k) tris.push_back(TEffVertex{Mirror ? lr - v[k].X : v[k].X, v[k].Y, v[k].A});
  };
  TEffTile* t = c->GetMultiTile();
  t->Begin(1, 0);
  try {
    Arrow->Render(float(2 * kPi * Progress()));
  } catch (const std::exception&) {
    // A fault in the geometry leaves the triangles made so far.
  }
  Arrow->OnTriangle = nullptr;
  if (!tris.empty() && MapLayoutToDraw(Rect, DrawRect, tris.data(), int32_t(tris.size())))
    t->AddTriangles(tris.data(), int32_t(tris.size()));
  t->End();
}

}  // namespace kav
