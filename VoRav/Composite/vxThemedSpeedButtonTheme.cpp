#include "VoRav/Composite/vxThemedSpeedButtonTheme.h"

#include <algorithm>

#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Composite/vxThemedButtonTheme.h"
#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

bool Contains(const std::u16string& key, const char16_t* word) { return key.find(word) != std::u16string::npos; }

// A one-pixel border on `r` (`tl` top and left, `br` bottom and right) with
// the face inside.
void Bordered(TSysBitmap* b, const TRect& r, TColor32 tl, TColor32 br, TColor32 face) {
  if (r.IsEmpty()) return;
  b->FillRect(r, face);
  b->FillRect(TRect{r.Left, r.Top, r.Right - 1, r.Top + 1}, tl);
  b->FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1}, tl);
  b->FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
  b->FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, br);
}

// Puts a transparent glyph of one colour on the bitmap at (x, y): only the
// glyph's coverage is read, so premultiplied and straight pictures blend alike.
void BlendGlyph(TSysBitmap* b, TImage* glyph, int32_t x, int32_t y, TColor32 color) {
  if (!glyph) return;
  Ref<TBitmap> g = glyph->GetBitmap();
  if (!g) return;
  for (int32_t gy = 0; gy < g->Height(); ++gy) {
    const int32_t by = y + gy;
    if (by < 0 || by >= b->Height()) continue;
    for (int32_t gx = 0; gx < g->Width(); ++gx) {
      const int32_t bx = x + gx;
      if (bx < 0 || bx >= b->Width()) continue;
      const uint32_t a = PicturePixel(g.get(), gx, gy) >> 24;
      if (a == 0) continue;
      const uint32_t under = PicturePixel(b, bx, by);
      uint32_t out = 0xFF000000u;
      for (int s = 0; s < 24; s += 8) {
        const uint32_t c = (color >> s) & 0xFF, u = (under >> s) & 0xFF;
        out |= ((c * a + u * (255 - a) + 127) / 255) << s;
      }
      b->FillRect(TRect{bx, by, bx + 1, by + 1}, out);
    }
  }
}

TColor32 Opaque(TColor32 c) { return c | 0xFF000000u; }

}  // namespace

uint8_t TSpeedButtonTheme::ParseState(const std::u16string& key) {
  uint8_t state = 0;
  if (Contains(key, u"Disabled")) {
    state = kSpeedDisabled;
  } else {
    if (Contains(key, u"Pressed")) state = kSpeedPressed;
    if (Contains(key, u"Hot")) state |= kSpeedHot;
  }
  if (Contains(key, u"Checked")) state |= kSpeedChecked;
  return state;
}

uint8_t TSpeedButtonTheme::ParsePart(const std::u16string& key) {
  return Contains(key, u"DropDownButton") ? kDropDownButtonPart : kSpeedButtonPart;
}

int32_t TSpeedButtonTheme::MarginX() const { return int32_t(6 * (Styles() ? Styles()->ScaleX : 1.0)); }
int32_t TSpeedButtonTheme::MarginY() const { return int32_t(4 * (Styles() ? Styles()->ScaleY : 1.0)); }

bool TSpeedButtonTheme::IsDown(uint8_t state) {
  return (state & kSpeedPressed) || ((state & kSpeedChecked) && !(state & kSpeedHot));
}

void TSpeedButtonTheme::GetDefaultSize(uint8_t part, TDrawFrame* frame, TSize& size) {
  KAV_ASSERT(frame != nullptr);
  KAV_ASSERT(part == kSpeedButtonPart || part == kDropDownButtonPart);
  size = TSize{23 + (part == kDropDownButtonPart ? kDropDownWidth : 0), 22};
}

void TSpeedButtonTheme::GetContentRect(uint8_t part, uint8_t state, TRect& rect, TSize size) {
  const int32_t mx = MarginX(), my = MarginY();
  rect = TRect{mx, my, size.cx - mx, size.cy - my};
  if (part == kDropDownButtonPart) rect.Right -= kDropDownWidth;
  if (IsDown(state)) rect = TRect{rect.Left + 1, rect.Top + 1, rect.Right + 1, rect.Bottom + 1};
}

