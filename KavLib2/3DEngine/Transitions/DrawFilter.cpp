#include "KavLib2/3DEngine/Transitions/DrawFilter.h"

#include <algorithm>

namespace kav {

// ---- TDrawFilter ----

void TDrawFilter::Init(const TRect& rect, float duration, float edge_width) {
  Rect = rect;
  Duration = duration;
  EdgeWidth = edge_width;
  // A zero (or negative) duration keeps the progress at 0.
  InvDuration = duration > 0 ? 1.0 / double(duration) : 0.0;
  Time = 0;
}

void TDrawFilter::SetTime(float t) {
  // NaN counts as the start.
  if (!(t > 0)) t = 0;
  if (t > Duration) t = std::max(Duration, 0.0f);
  Time = t;
}

// ---- Easing ----

float Ease255(float x) {
  if (x < 127.5f) return x * x * 0.0078125f;
  const float r = 255.0f - x;
  return 255.0f - r * r * 0.0078125f;
}

namespace {
struct TEasingTable {
  float X[15], Y[15];
  TEasingTable() {
    const float step = 18.214285f;
    for (int i = 0; i < 15; ++i) {
      X[i] = float(i) * step;
      Y[i] = Ease255(X[i]);
    }
  }
};
const TEasingTable& Easing() {
  static const TEasingTable table;
  return table;
}
}  // namespace

const float* EasingX() { return Easing().X; }
const float* EasingY() { return Easing().Y; }

// ---- TCommonFilter ----

void TCommonFilter::Init(const TRect& rect, float duration, float edge_width) {
  TDrawFilter::Init(rect, duration, edge_width);
  OriginX = float(rect.Left) + float(rect.Width()) * OriginFracX;
  OriginY = float(rect.Top) + float(rect.Height()) * OriginFracY;
  Layout();
}

void TCommonFilter::DrawFrame(TEffController* controller) {
  if (!controller) return;
  sink_ = controller->GetMultiTile();
  float r = float(Progress()) * MaxRadius;
  if (Reverse) r = MaxRadius - r;
  sink_->Begin(1, 0);
  DrawSoftEdge(r, r - EdgeWidth);
  sink_->End();
  sink_ = nullptr;
}

void TCommonFilter::DrawSoftEdge(float outer, float inner) {
  if (outer <= 0) return;
  if (inner > 0) DrawShape(-1, 0, inner, 255, 255);
  const float* xs = EasingX();
  const float* ys = EasingY();
  float r0, y0;
  if (inner >= 0) {
    r0 = inner;
    y0 = 0;
  } else {
    r0 = 0;
    y0 = Ease255(-inner * 255.0f / (outer - inner));
  }
  const float s = (outer - inner) / 255.0f;
  int32_t k = 0;
  for (int i = 1; i <= 14; ++i) {
    const float r = xs[i] * s + inner;
    const float y = ys[i];
    if (r > 0 && r0 < MaxRadius && (i == 14 || r - r0 > 2.0f)) {
      DrawShape(k, r0, r, 255.0f - y0, 255.0f - y);
      ++k;
      r0 = r;
      y0 = y;
    }
  }
}

bool MapLayoutToDraw(const TRect& layout, const TRect& draw, TEffVertex* v, int32_t count) {
  const float wl = float(layout.Width()), hl = float(layout.Height());
  // An empty layout has nothing to map from (instead of dividing by its
  // zero size).
  if (!(wl > 0) || !(hl > 0)) return false;
  const float sx = float(draw.Width()) / wl, sy = float(draw.Height()) / hl;
  for (int32_t i = 0; i < count; ++i) {
    v[i].X = (v[i].X - float(layout.Left)) * sx + float(draw.Left);
    v[i].Y = (v[i].Y - float(layout.Top)) * sy + float(draw.Top);
  }
  return true;
}

void TCommonFilter::EmitTriangles(TEffVertex* v, int32_t count) {
  if (sink_ && MapLayoutToDraw(Rect, DrawRect, v, count)) sink_->AddTriangles(v, count);
}

void TCommonFilter::EmitQuad(float x1, float y1, float x2, float y2, float a11, float a21, float a12, float a22) {
  TEffVertex v[6] = {{x1, y1, a11}, {x2, y1, a21}, {x1, y2, a12}, {x2, y1, a21}, {x2, y2, a22}, {x1, y2, a12}};
  EmitTriangles(v, 6);
}

void TCommonFilter::EmitQuadPoints(const TEffVertex& a, const TEffVertex& b, const TEffVertex& c,
                                   const TEffVertex& d) {
  TEffVertex v[6] = {a, b, c, b, d, c};
  EmitTriangles(v, 6);
}

// ---- TAlphaFilter ----

void TAlphaFilter::DrawFrame(TEffController* controller) {
  if (!controller) return;
  const float a = std::clamp(float(255.0 * Progress()), 0.0f, 255.0f);
  TEffTile* t = controller->GetMultiTile();
  const float l = float(DrawRect.Left), tp = float(DrawRect.Top), r = float(DrawRect.Right),
              b = float(DrawRect.Bottom);
  TEffVertex v[6] = {{l, tp, a}, {r, tp, a}, {l, b, a}, {r, b, a}, {l, b, a}, {r, tp, a}};
  t->Begin(1, 0);
  t->AddTriangles(v, 6);
  t->End();
}

}  // namespace kav
