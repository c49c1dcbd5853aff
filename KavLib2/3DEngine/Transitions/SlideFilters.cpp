#include "KavLib2/3DEngine/Transitions/SlideFilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kav {

namespace {
// Shift of the incoming picture: just outside its entry side at p = 0,
// exactly on the rectangle at p = 1.
void EntryShift(int32_t direction, float w, float h, double p, float& dx, float& dy) {
  dx = 0;
  dy = 0;
  if (direction == 1 || direction == 2) dx = float(w * p);
  if (direction == 3 || direction == 4) dy = float(h * p);
  switch (direction) {
    case 1: dx -= w; break;
    case 2: dx = w - dx; break;
    case 3: dy -= h; break;
    case 4: dy = h - dy; break;
    default: break;
  }
}
}  // namespace

void TSlideFilter::DrawShifted(TEffController* c, float dx, float dy) {
  const TRect r = c->GetRect();
  for (int32_t row = 0; row < c->Rows(); ++row) {
    for (int32_t col = 0; col < c->Cols(); ++col) {
      TEffTile* t = c->GetTile(col, row);
      // The tile's part of the picture, where it lands after the shift,
      // clipped to the rectangle so nothing is drawn outside it.
      float l = float(std::max(t->Bounds.Left, r.Left)), tp = float(std::max(t->Bounds.Top, r.Top));
      float rt = float(std::min(t->Bounds.Right, r.Right)), b = float(std::min(t->Bounds.Bottom, r.Bottom));
      l = std::max(l, float(r.Left) - dx);
      tp = std::max(tp, float(r.Top) - dy);
      rt = std::min(rt, float(r.Right) - dx);
      b = std::min(b, float(r.Bottom) - dy);
      if (!(rt > l) || !(b > tp)) continue;
      const TEffTexVertex v[6] = {{l + dx, tp + dy, l, tp, 255},  {rt + dx, tp + dy, rt, tp, 255},
                                  {l + dx, b + dy, l, b, 255},    {rt + dx, tp + dy, rt, tp, 255},
                                  {rt + dx, b + dy, rt, b, 255},  {l + dx, b + dy, l, b, 255}};
      t->Begin(1, 0);
      t->AddTexturedTriangles(v, 6);
      t->End();
    }
  }
}

void TSlideFilter::DrawFrame(TEffController* c) {
  if (!c) return;
  const TRect r = c->GetRect();
  float dx, dy;
  EntryShift(Direction, float(r.Width()), float(r.Height()), Progress(), dx, dy);
  DrawShifted(c, dx, dy);
}

TFloatPoint TPushFilter::GetShift(const TRect& rect) const {
  const double p = Progress();
  const float w = float(rect.Width()), h = float(rect.Height());
  switch (Direction) {
    case 1: return TFloatPoint{float(w * p), 0};
    case 2: return TFloatPoint{float(-w * p), 0};
    case 3: return TFloatPoint{0, float(h * p)};
    case 4: return TFloatPoint{0, float(-h * p)};
    default: return TFloatPoint{0, 0};
  }
}

void TPushFilter::DrawOutgoing(TEffController* c) {
  if (!c) return;
  const TFloatPoint s = GetShift(c->GetRect());
  DrawShifted(c, s.x, s.y);
}

// ---- Random blocks ----

float TBlockRandom::NextFloat() {
  const uint32_t bits = (Next() & 0x7FFFFFu) | 0x3F800000u;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f - 1.0f;
}

TRandomFilter::TRandomFilter(int32_t cols, int32_t rows, uint32_t seed)
    // Counts at or below 0 would divide the rectangle by zero, absurd ones
    // would make millions of blocks: both are brought into 1..kMaxBlocks.
    : Cols(std::clamp(cols, 1, kMaxBlocks)), Rows(std::clamp(rows, 1, kMaxBlocks)), Seed(seed) {}

void TRandomFilter::Init(const TRect& rect, float duration, float edge_width) {
  TDrawFilter::Init(rect, duration, edge_width);
  // A negative (or not finite) spread would run the levels backwards.
  if (!(Spread >= 0)) Spread = 0;
  Spread = std::min(Spread, 1000.0f);
  const double levels = std::nearbyint(double(Spread) * 100.0);
  StartLevels.assign(size_t(Cols) * size_t(Rows), 0);
  TBlockRandom rng;
  rng.SetSeed(Seed);
  for (int32_t j = 0; j < Rows; ++j)
    for (int32_t i = 0; i < Cols; ++i)
      StartLevels[size_t(j) * size_t(Cols) + size_t(i)] = int32_t(std::nearbyint(rng.NextFloat() * levels));
}

void TRandomFilter::DrawFrame(TEffController* c) {
  if (!c || StartLevels.size() != size_t(Cols) * size_t(Rows)) return;
  const int32_t level = int32_t(std::nearbyint((double(Spread) * 100.0 + 256.0) * Progress() - 256.0));
  TEffTile* t = c->GetMultiTile();
  t->Begin(1, 0);
  const float cw = float(DrawRect.Width()) / float(Cols), ch = float(DrawRect.Height()) / float(Rows);
  const float l0 = float(DrawRect.Left), t0 = float(DrawRect.Top);
  std::vector<TEffVertex> v;
  v.reserve(size_t(Cols) * size_t(Rows) * 6);
  // Departure: blocks of a row that are in at full level side by side are
  // drawn as one rectangle (the same pixels): with the largest grid that
  // is tens of thousands of triangles fewer to cut, join and draw.
  for (int32_t j = 0; j < Rows; ++j) {
    const int32_t* levels = &StartLevels[size_t(j) * size_t(Cols)];
    for (int32_t i = 0; i < Cols; ++i) {
      const int32_t d = levels[i] - level;
      if (d >= 255) continue;
      const float a = d < 0 ? 255.0f : float(255 - d);
      const int32_t first = i;
      if (d < 0)
        while (i + 1 < Cols && levels[i + 1] - level < 0) ++i;
      const float x1 = l0 + float(first) * cw, x2 = l0 + float(i + 1) * cw;
      const float y1 = t0 + float(j) * ch, y2 = t0 + float(j + 1) * ch;
      const TEffVertex q[6] = {{x1, y1, a}, {x2, y1, a}, {x1, y2, a}, {x2, y1, a}, {x2, y2, a}, {x1, y2, a}};
      v.insert(v.end(), q, q + 6);
    }
  }
  if (!v.empty()) t->AddTriangles(v.data(), int32_t(v.size()));
  t->End();
}

}  // namespace kav