void TSpeedButtonTheme::SizeFromContent(uint8_t part, TSize content, TSize& size) {
  size.cx = content.cx + 2 * MarginX() + (part == kDropDownButtonPart ? kDropDownWidth : 0);
  size.cy = content.cy + 2 * MarginY();
}

std::u16string TSpeedButtonTheme::StateName(uint8_t part, uint8_t state, bool checked) {
  KAV_ASSERT(part == kSpeedButtonPart || part == kDropDownButtonPart);
  std::u16string word = (state & kSpeedDisabled)                                   ? u"Disabled"
                        : (state & (kSpeedPressed | kSpeedHot)) == (kSpeedPressed | kSpeedHot) ? u"Pressed"
                        : (state & (kSpeedPressed | kSpeedHot))                     ? u"Hot"
                                                                                    : u"Normal";
  if (checked) word = u"Checked|" + word;
  return (part == kDropDownButtonPart ? u"DropDownButton|" : u"SpeedButton|") + word;
}

bool TSpeedButtonTheme::GetTransitionTime(uint8_t, uint32_t& milliseconds, bool, bool, uint8_t) {
  milliseconds = 0;
  return false;
}

Ref<TImage> TSpeedButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  TControlStyles* s = Styles();
  const uint8_t state = ParseState(key);
  const bool disabled = state & kSpeedDisabled;
  const bool hot = !disabled && (state & kSpeedHot), pressed = !disabled && (state & kSpeedPressed);
  const bool checked = state & kSpeedChecked;
  // A checked button under the pointer shows raised like any hot button, so
  // that it looks hot while the pointer is over it (not flat).
  const bool raised = hot && !pressed;
  const bool sunken = !raised && (pressed || checked);
  const TColor32 tl = raised ? s->HilightColor : sunken ? s->ShadowColor : s->FaceColor;
  const TColor32 br = raised ? s->ShadowColor : sunken ? s->HilightColor : s->FaceColor;
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().R8G8B8);
  Bordered(b.get(), TRect{0, 0, size.cx, size.cy}, tl, br, s->FaceColor);
  if (ParsePart(key) == kDropDownButtonPart) {
    const TRect arrow{std::max(0, size.cx - kDropDownWidth), 0, size.cx, size.cy};
    Bordered(b.get(), arrow, tl, br, s->FaceColor);
    // The arrow points down (the glyph's direction 1), a pixel lower and to
    // the right while the button is down, like the caption.
    const int32_t gh = 12, shift = IsDown(state) ? 1 : 0;
    const TColor32 color =
        disabled ? Opaque(s->ShadowColor)
                 : Opaque(ColorRGBA(s->ControlFont.Color1.r, s->ControlFont.Color1.g,
                                    s->ControlFont.Color1.b, 255));
    BlendGlyph(b.get(), GetArrowGlyph(arrow.Width(), gh, color, 1), arrow.Left + shift,
               (size.cy - gh) / 2 + shift, color);
  }
  return ImageFromBitmap(b.get(), false, u"");
}

Ref<TImage> TSpeedButtonTheme::GetHitPicture(uint8_t part, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().Y8);
  for (int32_t y = 0; y < size.cy; ++y) {
    uint8_t* row = b->Row(y);
    std::fill(row, row + size.cx, uint8_t(1));
    if (part == kDropDownButtonPart)
      std::fill(row + std::max(0, size.cx - kDropDownWidth), row + size.cx, uint8_t(2));
  }
  return ImageFromBitmap(b.get(), false, u"");
}

Ref<TSpeedButtonTheme> NewClassicSpeedButtonTheme(TControlStyles* styles) {
  return MakeRef<TSpeedButtonTheme>(styles);
}

TSpeedButtonThemeFactory AllocSpeedButtonTheme = NewClassicSpeedButtonTheme;

void InitSpeedButtonTheme() { AllocSpeedButtonTheme = NewClassicSpeedButtonTheme; }

}  // namespace kav
