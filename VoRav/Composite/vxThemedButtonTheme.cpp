#include "VoRav/Composite/vxThemedButtonTheme.h"

#include <cmath>

#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

bool Contains(const std::u16string& key, const char16_t* word) { return key.find(word) != std::u16string::npos; }

// A one-pixel ring on `r`: `tl` on the top row and left column, `br` on the
// bottom row and right column.
void Ring(TSysBitmap* b, const TRect& r, TColor32 tl, TColor32 br) {
  if (r.IsEmpty()) return;
  b->FillRect(TRect{r.Left, r.Top, r.Right - 1, r.Top + 1}, tl);
  b->FillRect(TRect{r.Left, r.Top, r.Left + 1, r.Bottom - 1}, tl);
  b->FillRect(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, br);
  b->FillRect(TRect{r.Right - 1, r.Top, r.Right, r.Bottom}, br);
}

TRect Inset(const TRect& r, int32_t d) { return TRect{r.Left + d, r.Top + d, r.Right - d, r.Bottom - d}; }

}  // namespace

TColor32 PicturePixel(TBitmap* bitmap, int32_t x, int32_t y) {
  if (!bitmap || x < 0 || y < 0 || x >= bitmap->Width() || y >= bitmap->Height()) return 0;
  if (auto* sys = dynamic_cast<TSysBitmap*>(bitmap)) {
    const uint8_t* p = sys->PixelAddress(x, y);
    switch (sys->BytesPerPixel()) {
      case 1: return 0xFF000000u | uint32_t(p[0]) * 0x010101u;
      case 3: return 0xFF000000u | uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
      case 4: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
      default: return 0xFF000000u;
    }
  }
  uint32_t px = 0;
  if (bitmap->BytesPerPixel() == 4) bitmap->GetPixels32(x, y, 1, std::span<uint32_t>(&px, 1), 0);
  else px = 0xFF000000u;
  return px;
}

void DrawFocusPatternFrame(TSysBitmap* bitmap, const TRect& rect, TControlStyles* styles) {
  if (rect.IsEmpty() || !styles) return;
  if (!styles->DottedPattern) styles->MakeDottedPattern();
  TSysBitmap* pattern = styles->DottedPattern.get();
  if (!pattern || pattern->Width() < 1 || pattern->Height() < 1) return;
  const int32_t pw = pattern->Width(), ph = pattern->Height();
  auto plot = [&](int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= bitmap->Width() || y >= bitmap->Height()) return;
    const uint32_t px = PicturePixel(pattern, x % pw, y % ph);
    if ((px >> 24) != 0) bitmap->FillRect(TRect{x, y, x + 1, y + 1}, px);
  };
  for (int32_t x = rect.Left; x < rect.Right; ++x) {
    plot(x, rect.Top);
    if (rect.Bottom - 1 > rect.Top) plot(x, rect.Bottom - 1);
  }
  for (int32_t y = rect.Top + 1; y < rect.Bottom - 1; ++y) {
    plot(rect.Left, y);
    if (rect.Right - 1 > rect.Left) plot(rect.Right - 1, y);
  }
}

uint8_t TButtonTheme::ParseState(const std::u16string& key) {
  if (Contains(key, u"Disabled")) return kButtonDisabled;
  uint8_t state = 0;
  if (Contains(key, u"Normal")) state = 0;
  else if (Contains(key, u"Pressed")) state = kButtonPressed;
  else if (Contains(key, u"Defaulted")) state = kButtonDefaulted;
  else if (Contains(key, u"Hot")) state = kButtonHot;
  if (Contains(key, u"Focused")) state |= kButtonFocused;
  return state;
}

void TButtonTheme::GetDefaultSize(TDrawFrame* frame, TSize& size) {
  KAV_ASSERT(frame != nullptr);
  TTextSize ts;
  frame->MeasureText(u"Wg", Styles() ? Styles()->ControlFont : TFontDesc{}, ts);
  size.cx = int32_t(std::lround(ts.Width * kWidthFactor)) + 2 * kMarginX;
  size.cy = ts.Height + 2 * kMarginY;
}

bool TButtonTheme::GetContentRect(uint8_t state, TSize size, TRect& rect) {
  rect = TRect{kMarginX, kMarginY, size.cx - kMarginX, size.cy - kMarginY};
  if (state & kButtonPressed) rect = TRect{rect.Left + 1, rect.Top + 1, rect.Right + 1, rect.Bottom + 1};
  return true;
}

std::u16string TButtonTheme::StateName(uint8_t state) {
  if (state & kButtonAnimated) return u"Invalid";
  if (state & kButtonDisabled) return u"Disabled";
  std::u16string key = (state & kButtonPressed)     ? u"Pressed"
                       : (state & kButtonDefaulted) ? u"Defaulted"
                       : (state & kButtonHot)       ? u"Hot"
                                                    : u"Normal";
  if (state & kButtonFocused) key += u"Focused";
  return key;
}

bool TButtonTheme::GetTransitionTime(uint8_t, uint8_t, uint32_t& milliseconds) {
  milliseconds = 0;
  return false;
}

Ref<TImage> TButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  TControlStyles* s = Styles();
  const uint8_t state = ParseState(key);
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().R8G8B8);
  TRect r{0, 0, size.cx, size.cy};
  const bool pressed = (state & kButtonPressed) != 0;
  if (pressed || (state & kButtonDefaulted)) {
    Ring(b.get(), r, s->FrameColor, s->FrameColor);
    r = Inset(r, 1);
  }
  if (pressed) {
    Ring(b.get(), r, s->ShadowColor, s->ShadowColor);
    Ring(b.get(), Inset(r, 1), s->FaceColor, s->FaceColor);
  } else {
    Ring(b.get(), r, s->HilightColor, s->DarkShadowColor);
    Ring(b.get(), Inset(r, 1), s->LightColor, s->ShadowColor);
  }
  r = Inset(r, 2);
  b->FillRect(r, s->FaceColor);
  if (state & kButtonFocused) DrawFocusPatternFrame(b.get(), Inset(r, 1), s);
  return ImageFromBitmap(b.get(), false, u"");
}

Ref<TImage> TButtonTheme::GetHitPicture(TSize, TPoint& offset) {
  offset = TPoint{0, 0};
  return nullptr;
}

Ref<TButtonTheme> NewClassicButtonTheme(TControlStyles* styles) { return MakeRef<TButtonTheme>(styles); }

TButtonThemeFactory AllocButtonTheme = NewClassicButtonTheme;

void InitButtonTheme() { AllocButtonTheme = NewClassicButtonTheme; }

}  // namespace kav
