#include "VoRav/Composite/vxThemedBevel.h"

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/wpExceptions.h"

namespace kav {

TBevelThemeFactory AllocBevelTheme = nullptr;

TBevelTheme* BevelThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  if (TBevelTheme* t = styles->FindTheme<TBevelTheme>()) return t;
  if (AllocBevelTheme) return AllocBevelTheme(styles);
  Ref<TBevelTheme> t = MakeRef<TBevelTheme>(styles);
  return t.get();  // the style set keeps it
}

// --- TBevelTheme ---

void TBevelTheme::ContentRect(uint8_t sides, uint8_t style, TRect& rect, TSize size) {
  const int32_t b = style == kBevelStyleLine ? 1 : 2;
  rect = TRect{0, 0, size.cx, size.cy};
  if (sides & kBevelLeft) rect.Left += b;
  if (sides & kBevelTop) rect.Top += b;
  if (sides & kBevelRight) rect.Right -= b;
  if (sides & kBevelBottom) rect.Bottom -= b;
}

void TBevelTheme::SizeFromClient(uint8_t style, uint8_t sides, TSize& size, TPoint& offset, TSize client_size) {
  TRect inner;
  ContentRect(sides, style, inner, TSize{100, 100});
  size = TSize{client_size.cx + 100 - inner.Width(), client_size.cy + 100 - inner.Height()};
  offset = TPoint{inner.Left, inner.Top};
}

void TBevelTheme::PrepareParts(uint8_t sides, uint8_t style, TBevelParts* parts, TSize size, bool flag) {
  parts->Size = size;
  parts->Sides = sides;
  parts->Style = style;
  parts->Flag = flag;
  parts->Content = TRect{};
  parts->Pieces.clear();
}

void TBevelTheme::DrawParts(TDrawSurface* surface, TBevelParts* parts) {
  TControlStyles* s = Styles();
  if (!surface || !parts || !s) return;
  const int32_t w = parts->Size.cx, h = parts->Size.cy;
  const uint8_t sides = parts->Sides;
  auto opaque = [](TColor32 c) { return c | 0xFF000000u; };
  // Separator lines.
  if ((sides == kBevelLeft || sides == kBevelRight) && w == 2) {
    surface->FillRect(TRect{0, 0, 1, h}, opaque(s->ShadowColor));
    surface->FillRect(TRect{1, 0, 2, h}, opaque(s->HilightColor));
    return;
  }
  if ((sides == kBevelTop || sides == kBevelBottom) && h == 2) {
    surface->FillRect(TRect{0, 0, w, 1}, opaque(s->ShadowColor));
    surface->FillRect(TRect{0, 1, w, 2}, opaque(s->HilightColor));
    return;
  }
  TRect r{0, 0, w, h};
  // One ring: each drawn edge moves the next ring in by one on its side.
  // Moving in on every drawn side (not only left and top) keeps the inner
  // ring off the outer ring's right and bottom edges.
  auto ring = [&](TColor32 left, TColor32 top, TColor32 right, TColor32 bottom) {
    if (r.IsEmpty()) return;
    const TRect o = r;
    if (sides & kBevelTop) surface->FillRect(TRect{o.Left, o.Top, o.Right - 1, o.Top + 1}, opaque(top));
    if (sides & kBevelLeft) surface->FillRect(TRect{o.Left, o.Top, o.Left + 1, o.Bottom - 1}, opaque(left));
    if (sides & kBevelRight) surface->FillRect(TRect{o.Right - 1, o.Top, o.Right, o.Bottom}, opaque(right));
    if (sides & kBevelBottom) surface->FillRect(TRect{o.Left, o.Bottom - 1, o.Right, o.Bottom}, opaque(bottom));
    if (sides & kBevelLeft) ++r.Left;
    if (sides & kBevelTop) ++r.Top;
    if (sides & kBevelRight) --r.Right;
    if (sides & kBevelBottom) --r.Bottom;
  };
  switch (parts->Style) {
    case kBevelStyleLine:
      ring(s->BorderColor, s->BorderColor, s->BorderColor, s->BorderColor);
      break;
    case kBevelStyleSunken:
      ring(s->ShadowColor, s->ShadowColor, s->HilightColor, s->HilightColor);
      ring(s->DarkShadowColor, s->DarkShadowColor, s->LightColor, s->LightColor);
      break;
    case kBevelStyleEtched:
      ring(s->ShadowColor, s->ShadowColor, s->ShadowColor, s->ShadowColor);
      ring(s->HilightColor, s->HilightColor, s->HilightColor, s->HilightColor);
      break;
    default: break;
  }
}

// --- TThemedBevel ---

TThemedBevel::TThemedBevel(TDrawFrame* frame, TBevelTheme* painter)
    : TFrameBevel(frame), painter_(painter), parts_(MakeRef<TBevelParts>()) {
  KAV_ASSERT(painter != nullptr);
}

void TThemedBevel::DropBorder() {
  prepared_ = false;
  if (parts_) parts_->Pieces.clear();
  InvalidateAll();
}

void TThemedBevel::SetStyle(uint8_t style) {
  if (style == style_) return;
  style_ = style;
  DropBorder();
}

void TThemedBevel::SetBorderFlag(bool value) {
  if (value == border_flag_) return;
  TFrameBevel::SetBorderFlag(value);
  DropBorder();
}

void TThemedBevel::SetSides(uint8_t sides) {
  if (sides == sides_) return;
  TFrameBevel::SetSides(sides);
  DropBorder();
}

void TThemedBevel::ContentRect(TSize size, TRect& rect) { painter_->ContentRect(sides_, EffectiveStyle(), rect, size); }

void TThemedBevel::SizeFromClient(TSize client_size, TPoint& offset, TSize& size) {
  painter_->SizeFromClient(EffectiveStyle(), sides_, size, offset, client_size);
}

void TThemedBevel::SizeChanged() {
  prepared_ = false;
  TFrameBevel::SizeChanged();
}

void TThemedBevel::ThemeChanged() {
  TFrameBevel::ThemeChanged();
  DropBorder();
}

void TThemedBevel::Paint(TDrawSurface* surface) {
  if (!prepared_) {
    painter_->PrepareParts(sides_, EffectiveStyle(), parts_.get(), TSize{width_, height_}, border_flag_);
    prepared_ = true;
  }
  painter_->DrawParts(surface, parts_.get());
}

TFrameBevel* AllocThemedBevel(TDrawFrame* frame, TControlStyles* styles) {
  return new TThemedBevel(frame, BevelThemeOf(styles));
}

void InitThemedBevel() { AllocFrameBevel = AllocThemedBevel; }

}  // namespace kav
