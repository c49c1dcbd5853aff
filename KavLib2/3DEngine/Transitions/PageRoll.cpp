#include "KavLib2/3DEngine/Transitions/PageRoll.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kav {

namespace {
constexpr float kPi = 3.14159265f;
constexpr float kS = 0.70710677f;
// Most strips one frame may build (a guard against absurd sizes).
constexpr int32_t kMaxStrips = 100000;
}  // namespace

float RollAngleSolve(float a, float b, float c) {
  const double d = double(a) * a - 2.0 * b * (c - b / 2.0);
  if (d < 0) return 1.5707964f;
  auto angle = [](double r) {
    const double acot = r == 0 ? kPi / 2 : std::atan(1.0 / r);
    return kPi - 2.0 * acot;
  };
  const double den = 2.0 * c - b;
  // With 2c = b the quadratic degenerates to a r + b / 2 = 0 (instead of
  // dividing by zero).
  if (den == 0) return a == 0 ? 1.5707964f : float(angle(-b / (2.0 * a)));
  const double sq = std::sqrt(d);
  return float(std::min(angle((-a + sq) / den), angle((-a - sq) / den)));
}

TRoller3::TRoller3(int32_t direction, float left, float top, float right, float bottom, bool perspective,
                   float depth_scale)
    : Perspective(perspective),
      // A depth scale of 0 would put the eye infinitely high (and divide by
      // zero); it is held within a small positive range.
      DepthScale(std::isfinite(depth_scale) ? std::clamp(depth_scale, 0.01f, 4.0f) : 1.0f) {
  static constexpr float kDirs[8][2] = {{1, 0}, {-1, 0}, {0, -1}, {0, 1}, {kS, kS}, {kS, -kS}, {-kS, kS}, {-kS, -kS}};
  const int32_t k = (direction >= 1 && direction <= 8 ? direction : 1) - 1;
  DirX = kDirs[k][0];
  DirY = kDirs[k][1];
  SpanX = right - left;
  SpanY = bottom - top;
  StartX = DirX < 0 ? right : left;
  EndX = DirX < 0 ? left : right;
  StartY = DirY < 0 ? bottom : top;
  EndY = DirY < 0 ? top : bottom;
}

void TRoller3::GetRange(float& first, float& last) const {
  const float k = Perspective ? kPi / 2 : 1.0f;
  if (Diagonal()) {
    first = StartX - Sx() * ((SpanY - SpanX) / 2 + Radius * k / 1.41421356f);
    last = EndX;
  } else if (DirY == 0) {
    first = StartX - Sx() * Radius * k;
    last = EndX;
  } else {
    first = StartY - Sy() * Radius * k;
    last = EndY;
  }
}

float TRoller3::Clamp(float theta) const { return std::clamp(theta, 0.0f, MaxAngle); }
float TRoller3::Level(float theta) const {
  return (LevelFlat - LevelDark) * std::abs(std::cos(Clamp(theta))) + LevelDark;
}

float TRoller3::FarAngle() const {
  if (!Perspective) return kPi / 2;
  const float e = std::abs(SpanY) / DepthScale;
  float a, ch;
  if (!Diagonal()) {
    const bool h = DirY == 0;
    const float start = h ? StartX : StartY, end = h ? EndX : EndY, sign = h ? DirX : DirY;
    const float g = (start - Position) * sign, psi = g / Radius;
    float cu = Position;
    ch = Radius;
    if (g > 0) {
      cu = start - sign * Radius * std::sin(psi);
      ch = Radius * std::cos(psi);
    }
    a = sign * (cu - (start + end) / 2);
  } else {
    const float s = StartX - Sx() * (SpanY - SpanX) / 2;
    const float g = (s - Position) / DirX, psi = g / Radius;
    const float diag = Position + Sx() * (std::abs(SpanY) - std::abs(SpanX)) / 2;
    float cu = diag;
    ch = Radius;
    if (g > 0) {
      cu = (s + StartX) / 2 - Radius * std::sin(psi) * DirX;
      ch = Radius * std::cos(psi);
    }
    a = (cu - (StartX + Sx() * SpanX / 2)) / DirX;
  }
  return RollAngleSolve(a, e + Radius - ch, Radius);
}

