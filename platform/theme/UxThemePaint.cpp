// The program's own visual style: flat surfaces, thin borders, rounded
// corners, an accent colour for focus, press and selection, and glyphs made
// of filled polygons, all in floating-point geometry scaled by the
// resolution so that the same parts draw sharply at any scale.
#include "platform/theme/UxThemePaint.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>

#include "platform/theme/UxTheme.h"

namespace kav::uxtheme::detail {

namespace {

constexpr TColor32 Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) { return ColorRGBA(r, g, b, a); }

// The palette.
constexpr TColor32 kAccent = Rgb(38, 104, 208);
constexpr TColor32 kAccentHot = Rgb(66, 133, 232);
constexpr TColor32 kAccentPressed = Rgb(24, 78, 166);
constexpr TColor32 kAccentSoft = Rgb(214, 228, 251);
constexpr TColor32 kAccentFaint = Rgb(234, 241, 253);
constexpr TColor32 kWhite = Rgb(255, 255, 255);
constexpr TColor32 kFace = Rgb(246, 247, 249);
constexpr TColor32 kFaceTop = Rgb(255, 255, 255);
constexpr TColor32 kFaceHot = Rgb(236, 242, 252);
constexpr TColor32 kFacePressed = Rgb(214, 226, 246);
constexpr TColor32 kFaceDisabled = Rgb(240, 241, 243);
constexpr TColor32 kBorder = Rgb(168, 176, 189);
constexpr TColor32 kBorderHot = Rgb(112, 124, 142);
constexpr TColor32 kBorderDisabled = Rgb(212, 216, 222);
constexpr TColor32 kGlyph = Rgb(64, 72, 86);
constexpr TColor32 kGlyphDisabled = Rgb(176, 182, 192);
constexpr TColor32 kText = Rgb(28, 32, 40);
constexpr TColor32 kTrack = Rgb(238, 240, 243);
constexpr TColor32 kTrackHot = Rgb(230, 233, 237);
constexpr TColor32 kTrackPressed = Rgb(218, 222, 228);
constexpr TColor32 kTrackDisabled = Rgb(245, 246, 247);
constexpr TColor32 kThumb = Rgb(188, 194, 204);
constexpr TColor32 kThumbHover = Rgb(168, 175, 187);
constexpr TColor32 kThumbHot = Rgb(142, 151, 166);
constexpr TColor32 kThumbPressed = Rgb(108, 119, 137);
constexpr TColor32 kError = Rgb(206, 44, 52);
constexpr TColor32 kPaused = Rgb(214, 150, 20);
constexpr TColor32 kPartial = Rgb(112, 84, 204);

constexpr float kKappa = 0.5523f;  // cubic control distance of a quarter circle

// Path building in part coordinates, moved to the bitmap by (ox, oy).
class TPainter {
 public:
  TPainter(TRasterHelper& r, float ox, float oy, float s) : r_(r), ox_(ox), oy_(oy), s_(s) {}

  float S() const { return s_; }

  void Move(float x, float y) { path_.Add(x + ox_, y + oy_, kPathMove); }
  void Line(float x, float y) { path_.Add(x + ox_, y + oy_, kPathLine); }
  void Cubic(float x1, float y1, float x2, float y2, float x3, float y3) {
    path_.Add(x1 + ox_, y1 + oy_, kPathCubic);
    path_.Add(x2 + ox_, y2 + oy_, kPathCubic);
    path_.Add(x3 + ox_, y3 + oy_, kPathCubic);
  }
  void Close() { path_.Add(0, 0, kPathClose); }

