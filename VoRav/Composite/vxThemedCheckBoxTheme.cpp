#include "VoRav/Composite/vxThemedCheckBoxTheme.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Composite/vxCtrlVectorDraw.h"
#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TCheckBoxTheme* ClassicCheckBoxTheme(TControlStyles* styles) {
  Ref<TCheckBoxTheme> t = MakeRef<TCheckBoxTheme>(styles);
  return t.get();  // the style set keeps it
}

bool Contains(const std::u16string& key, const char16_t* word) { return key.find(word) != std::u16string::npos; }

double DeviceScale(TControlStyles* styles) {
  return styles && styles->ScaleX > 0.00001 ? styles->ScaleX : 1.0;
}

}  // namespace

TCheckBoxThemeFactory AllocCheckBoxTheme = ClassicCheckBoxTheme;

void InitThemedCheckBoxTheme() { AllocCheckBoxTheme = ClassicCheckBoxTheme; }

TCheckBoxTheme* CheckBoxThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  if (TCheckBoxTheme* t = styles->FindTheme<TCheckBoxTheme>()) return t;
  return AllocCheckBoxTheme(styles);
}

// --- TCheckMarkTheme ---

int32_t TCheckMarkTheme::LineHeight(TDrawFrame* frame) {
  if (!frame || !Styles()) return 0;
  TTextSize ts;
  frame->MeasureText(u"Wg", Styles()->ControlFont, ts);
  return ts.Height;
}

int32_t TCheckMarkTheme::BoxSize(TDrawFrame* frame) {
  const double scale = DeviceScale(Styles());
  const double at96 = LineHeight(frame) / scale;
  return int32_t(std::lround(std::max(13.0, at96 - 2) * scale));
}

void TCheckMarkTheme::GetDefaultSize(TDrawFrame* frame, TSize text, TSize& size) {
  const int32_t l = LineHeight(frame);
  size.cx = text.cx + l + Gap() + Margin();
  size.cy = std::max(l, text.cy);
}

void TCheckMarkTheme::GetTextRect(TDrawFrame* frame, TSize size, TRect& rect, int32_t text_width,
                                  bool right_to_left) {
  const int32_t l = LineHeight(frame);
  rect.Top = 0;
  rect.Bottom = size.cy;
  if (!right_to_left) {
    rect.Left = Gap() + l;
    rect.Right = std::min(rect.Left + text_width + Margin(), size.cx - Margin());
  } else {
    rect.Right = size.cx - l - Gap();
    rect.Left = std::max(rect.Right - text_width - Margin(), Margin());
  }
}

void TCheckMarkTheme::GetBoxRect(TDrawFrame* frame, TSize size, TRect& rect, bool right_to_left) {
  const int32_t s = BoxSize(frame);
  rect.Top = (size.cy - s + 1) / 2;  // rounded toward zero
  rect.Bottom = rect.Top + s;
  rect.Left = right_to_left ? size.cx - s : 0;
  rect.Right = right_to_left ? size.cx : s;
}

bool TCheckMarkTheme::GetTransitionTime(uint8_t, uint8_t, uint32_t& ms, uint8_t, uint8_t) {
  ms = 0;
  return false;
}

bool TCheckMarkTheme::Slot7(TPoint& point) {
  point = TPoint{0, 0};
  return false;
}

bool TCheckMarkTheme::DrawFocus(TDrawSurface* surface, const TRect& rect) {
  TControlStyles* s = Styles();
  if (!surface || !s) return true;
  if (!s->DottedPattern) s->MakeDottedPattern();
  const TRect r{rect.Left - 1, rect.Top, rect.Right + 1, rect.Bottom};
  if (r.IsEmpty()) return true;
  TBitmap* p = s->DottedPattern.get();
  const TPoint origin{0, 0};
  surface->FillTiled(TRect{r.Left, r.Top, r.Right, r.Top + 1}, p, origin);
  surface->FillTiled(TRect{r.Left, r.Bottom - 1, r.Right, r.Bottom}, p, origin);
  surface->FillTiled(TRect{r.Left, r.Top + 1, r.Left + 1, r.Bottom - 1}, p, origin);
  surface->FillTiled(TRect{r.Right - 1, r.Top + 1, r.Right, r.Bottom - 1}, p, origin);
  return true;
}

std::u16string CheckPartStateWord(uint8_t state) {
  if (state & kCheckPartDisabled) return u"Disabled";
  if ((state & kCheckPartPressed) && (state & kCheckPartHot)) return u"Pressed";
  if (state & (kCheckPartPressed | kCheckPartHot)) return u"Hot";
  return u"Normal";
}

uint8_t ParseCheckPartState(const std::u16string& key) {
  uint8_t state = 0;
  if (Contains(key, u"Disabled")) state |= kCheckPartDisabled;
  if (Contains(key, u"Hot")) state |= kCheckPartHot;
  if (Contains(key, u"Pressed")) state |= kCheckPartPressed;
  return state;
}

uint8_t TickOfCheckState(uint8_t state) {
  switch (state) {
    case 0: return kTickUnchecked;
    case 1: return kTickChecked;
    case 2: return kTickNeutral;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
}

// --- TCheckBoxTheme ---

std::u16string TCheckBoxTheme::StateName(uint8_t tick, uint8_t state) {
  const char16_t* prefix = nullptr;
  switch (tick) {
    case kTickUnchecked: prefix = u"cbUnchecked|"; break;
    case kTickNeutral: prefix = u"cbNeutral|"; break;
    case kTickChecked: prefix = u"cbChecked|"; break;
    default: KAV_ASSERT_FAIL("Assertion failure");
  }
  return prefix + CheckPartStateWord(state);
}

uint8_t TCheckBoxTheme::ParseTick(const std::u16string& key) {
  if (Contains(key, u"cbChecked")) return kTickChecked;
  if (Contains(key, u"cbNeutral")) return kTickNeutral;
  return kTickUnchecked;
}

Ref<TImage> TCheckBoxTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx < 1 || size.cy < 1) return nullptr;
  const bool enabled = (ParseCheckPartState(key) & kCheckPartDisabled) == 0;
  return DrawCheckBoxGlyph(Styles(), size.cx, size.cy, ParseTick(key), enabled);
}

}  // namespace kav