void TRoller3::Strip(const TEffVertex& a1, const TEffVertex& a2, const TEffVertex& b1, const TEffVertex& b2, bool far,
                     bool first_form) {
  if (!OnTriangle) return;
  TEffVertex t[3];
  if (first_form) {
    t[0] = a1, t[1] = b1, t[2] = a2;
    OnTriangle(t, far);
    t[0] = b1, t[1] = b2, t[2] = a2;
    OnTriangle(t, far);
  } else {
    t[0] = a1, t[1] = a2, t[2] = b1;
    OnTriangle(t, far);
    t[0] = b1, t[1] = a2, t[2] = b2;
    OnTriangle(t, far);
  }
}

void TRoller3::SetPosition(float position) {
  Position = position;
  // A roll never winds more than three quarters of a turn.
  if (MaxAngle > 4.712389f) MaxAngle = 4.712389f;
  if (Diagonal())
    BuildDiagonalStrips();
  else
    BuildAxisStrips();
}

void TRoller3::WalkStrips(float start, float end, float sign, float position, float* cuts, int32_t cut_count,
                          const std::function<void(float, TEffVertex&, TEffVertex&)>& line, bool across,
                          bool first_form) {
  const float phi = FarAngle();
  const float f_line = position + sign * Radius * MaxAngle, w_line = cuts[cut_count - 1] = position + sign * Radius * phi;
  const float dir = sign > 0 ? 1.0f : -1.0f;
  float u = start;
  TEffVertex p1, q1, p2, q2;
  line(u, p1, q1);
  for (int32_t n = 0; (u - end) * dir < 0 && n < kMaxStrips; ++n) {
    const float big = 50 * dir, small = float(Steps) * dir;
    const float step = ((u + big - position) * dir < 0 || (u - f_line) * dir > 0) ? big : small;
    const bool far = (u - w_line) * dir >= 0;
    float next = u + step;
    // A strip never crosses a cut line (side corners, the winding limit)
    // nor passes the end.
    bool cut = false;
    for (int32_t k = 0; k < cut_count && !cut; ++k)
      if ((u - cuts[k]) * dir < 0 && (next - cuts[k]) * dir > 0) {
        next = cuts[k];
        cut = true;
      }
    if (!cut && (next - end) * dir > 0) next = end;
    line(next, p2, q2);
    // Axis rolls pass (the previous line's ends, the new line's ends);
    // diagonal ones (one border's previous and new ends, the other's).
    if (across)
      Strip(p1, q1, p2, q2, far, first_form);
    else
      Strip(p1, p2, q1, q2, far, first_form);
    p1 = p2;
    q1 = q2;
    u = next;
  }
}

void TRoller3::BuildAxisStrips() {
  const bool h = DirY == 0;
  AxisSign = h ? DirX : DirY;
  const float as = AxisSign;
  float cuts[1];
  WalkStrips(h ? StartX : StartY, h ? EndX : EndY, as, Position, cuts, 1,
             [&](float u, TEffVertex& e1, TEffVertex& e2) {
               const float lv = Level((u - Position) * as / Radius);
               e1 = h ? TEffVertex{u, StartY, lv} : TEffVertex{StartX, u, lv};
               e2 = h ? TEffVertex{u, EndY, lv} : TEffVertex{EndX, u, lv};
             },
             true, DirY < 0 || DirX > 0);
}

void TRoller3::BuildDiagonalStrips() {
  AxisSign = 0;
  const float sx = Sx(), sy = Sy(), dx = DirX;
  const float c1 = StartX + sx * std::min(SpanX, SpanY) / 2, c2 = StartX + sx * std::max(SpanX, SpanY) / 2;
  XCornerLine = StartX + sx * SpanX / 2;
  YCornerLine = StartX + sx * SpanY / 2;
  DiagPosition = Position + sx * (std::abs(SpanY) - std::abs(SpanX)) / 2;
  float cuts[3] = {c1, c2, 0};
  WalkStrips(StartX, c1 + c2 - StartX, dx, DiagPosition, cuts, 3,
             [&](float x, TEffVertex& a, TEffVertex& b) {
               const float lv = Level(((x - DiagPosition) / dx) / Radius);
               if ((x - YCornerLine) * dx > 0)
                 a = TEffVertex{StartX + 2 * sx * std::abs(x - YCornerLine), EndY, lv};
               else
                 a = TEffVertex{StartX, StartY + 2 * sy * std::abs(x - StartX), lv};
               if ((x - XCornerLine) * dx < 0)
                 b = TEffVertex{StartX + 2 * sx * std::abs(x - StartX), StartY, lv};
               else
                 b = TEffVertex{EndX, StartY + 2 * sy * std::abs(x - XCornerLine), lv};
             },
             false, !(DirX * DirY > 0));
}