  // Corners: 1 top left, 2 top right, 4 bottom right, 8 bottom left.
  void RoundRect(float x0, float y0, float x1, float y1, float radius, int corners = 15) {
    if (x1 <= x0 || y1 <= y0) return;
    radius = std::clamp(radius, 0.0f, std::min(x1 - x0, y1 - y0) / 2);
    const float tl = corners & 1 ? radius : 0, tr = corners & 2 ? radius : 0;
    const float br = corners & 4 ? radius : 0, bl = corners & 8 ? radius : 0;
    const float k = 1 - kKappa;
    Move(x0 + tl, y0);
    Line(x1 - tr, y0);
    if (tr > 0) Cubic(x1 - tr * k, y0, x1, y0 + tr * k, x1, y0 + tr);
    Line(x1, y1 - br);
    if (br > 0) Cubic(x1, y1 - br * k, x1 - br * k, y1, x1 - br, y1);
    Line(x0 + bl, y1);
    if (bl > 0) Cubic(x0 + bl * k, y1, x0, y1 - bl * k, x0, y1 - bl);
    Line(x0, y0 + tl);
    if (tl > 0) Cubic(x0, y0 + tl * k, x0 + tl * k, y0, x0 + tl, y0);
    Close();
  }
  void Ellipse(float cx, float cy, float rx, float ry) {
    const float kx = rx * kKappa, ky = ry * kKappa;
    Move(cx + rx, cy);
    Cubic(cx + rx, cy + ky, cx + kx, cy + ry, cx, cy + ry);
    Cubic(cx - kx, cy + ry, cx - rx, cy + ky, cx - rx, cy);
    Cubic(cx - rx, cy - ky, cx - kx, cy - ry, cx, cy - ry);
    Cubic(cx + kx, cy - ry, cx + rx, cy - ky, cx + rx, cy);
    Close();
  }
  void Poly(std::initializer_list<TFloatPoint> points) {
    bool first = true;
    for (const TFloatPoint& p : points) {
      if (first)
        Move(p.x, p.y);
      else
        Line(p.x, p.y);
      first = false;
    }
    Close();
  }

  void Fill(TColor32 color, bool even_odd = false) {
    r_.SetGradient(nullptr);
    r_.SetFillColor(color);
    if (!path_.Empty()) r_.DrawPath(path_, even_odd);
    path_.Clear();
  }
  // A vertical gradient from `top` at y0 to `bottom` at y1 (part coordinates).
  void FillVertical(TColor32 top, TColor32 bottom, float y0, float y1) {
    auto g = std::make_unique<TRasterGradient>();
    g->Origin = TFloatPoint{0, y0 + oy_};
    g->Axis = TFloatPoint{0, 1};
    g->Scale = 1024.0f / std::max(1.0f, y1 - y0);
    for (int32_t i = 0; i <= 1024; ++i) g->Colors[size_t(i)] = ColorLerp(top, bottom, (i * 256) / 1024);
    r_.SetGradient(std::move(g));
    if (!path_.Empty()) r_.DrawPath(path_, false);
    path_.Clear();
    r_.SetGradient(nullptr);
  }

  // A rounded box with a border of width bw: the fill (a gradient when
  // `fill_top` differs) inside, then the border ring.
  void Box(float x0, float y0, float x1, float y1, float radius, TColor32 fill, TColor32 border, float bw,
           int corners = 15, TColor32 fill_top = 0) {
    if (x1 <= x0 || y1 <= y0) return;
    if (ColorAlpha(fill) != 0) {
      RoundRect(x0 + bw / 2, y0 + bw / 2, x1 - bw / 2, y1 - bw / 2, std::max(0.0f, radius - bw / 2), corners);
      if (fill_top != 0 && fill_top != fill)
        FillVertical(fill_top, fill, y0, y1);
      else
        Fill(fill);
    }
    if (ColorAlpha(border) != 0 && bw > 0) {
      RoundRect(x0, y0, x1, y1, radius, corners);
      RoundRect(x0 + bw, y0 + bw, x1 - bw, y1 - bw, std::max(0.0f, radius - bw), corners);
      Fill(border, true);
    }
  }