float TRoller3::ClampDepth(float depth) const {
  // The sheet lies on the outgoing picture: a part that would swing below
  // the picture plane stays on it (seen through the picture otherwise).
  // The eye stands one picture height in front of the picture: no point
  // may come nearer than a fifth of that.
  return std::clamp(depth, -0.8f * std::abs(SpanY), 0.0f);
}

void TRoller3::TurnUp(float g, float f, float& out_f, float& depth) const {
  const float alpha = g / Radius;
  const float hh = -depth / DepthScale;
  const float rho = std::hypot(f, hh), beta = std::atan2(hh, f);
  out_f = rho * std::cos(beta + alpha);
  depth = -rho * std::sin(beta + alpha) * DepthScale;
}

void TRoller3::MapAxis(float x, float y, float& ox, float& oy, float& depth) const {
  const bool h = DirY == 0;
  const float sign = h ? DirX : DirY, start = h ? StartX : StartY;
  const float u = h ? x : y;
  ox = x;
  oy = y;
  depth = 0;
  const float g = Perspective ? (start - Position) * sign : 0.0f;
  const float l = (Perspective && g > 0) ? start : Position;
  const float d = (u - l) * sign;
  const float theta = std::min(d / Radius, MaxAngle);
  if (!(theta > 0)) return;
  float un = l + sign * (Radius * std::sin(theta) + (d - Radius * theta) * std::cos(theta));
  if (Perspective) {
    depth = -Radius * (1 - std::cos(theta)) * DepthScale;
    if (g > 0 && depth != 0) {
      float f;
      TurnUp(g, (un - start) * sign, f, depth);
      un = start + sign * f;
    }
    depth = ClampDepth(depth);
  }
  (h ? ox : oy) = un;
}

void TRoller3::MapDiagonal(float x, float y, float& ox, float& oy, float& depth) const {
  const float sx = Sx(), sy = Sy();
  const float ax = std::abs(x - EndX), ay = std::abs(y - EndY);
  const float x0 = EndX - sx * (ax + ay) / 2, n = (ax - ay) / 2;
  ox = x;
  oy = y;
  depth = 0;
  const float s = StartX - sx * (SpanY - SpanX) / 2;
  const float g = Perspective ? (s - Position) / DirX : 0.0f;
  const float l = (Perspective && g > 0) ? s : Position;
  const float d = (x0 - l) / DirX;
  const float theta = std::min(d / Radius, MaxAngle);
  if (!(theta > 0)) return;
  float w = l + DirX * (Radius * std::sin(theta) + (d - Radius * theta) * std::cos(theta));
  if (Perspective) {
    depth = -Radius * (1 - std::cos(theta)) * DepthScale;
    if (g > 0 && depth != 0) {
      float f;
      TurnUp(g, (w - s) / DirX, f, depth);
      w = s + DirX * f;
    }
    depth = ClampDepth(depth);
  }
  ox = w - sx * n;
  oy = EndY - sy * std::abs(EndX - w) + sy * n;
}

void TRoller3::Map(float x, float y, float& ox, float& oy, float& depth) const {
  if (Diagonal())
    MapDiagonal(x, y, ox, oy, depth);
  else
    MapAxis(x, y, ox, oy, depth);
}

// ---- The effect ----

TRollEffect2::TRollEffect2(int32_t family, int32_t direction)
    // Unknown families and directions roll like the first ones (instead of
    // failing).
    : Family(family == 15 ? 15 : 14), Direction(direction >= 1 && direction <= 8 ? direction : 1) {
  PadEdges = true;
  Reverse = Direction > 4;
}

void TRollEffect2::Dispose() {
  Roller = nullptr;
  far_ = nullptr;
  near_ = nullptr;
  TDrawFilter::Dispose();
}