  // A chevron pointing in a direction (0 up, 1 down, 2 left, 3 right),
  // centred at (cx, cy), `size` wide across, stroke `t` thick.
  void Chevron(float cx, float cy, float size, float t, int dir, TColor32 color) {
    const float a = size / 2, b = size / 4;
    // Down-pointing shape in local units, then turned.
    const TFloatPoint local[6] = {{-a, -b}, {0, b}, {a, -b}, {a, -b + t * 1.4f}, {0, b + t * 1.4f}, {-a, -b + t * 1.4f}};
    const float shift = -t * 0.7f;
    bool first = true;
    for (const TFloatPoint& p0 : local) {
      TFloatPoint p{p0.x, p0.y + shift};
      TFloatPoint q = p;
      switch (dir) {
        case 0: q = {p.x, -p.y}; break;
        case 2: q = {-p.y, p.x}; break;
        case 3: q = {p.y, p.x}; break;
        default: break;
      }
      if (first)
        Move(cx + q.x, cy + q.y);
      else
        Line(cx + q.x, cy + q.y);
      first = false;
    }
    Close();
    Fill(color);
  }
  // A filled triangle pointing in a direction, `size` across its base.
  void Triangle(float cx, float cy, float size, int dir, TColor32 color) {
    const float a = size / 2, b = size / 4;
    switch (dir) {
      case 0: Poly({{cx - a, cy + b}, {cx + a, cy + b}, {cx, cy - b}}); break;
      case 1: Poly({{cx - a, cy - b}, {cx + a, cy - b}, {cx, cy + b}}); break;
      case 2: Poly({{cx + b, cy - a}, {cx + b, cy + a}, {cx - b, cy}}); break;
      default: Poly({{cx - b, cy - a}, {cx - b, cy + a}, {cx + b, cy}}); break;
    }
    Fill(color);
  }

 private:
  TRasterHelper& r_;
  float ox_, oy_, s_;
  TPointArray path_;
};

// States shared by many parts.
enum { kNormal = 0, kHot = 1, kPressed = 2, kDisabled = 3 };

// ---- button ----
void PaintButton(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S(), bw = s;
  switch (part) {
    case 0:
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(kFace);
      return;
    case 1:
    case 5: {
      const float r = 4 * s;
      switch (part == 5 ? 1 : state) {
        case 2: p.Box(0, 0, w, h, r, kFaceHot, kAccentHot, bw, 15, kWhite); break;
        case 3: p.Box(0, 0, w, h, r, kFacePressed, kAccent, bw); break;
        case 4: p.Box(0, 0, w, h, r, kFaceDisabled, kBorderDisabled, bw); break;
        case 5: p.Box(0, 0, w, h, r, kFace, kAccent, 2 * s, 15, kFaceTop); break;
        case 6: p.Box(0, 0, w, h, r, kAccentFaint, kAccent, 2 * s, 15, kWhite); break;
        default: p.Box(0, 0, w, h, r, kFace, kBorder, bw, 15, kFaceTop); break;
      }
      return;
    }
    case 2:
    case 3: {
      // Radio (8 states) and check box (12): unchecked, checked, mixed, each
      // normal, hot, pressed, disabled.
      const int32_t look = (state - 1) % 4, kind = (state - 1) / 4;
      const float d = std::min(w, h), x0 = (w - d) / 2, y0 = (h - d) / 2;
      const bool on = kind > 0;
      TColor32 fill = kWhite, border = kBorder;
      if (on) {
        fill = look == kHot ? kAccentHot : look == kPressed ? kAccentPressed : look == kDisabled ? kBorderDisabled : kAccent;
        border = fill;
      } else {
        if (look == kHot) fill = kAccentFaint, border = kAccentHot;
        if (look == kPressed) fill = kFacePressed, border = kAccent;
        if (look == kDisabled) fill = kFaceDisabled, border = kBorderDisabled;
      }
      if (part == 2) {
        p.Box(x0, y0, x0 + d, y0 + d, d / 2, fill, border, bw);
        if (on) {
          p.Ellipse(x0 + d / 2, y0 + d / 2, d * 0.2f, d * 0.2f);
          p.Fill(kWhite);
        }
        return;
      }
      p.Box(x0, y0, x0 + d, y0 + d, 3 * s, fill, border, bw);
      if (kind == 1) {
        // The tick: a thick polyline as one polygon.
        const float u = d / 13;
        p.Poly({{x0 + 3.0f * u, y0 + 6.4f * u},
                {x0 + 5.4f * u, y0 + 8.8f * u},
                {x0 + 10.0f * u, y0 + 4.0f * u},
                {x0 + 11.0f * u, y0 + 5.1f * u},
                {x0 + 5.4f * u, y0 + 10.8f * u},
                {x0 + 2.0f * u, y0 + 7.5f * u}});
        p.Fill(kWhite);
      } else if (kind == 2) {
        p.RoundRect(x0 + d * 0.25f, y0 + d * 0.44f, x0 + d * 0.75f, y0 + d * 0.56f, d * 0.04f);
        p.Fill(kWhite);
      }
      return;
    }
    case 4: {
      const bool disabled = state == 2;
      p.Box(0, 0, w, h, 4 * s, 0, disabled ? kBorderDisabled : kBorder, bw);
      return;
    }
    default: return;
  }
}

// ---- combo box: the drop-down button ----
void PaintComboBox(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  if (part == 0) {
    p.Box(0, 0, w, h, 3 * s, kWhite, kBorder, s);
    return;
  }
  const int32_t look = state - 1;
  if (look == kHot) p.Box(s, s, w - s, h - s, 3 * s, kFaceHot, 0, 0);
  if (look == kPressed) p.Box(s, s, w - s, h - s, 3 * s, kFacePressed, 0, 0);
  const TColor32 glyph = look == kDisabled ? kGlyphDisabled : look == kPressed ? kAccentPressed : kGlyph;
  p.Chevron(w / 2, h / 2, std::min(8 * s, w * 0.6f), 1.3f * s, 1, glyph);
}

// ---- edit ----
void PaintEdit(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S(), r = 3 * s;
  if (part == 2) {
    p.RoundRect(0, 0, w, h, 0);
    p.Fill(kText);
    return;
  }
  if (part == 0) state = 1;
  switch (state) {
    case 2: p.Box(0, 0, w, h, r, kWhite, kBorderHot, s); break;
    case 3:
    case 5:
      p.Box(0, 0, w, h, r, kWhite, kAccent, s);
      // The focus line along the bottom.
      p.RoundRect(r * 0.5f, h - 2 * s, w - r * 0.5f, h, s, 12);
      p.Fill(kAccent);
      break;
    case 4: p.Box(0, 0, w, h, r, kFaceDisabled, kBorderDisabled, s); break;
    case 6: p.Box(0, 0, w, h, r, kFace, kBorder, s); break;
    case 7: p.Box(0, 0, w, h, r, kAccentFaint, kAccentHot, s); break;
    default: p.Box(0, 0, w, h, r, kWhite, kBorder, s); break;
  }
}

// ---- list view ----
void PaintListView(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  switch (part) {
    case 0: p.Box(0, 0, w, h, 0, kWhite, kBorder, s); return;
    case 1:
      switch (state) {
        case 2: p.Box(0, 0, w, h, 2 * s, kAccentFaint, 0, 0); break;
        case 3: p.Box(0, 0, w, h, 2 * s, kAccentSoft, kAccentHot, s); break;
        case 5: p.Box(0, 0, w, h, 2 * s, Rgb(228, 231, 236), 0, 0); break;
        default: break;  // normal and disabled items have no background
      }
      return;
    case 2:
      // Group header: a rule along the bottom.
      p.RoundRect(0, h - s, w, h, 0);
      p.Fill(kBorder);
      return;
    case 3:
    case 4:
      // Detail column header: face with a separator at the right; the sorted
      // column is tinted.
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(part == 4 ? kAccentFaint : kFace);
      p.RoundRect(w - s, h * 0.2f, w, h * 0.8f, 0);
      p.Fill(kBorderDisabled);
      return;
    default: return;  // empty text: nothing behind it
  }
}

// ---- progress ----
TColor32 ProgressFill(int32_t state) {
  switch (state) {
    case 2: return kError;
    case 3: return kPaused;
    case 4: return kPartial;
    default: return kAccent;
  }
}

void PaintProgress(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  const bool vertical = part == 2 || part == 4 || part == 6 || part == 12;
  const float thick = vertical ? w : h;
  switch (part) {
    case 0:
    case 1:
    case 2:
      p.Box(0, 0, w, h, std::min(thick / 2, 3 * s), kTrack, Rgb(208, 212, 219), s);
      return;
    case 11:
    case 12:
      p.Box(0, 0, w, h, std::min(thick / 2, 3 * s), Rgb(238, 240, 243, 128), Rgb(208, 212, 219, 160), s);
      return;
    case 3:
    case 4:
      p.Box(0, 0, w, h, std::min(thick / 2, 1.5f * s), kAccent, 0, 0);
      return;
    default: {
      const TColor32 c = ProgressFill(state);
      const float r = std::min(thick / 2, 2 * s);
      if (vertical)
        p.Box(0, 0, w, h, r, c, 0, 0);
      else
        p.Box(0, 0, w, h, r, c, 0, 0, 15, ColorLerp(c, kWhite, 64));
      return;
    }
  }
}

// ---- scroll bar ----
void PaintScrollBar(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  switch (part) {
    case 0:
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(kTrack);
      return;
    case 1: {
      // Arrow buttons: up, down, left, right in four states each, then the
      // four hover states (the bar is hot, this button is not).
      int32_t dir, look;
      bool hover = false;
      if (state >= 17) {
        dir = state - 17, look = kNormal, hover = true;
      } else {
        dir = (state - 1) / 4, look = (state - 1) % 4;
      }
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(look == kDisabled ? kTrackDisabled : kTrack);
      if (look == kHot || look == kPressed) {
        p.Box(s, s, w - s, h - s, 2 * s, look == kHot ? kTrackPressed : kThumbHot, 0, 0);
      }
      const TColor32 glyph = look == kDisabled ? kGlyphDisabled
                             : look == kPressed ? kWhite
                             : (hover || look == kHot) ? kText
                                                        : Rgb(120, 128, 142);
      p.Triangle(w / 2, h / 2, std::min(w, h) * 0.42f, dir, glyph);
      return;
    }
    case 2:
    case 3: {
      const bool vertical = part == 3;
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(state == 4 ? kTrackDisabled : kTrack);
      if (state == 4) return;  // a disabled bar shows no thumb
      const TColor32 c = state == 2 ? kThumbHot : state == 3 ? kThumbPressed : state == 5 ? kThumbHover : kThumb;
      const float across = 4 * s, along = s;
      if (vertical)
        p.Box(across, along, w - across, h - along, (w - 2 * across) / 2, c, 0, 0);
      else
        p.Box(along, across, w - along, h - across, (h - 2 * across) / 2, c, 0, 0);
      return;
    }
    case 4:
    case 5:
    case 6:
    case 7: {
      const TColor32 c = state == 3 ? kTrackPressed : state == 2 ? kTrackHot : state == 4 ? kTrackDisabled : kTrack;
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(c);
      return;
    }
    case 8:
    case 9: {
      if (state == 4) return;
      // Three short ridges across the middle of the thumb.
      const bool vertical = part == 9;
      const float len = 4 * s, gap = 2 * s, t = std::max(1.0f, s);
      for (int i = -1; i <= 1; ++i) {
        const float c = i * gap;
        if (vertical)
          p.RoundRect(w / 2 - len / 2, h / 2 + c - t / 2, w / 2 + len / 2, h / 2 + c + t / 2, t / 2);
        else
          p.RoundRect(w / 2 + c - t / 2, h / 2 - len / 2, w / 2 + c + t / 2, h / 2 + len / 2, t / 2);
      }
      p.Fill(Rgb(255, 255, 255, 220));
      return;
    }
    default: {
      // Size box: dots in the corner triangle (right or left aligned).
      p.RoundRect(0, 0, w, h, 0);
      p.Fill(kTrack);
      const bool left = state == 2;
      const float step = 3.5f * s, dot = 1.2f * s;
      for (int row = 0; row < 3; ++row)
        for (int col = 0; col <= row; ++col) {
          const float y = h - 3 * s - (2 - row) * step;
          const float dx = 3 * s + col * step;
          const float x = left ? dx : w - dx;
          p.Ellipse(x, y, dot, dot);
        }
      p.Fill(kThumbHot);
      return;
    }
  }
}

// ---- spin ----
void PaintSpin(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  if (part == 0) {
    p.RoundRect(0, 0, w, h, 0);
    p.Fill(kFace);
    return;
  }
  const int32_t look = state - 1;
  const TColor32 fill = look == kHot ? kFaceHot : look == kPressed ? kFacePressed : look == kDisabled ? kFaceDisabled : kFace;
  const TColor32 border = look == kHot ? kAccentHot : look == kPressed ? kAccent : look == kDisabled ? kBorderDisabled : kBorder;
  p.Box(0, 0, w, h, 2 * s, fill, border, s);
  // Parts: 1 up, 2 down, 3 horizontal up (right), 4 horizontal down (left).
  static constexpr int kDir[5] = {0, 0, 1, 3, 2};
  const TColor32 glyph = look == kDisabled ? kGlyphDisabled : look == kPressed ? kAccentPressed : kGlyph;
  p.Chevron(w / 2, h / 2, std::min({7 * s, w * 0.6f, h * 0.9f}), 1.2f * s, kDir[part], glyph);
}

// ---- tab ----
void PaintTab(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  if (part == 9 || part == 0) {
    p.Box(0, 0, w, h, 2 * s, kWhite, kBorder, s);
    return;
  }
  if (part == 10) {
    p.RoundRect(0, 0, w, h, 0);
    p.Fill(kWhite);
    return;
  }
  // Tab items: rounded at the top, open at the bottom so that a selected
  // tab joins the pane below it.
  const float r = 3 * s;
  TColor32 fill = Rgb(234, 237, 241), border = kBorder;
  switch (state) {
    case 2: fill = Rgb(246, 248, 251); border = kBorderHot; break;
    case 3:
    case 5: fill = kWhite; break;
    case 4: fill = kFaceDisabled; border = kBorderDisabled; break;
    default: break;
  }
  p.RoundRect(s, s, w - s, h, r - s, 3);
  p.Fill(fill);
  p.RoundRect(0, 0, w, h, r, 3);
  p.RoundRect(s, s, w - s, h + s, r - s, 3);
  p.Fill(border, true);
  if (state == 3 || state == 5) {
    // The accent bar of the selected tab (thicker with focus).
    const float t = (state == 5 ? 3 : 2) * s;
    p.RoundRect(s, s, w - s, s + t, r - s, 3);
    p.Fill(kAccent);
  }
}

// ---- toolbar ----
void PaintToolbar(TPainter& p, int32_t part, int32_t state, float w, float h) {
  const float s = p.S();
  if (part == 0) {
    p.RoundRect(0, 0, w, h, 0);
    p.Fill(kFace);
    return;
  }
  if (part == 5 || part == 6) {
    if (part == 5)
      p.RoundRect(w / 2 - s / 2, h * 0.15f, w / 2 + s / 2, h * 0.85f, 0);
    else
      p.RoundRect(w * 0.15f, h / 2 - s / 2, w * 0.85f, h / 2 + s / 2, 0);
    p.Fill(kBorder);
    return;
  }
  // Buttons: 1 normal, 2 hot, 3 pressed, 4 disabled, 5 checked, 6 hot checked.
  TColor32 fill = 0, border = 0;
  switch (state) {
    case 2: fill = kFaceHot; border = Rgb(184, 202, 232); break;
    case 3: fill = kFacePressed; border = kAccentHot; break;
    case 5: fill = kAccentSoft; border = Rgb(150, 182, 232); break;
    case 6: fill = Rgb(196, 216, 248); border = kAccentHot; break;
    default: break;
  }
  // A split button has square corners on the side where its arrow joins it.
  const int corners = part == 3 ? 9 : part == 4 ? 6 : 15;
  if (fill != 0) p.Box(0, 0, w, h, 3 * s, fill, border, s, corners);
  if (part == 4) {
    if (fill != 0) {
      p.RoundRect(0, h * 0.2f, s, h * 0.8f, 0);
      p.Fill(border);
    }
    p.Chevron(w / 2, h / 2, std::min(7 * s, w * 0.6f), 1.2f * s, 1, state == 4 ? kGlyphDisabled : kGlyph);
  }
}

struct TPartInfo {
  int32_t states;
  TSize size;     // at 96 pixels per inch
  float margin;   // content margin at 96 pixels per inch
};

// Parts of each class (index = part; part 0 is the background).
const TPartInfo kButtonParts[] = {{1, {0, 0}, 0}, {6, {75, 23}, 3}, {8, {13, 13}, 0},
                                  {12, {13, 13}, 0}, {2, {12, 12}, 2}, {1, {75, 23}, 3}};
const TPartInfo kComboParts[] = {{1, {0, 0}, 1}, {4, {17, 20}, 0}};
const TPartInfo kEditParts[] = {{1, {0, 0}, 2}, {7, {100, 21}, 2}, {1, {1, 15}, 0}};
const TPartInfo kListViewParts[] = {{1, {100, 100}, 1}, {5, {100, 20}, 2}, {1, {100, 20}, 0},
                                    {1, {100, 20}, 2}, {1, {100, 20}, 2}, {1, {100, 20}, 0}};
const TPartInfo kProgressParts[] = {{1, {0, 0}, 2},  {1, {152, 17}, 2}, {1, {17, 152}, 2}, {1, {8, 13}, 0},
                                    {1, {13, 8}, 0}, {5, {10, 13}, 0},  {5, {13, 10}, 0},  {0, {0, 0}, 0},
                                    {0, {0, 0}, 0},  {0, {0, 0}, 0},    {0, {0, 0}, 0},    {2, {152, 17}, 2},
                                    {2, {17, 152}, 2}};
const TPartInfo kScrollParts[] = {{1, {0, 0}, 0},  {20, {17, 17}, 0}, {5, {17, 17}, 0}, {5, {17, 17}, 0},
                                  {5, {17, 17}, 0}, {5, {17, 17}, 0}, {5, {17, 17}, 0}, {5, {17, 17}, 0},
                                  {5, {8, 8}, 0},  {5, {8, 8}, 0},   {2, {17, 17}, 0}};
const TPartInfo kSpinParts[] = {{1, {0, 0}, 0}, {4, {15, 10}, 0}, {4, {15, 10}, 0}, {4, {10, 15}, 0}, {4, {10, 15}, 0}};
const TPartInfo kTabParts[] = {{1, {0, 0}, 2},   {5, {60, 21}, 3}, {5, {60, 21}, 3}, {5, {60, 21}, 3},
                               {5, {60, 21}, 3}, {5, {60, 21}, 3}, {5, {60, 21}, 3}, {5, {60, 21}, 3},
                               {5, {60, 21}, 3}, {1, {100, 100}, 2}, {1, {100, 100}, 0}};
const TPartInfo kToolbarParts[] = {{1, {0, 0}, 0},  {6, {23, 22}, 3}, {6, {23, 22}, 3}, {6, {23, 22}, 3},
                                   {6, {15, 22}, 0}, {6, {6, 22}, 0},  {6, {22, 6}, 0}};

struct TClassInfo {
  const char16_t* name;
  const TPartInfo* parts;
  int32_t count;
};

template <size_t N>
constexpr TClassInfo Info(const char16_t* name, const TPartInfo (&parts)[N]) {
  return TClassInfo{name, parts, int32_t(N)};
}

const TClassInfo kClasses[kClassCount] = {
    Info(u"button", kButtonParts),   Info(u"combobox", kComboParts), Info(u"edit", kEditParts),
    Info(u"listview", kListViewParts), Info(u"progress", kProgressParts), Info(u"scrollbar", kScrollParts),
    Info(u"spin", kSpinParts),       Info(u"tab", kTabParts),        Info(u"toolbar", kToolbarParts)};

const TPartInfo* Part(int32_t cls, int32_t part) {
  if (cls < 0 || cls >= kClassCount) return nullptr;
  const TClassInfo& c = kClasses[cls];
  if (part < 0 || part >= c.count || c.parts[part].states == 0) return nullptr;
  return &c.parts[part];
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

}  // namespace

int32_t ClassFromName(std::u16string_view name) {
  for (int32_t i = 0; i < kClassCount; ++i) {
    const std::u16string_view n = kClasses[i].name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size() && same; ++k) same = Lower(name[k]) == n[k];
    if (same) return i;
  }
  return -1;
}