void TRollEffect2::DrawFrame(TEffController* c) {
  if (!c || c->Cols() < 1 || c->Rows() < 1) return;
  // The roller and separators follow the controller's grid and rectangle.
  if (!Roller || grid_of_ != c || c->GetRect() != grid_rect_ || far_->Cols() != c->Cols() || far_->Rows() != c->Rows()) {
    static constexpr int32_t kAxis[4] = {1, 4, 2, 3}, kDiag[4] = {5, 7, 8, 6};
    const int32_t k = (Direction - 1) % 4;
    // Directions 5-8 are 3, 4, 1, 2 rolled back.
    static constexpr int32_t kBack[4] = {2, 3, 0, 1};
    const int32_t idx = Direction > 4 ? kBack[k] : k;
    const TRect r = c->GetRect();
    Roller = MakeRef<TRoller3>(Family == 15 ? kDiag[idx] : kAxis[idx], float(r.Left), float(r.Top), float(r.Right),
                               float(r.Bottom), Perspective, DepthScale);
    Roller->MaxAngle = FullTurn ? 2 * kPi : kPi;
    Roller->Radius = float(std::max(RadiusPixels, 2));
    Roller->Steps = RadiusPixels < 100 ? std::max(3, RadiusPixels / 10) : 8;
    Roller->GetRange(RollStart, RollEnd);
    if (Reverse) std::swap(RollStart, RollEnd);
    far_ = MakeRef<T2DSeparator>(c->XCoords().data(), c->Cols(), c->YCoords().data(), c->Rows());
    near_ = MakeRef<T2DSeparator>(c->XCoords().data(), c->Cols(), c->YCoords().data(), c->Rows());
    grid_of_ = c;
    grid_rect_ = r;
  }
  far_->ResetAll();
  near_->ResetAll();
  Roller->OnTriangle = [this](const TEffVertex* t, bool far) {
    if (far) {
      const TEffVertex s[3] = {t[0], t[2], t[1]};
      far_->Build(s, 3);
    } else {
      near_->Build(t, 3);
    }
  };
  Roller->SetPosition(float((RollEnd - RollStart) * Progress() + RollStart));
  Roller->OnTriangle = nullptr;
  DrawCells(c, near_.get(), false);
  DrawCells(c, far_.get(), true);
}

void TRollEffect2::DrawCells(TEffController* c, T2DSeparator* sep, bool far) {
  const bool back = far && BackColoured;
  const int32_t cols = c->Cols(), rows = c->Rows();
  std::vector<TEffDepthVertex> tex;
  std::vector<TEffShadedVertex> shade;
  for (int32_t ri = 0; ri < rows; ++ri) {
    const int32_t row = Roller->DirY < 0 ? rows - 1 - ri : ri;
    for (int32_t ci = 0; ci < cols; ++ci) {
      const int32_t col = Roller->DirX < 0 ? cols - 1 - ci : ci;
      const TXSeparator::TCell& cell = sep->GetCell(col, row);
      if (cell.StripCount == 0) continue;
      tex.clear();
      shade.clear();
      int32_t start = 0;
      for (int32_t s = 0; s < cell.StripCount; ++s) {
        const int32_t end = cell.StripEnds[size_t(s)];
        for (int32_t i = start + 2; i < end; ++i) {
          const TEffVertex* fan[3] = {&cell.Points[size_t(start)], &cell.Points[size_t(i) - 1],
                                      &cell.Points[size_t(i)]};
          for (const TEffVertex* p : fan) {
            float x, y, z;
            Roller->Map(p->X, p->Y, x, y, z);
            if (back) {
              const uint32_t lv = uint32_t(std::clamp(std::lround(p->A), 0L, 255L));
              const uint32_t col32 = 0xFF000000u | (Colour[0] * lv >> 8) << 16 | (Colour[1] * lv >> 8) << 8 |
                                     (Colour[2] * lv >> 8);
              shade.push_back(TEffShadedVertex{x, y, col32, z});
            } else {
              tex.push_back(TEffDepthVertex{x, y, z, p->X, p->Y, p->A});
            }
          }
        }
        start = end;
      }
      TEffTile* t = c->GetTile(col, row);
      t->Begin(back ? 0 : 1, back ? 0 : 1);
      if (!tex.empty()) t->AddDepthTriangles(tex.data(), int32_t(tex.size()));
      if (!shade.empty()) t->AddShadedTriangles(shade.data(), int32_t(shade.size()));
      t->End();
    }
  }
}

}  // namespace kav