int32_t StateCount(int32_t cls, int32_t part) {
  const TPartInfo* p = Part(cls, part);
  return p ? p->states : 0;
}

TSize DesignSize(int32_t cls, int32_t part) {
  const TPartInfo* p = Part(cls, part);
  return p ? p->size : TSize{};
}

float ContentMargin(int32_t cls, int32_t part) {
  const TPartInfo* p = Part(cls, part);
  return p ? p->margin : 0;
}

bool PartiallyTransparent(int32_t cls, int32_t part) {
  // Square opaque backgrounds: every class's part 0 but the combo box's, the
  // scroll bar's tracks, the tab body.
  if (part == 0) return cls == kComboBox || cls == kEdit || cls == kTab || cls == kProgress;
  if (cls == kScrollBar) return part == 8 || part == 9;
  if (cls == kTab) return part != 10;
  return true;
}

bool PartColor(int32_t cls, int32_t part, int32_t state, int32_t property, TColor32& color) {
  if (!Part(cls, part)) return false;
  const bool disabled = (cls == kButton && ((part == 1 && state == 4) || (part == 4 && state == 2))) ||
                        (cls == kEdit && state == 4) || (cls == kToolbar && state == 4) ||
                        (cls == kTab && state == 4) || (cls == kListView && part == 1 && state == 4);
  switch (property) {
    case TMT_TEXTCOLOR: color = disabled ? kGlyphDisabled : kText; return true;
    case TMT_BORDERCOLOR: color = disabled ? kBorderDisabled : kBorder; return true;
    case TMT_FILLCOLOR:
      color = (cls == kEdit || cls == kListView || cls == kTab) && !disabled ? kWhite
              : disabled ? kFaceDisabled
                         : kFace;
      return true;
    default: return false;
  }
}

void PaintPart(TRasterHelper& r, int32_t cls, int32_t part, int32_t state, float w, float h, float scale, float ox,
               float oy) {
  TPainter p(r, ox, oy, scale);
  switch (cls) {
    case kButton: PaintButton(p, part, state, w, h); break;
    case kComboBox: PaintComboBox(p, part, state, w, h); break;
    case kEdit: PaintEdit(p, part, state, w, h); break;
    case kListView: PaintListView(p, part, state, w, h); break;
    case kProgress: PaintProgress(p, part, state, w, h); break;
    case kScrollBar: PaintScrollBar(p, part, state, w, h); break;
    case kSpin: PaintSpin(p, part, state, w, h); break;
    case kTab: PaintTab(p, part, state, w, h); break;
    case kToolbar: PaintToolbar(p, part, state, w, h); break;
    default: break;
  }
}

}  // namespace kav::uxtheme::detail
