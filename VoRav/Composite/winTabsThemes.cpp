#include "VoRav/Composite/winTabsThemes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

// Classic constants (at 100%).
constexpr int32_t kTabInset = 7;
constexpr int32_t kTopGap = 2;
constexpr int32_t kRowExtra = 2;
constexpr int32_t kDefaultTabHeight = 22;
constexpr int32_t kArrowMargin = 2;
// Visual-styles constants (at 100%).
constexpr int32_t kXPTabHeightExtra = 5;
constexpr int32_t kXPRowExtra = 2;
constexpr int32_t kXPArrowArea = 2;
constexpr int32_t kXPTabInset = 6;
constexpr int32_t kXPTopGap = 4;
constexpr int32_t kXPArrowTop = 1;

constexpr TColor32 kOpaqueBlack = 0xFF000000u;

bool HasLetter(const std::u16string& key, char16_t c) { return key.find(c) != std::u16string::npos; }

Ref<TSysBitmap> NewPicture(int32_t w, int32_t h) {
  if (w < 1 || h < 1) return nullptr;
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  if (b) b->FillRect(TRect{0, 0, w, h}, 0);
  return b;
}

void Run(TSysBitmap* b, int32_t left, int32_t top, int32_t right, int32_t bottom, TColor32 c) {
  b->FillRect(TRect{left, top, right, bottom}, c);
}

// Turns the picture upside down (tabs at the bottom).
void FlipRows(TSysBitmap* b) {
  const size_t bytes = size_t(b->Width()) * size_t(b->BytesPerPixel());
  std::vector<uint8_t> tmp(bytes);
  for (int32_t y = 0, z = b->Height() - 1; y < z; ++y, --z) {
    std::memcpy(tmp.data(), b->Row(y), bytes);
    std::memcpy(b->Row(y), b->Row(z), bytes);
    std::memcpy(b->Row(z), tmp.data(), bytes);
  }
}

// A part of a class drawn over the whole picture; false when the visual
// style cannot draw it.
bool DrawThemed(TSysBitmap* b, int32_t element, int32_t code) {
  return ThemeDrawBackground(ThemeElementDetails(element, code), b, TRect{0, 0, b->Width(), b->Height()},
                             nullptr) == uxtheme::S_OK;
}

}  // namespace

// --- TWin9xTabsTheme ---

int32_t TWin9xTabsTheme::Px(int32_t value) const {
  const double s = Styles() ? Styles()->ScaleY : 1.0;
  return int32_t(std::lround(value * (s > 0 ? s : 1.0)));
}

int32_t TWin9xTabsTheme::TextHeight(TDrawFrame* frame) {
  if (!frame) return 0;
  TFontDesc font;
  GetFont(font);
  TTextSize ts;
  frame->MeasureText(u"Wg", font, ts);
  return ts.Height;
}

TRect TWin9xTabsTheme::AreaWithoutRow(TSize size, uint8_t orientation, int32_t row_height) {
  return orientation == 0 ? TRect{0, row_height, size.cx, size.cy} : TRect{0, 0, size.cx, size.cy - row_height};
}

int32_t TWin9xTabsTheme::GetTabHeight(TDrawFrame* frame) {
  return frame ? TextHeight(frame) + 2 * Px(kTopGap) : Px(kDefaultTabHeight);
}

TRect TWin9xTabsTheme::GetTabContentRect(TSize size) {
  return TRect{Px(kTabInset), Px(kTopGap), size.cx - Px(kTabInset), size.cy};
}

TPoint TWin9xTabsTheme::GetCaptionOffset(uint8_t state) {
  return (state & kTabStateSelected) ? TPoint{0, -Px(kTopGap)} : TPoint{};
}

TRect TWin9xTabsTheme::GetPageRect(TDrawFrame* frame, TSize size, uint8_t orientation) {
  // The page lies below the tab row as tall as the font makes it (a fixed
  // 22-pixel row would put a larger font's tabs over the page); the edge at
  // the tabs is the 4-pixel one in either orientation.
  const int32_t row = GetTabRowRect(frame, size, orientation, false).Height();
  TRect r = AreaWithoutRow(size, orientation, row);
  const int32_t side = Px(6), near_tabs = Px(4);
  r.Left += side;
  r.Right -= side;
  r.Top += orientation == 0 ? near_tabs : side;
  r.Bottom -= orientation == 0 ? side : near_tabs;
  return r;
}

void TWin9xTabsTheme::GetArrowRects(TDrawFrame* frame, TSize size, uint8_t orientation, TRect& arrow0,
                                    TRect& arrow1) {
  const TRect row = GetTabRowRect(frame, size, orientation, false);
  const int32_t a = row.Height() - Px(kArrowMargin);
  arrow0 = TRect{size.cx - a, row.Top, size.cx, row.Top + a};
  arrow1 = TRect{size.cx - 2 * a, row.Top, size.cx - a, row.Top + a};
}

TRect TWin9xTabsTheme::GetTabRowRect(TDrawFrame* frame, TSize size, uint8_t orientation, bool arrows) {
  const int32_t h = GetTabHeight(frame) + Px(kRowExtra);
  TRect r = orientation == 0 ? TRect{0, 0, size.cx, h} : TRect{0, size.cy - h, size.cx, size.cy};
  if (arrows) r.Right -= 2 * (h - Px(kArrowMargin));
  return r;
}

int32_t TWin9xTabsTheme::GetTabWidth(int32_t caption_width) { return caption_width + 2 * Px(kTabInset); }

std::u16string TWin9xTabsTheme::GetStateKey(uint8_t state, uint8_t orientation) {
  std::u16string key;
  if (orientation == 1) key += u'b';
  if (state & kTabStateSelected) key += u's';
  if (state & kTabStateHot) key += u'h';
  // A disabled control's pictures have keys of their own.
  if (state & kTabStateDisabled) key += u'd';
  return key;
}

Ref<TSysBitmap> TWin9xTabsTheme::GetBackground(const std::u16string& key, int32_t row_height, TSize size,
                                               TPoint& offset) {
  const bool bottom = HasLetter(key, u'b');
  const TRect area = AreaWithoutRow(size, bottom ? 1 : 0, row_height);
  offset = TPoint{area.Left, area.Top};
  const int32_t w = area.Width(), h = area.Height();
  Ref<TSysBitmap> b = NewPicture(w, h);
  if (!b) return nullptr;
  TControlStyles* s = Styles();
  Run(b.get(), 0, 0, w, h, s->FaceColor);
  // Outer ring: highlight left and top, frame colour right and bottom.
  Run(b.get(), 0, 0, w, 1, s->HilightColor);
  Run(b.get(), 0, 0, 1, h, s->HilightColor);
  Run(b.get(), 0, h - 1, w, h, s->FrameColor);
  Run(b.get(), w - 1, 0, w, h, s->FrameColor);
  // Inner ring: light left and top, shadow right and bottom.
  if (w > 2 && h > 2) {
    Run(b.get(), 1, 1, w - 1, 2, s->LightColor);
    Run(b.get(), 1, 1, 2, h - 1, s->LightColor);
    Run(b.get(), 1, h - 2, w - 1, h - 1, s->ShadowColor);
    Run(b.get(), w - 2, 1, w - 1, h - 1, s->ShadowColor);
  }
  return b;
}

Ref<TSysBitmap> TWin9xTabsTheme::GetArrowPicture(const std::u16string& key, int32_t index, TSize size,
                                                 TPoint& offset) {
  offset = TPoint{};
  const int32_t w = size.cx, h = size.cy;
  Ref<TSysBitmap> b = NewPicture(w, h);
  if (!b) return nullptr;
  TControlStyles* s = Styles();
  const bool pressed = HasLetter(key, u's');
  if (pressed)
    DrawClassicRaisedFrame(b.get(), s->ShadowColor, s->DarkShadowColor, s->FaceColor, s->FaceColor,
                           s->HilightColor);
  else
    DrawClassicRaisedFrame(b.get(), s->FaceColor, s->HilightColor, s->FaceColor, s->ShadowColor,
                           s->DarkShadowColor);
  const int32_t shift = pressed ? 1 : 0;
  const bool left = index == kArrowBackward;
  const int32_t x = w / 2 - w / 8 + shift - (left ? 1 : 0);
  const int32_t y = w / 4 + shift;
  // The arrow of a disabled control is drawn in the shadow colour.
  DrawPixelArrow(b.get(), x, y, !left, HasLetter(key, u'd') ? s->ShadowColor : kOpaqueBlack, h / 2);
  return b;
}

Ref<TSysBitmap> TWin9xTabsTheme::GetTabPicture(const std::u16string& key, uint8_t /*kind*/, uint8_t cut, TSize size,
                                               TPoint& offset) {
  const bool selected = HasLetter(key, u's');
  const int32_t grow = selected ? Px(kTopGap) : 0;
  offset = TPoint{-grow, -grow};
  const int32_t w = size.cx + 2 * grow, h = size.cy + 2 * grow;
  Ref<TSysBitmap> b = NewPicture(w, h);
  if (!b) return nullptr;
  TControlStyles* s = Styles();
  const bool cut_left = (cut & kTabCutLeft) != 0, cut_right = (cut & kTabCutRight) != 0;
  // Drawn with the tabs on top; turned over for tabs at the bottom.
  const int32_t face_left = cut_left ? 0 : 2, face_right = cut_right ? w : w - 2;
  Run(b.get(), face_left, 2, face_right, h, s->FaceColor);
  // Top edge: highlight, then light below it.
  Run(b.get(), cut_left ? 0 : 2, 0, cut_right ? w : w - 2, 1, s->HilightColor);
  Run(b.get(), cut_left ? 0 : 2, 1, cut_right ? w : w - 2, 2, s->LightColor);
  if (!cut_left) {
    Run(b.get(), 0, 2, 1, h, s->HilightColor);
    Run(b.get(), 1, 1, 2, 2, s->HilightColor);
    Run(b.get(), 1, 2, 2, h, s->LightColor);
  }
  if (!cut_right) {
    Run(b.get(), w - 1, 2, w, h, s->DarkShadowColor);
    Run(b.get(), w - 2, 1, w - 1, 2, s->DarkShadowColor);
    Run(b.get(), w - 2, 2, w - 1, h, s->ShadowColor);
  }
  if (HasLetter(key, u'b')) FlipRows(b.get());
  return b;
}

// --- TWinXPTabsTheme ---

bool TWinXPTabsTheme::Themed() {
  TThemeServices* services = ThemeServices();
  return services->ThemesEnabled() && services->GetTheme(teTab) != 0;
}

int32_t TWinXPTabsTheme::GetTabHeight(TDrawFrame* frame) {
  if (!Themed()) return TWin9xTabsTheme::GetTabHeight(frame);
  if (frame) return TextHeight(frame) + Px(kXPTabHeightExtra);
  TSize part;
  if (ThemeGetPartSize(ThemeElementDetails(teTab, 2), nullptr, nullptr, uxtheme::TS_TRUE, part) == uxtheme::S_OK)
    return part.cy;
  return TWin9xTabsTheme::GetTabHeight(frame);
}

TRect TWinXPTabsTheme::GetTabContentRect(TSize size) {
  if (!Themed()) return TWin9xTabsTheme::GetTabContentRect(size);
  return TRect{Px(kXPTabInset), Px(kXPTopGap), size.cx - Px(kXPTabInset), size.cy};
}

TRect TWinXPTabsTheme::GetPageRect(TDrawFrame* frame, TSize size, uint8_t orientation) {
  if (!Themed()) return TWin9xTabsTheme::GetPageRect(frame, size, orientation);
  const TRect area = AreaWithoutRow(size, orientation, GetTabHeight(frame) + Px(kXPRowExtra));
  TRect content = area;
  if (ThemeCallEntry(ThemeElementDetails(teTab, 42), nullptr, area, content) != uxtheme::S_OK) return area;
  return content;
}

void TWinXPTabsTheme::GetArrowRects(TDrawFrame* frame, TSize size, uint8_t orientation, TRect& arrow0,
                                    TRect& arrow1) {
  if (!Themed()) {
    TWin9xTabsTheme::GetArrowRects(frame, size, orientation, arrow0, arrow1);
    return;
  }
  const TRect row = GetTabRowRect(frame, size, orientation, false);
  const int32_t a = GetTabHeight(frame) - Px(kXPArrowTop);
  const int32_t top = row.Top + Px(kXPArrowTop);
  arrow0 = TRect{size.cx - a, top, size.cx, top + a};
  arrow1 = TRect{size.cx - 2 * a, top, size.cx - a, top + a};
}

TRect TWinXPTabsTheme::GetTabRowRect(TDrawFrame* frame, TSize size, uint8_t orientation, bool arrows) {
  if (!Themed()) return TWin9xTabsTheme::GetTabRowRect(frame, size, orientation, arrows);
  const int32_t tab = GetTabHeight(frame);
  const int32_t h = tab + Px(kXPRowExtra);
  TRect r = orientation == 0 ? TRect{0, 0, size.cx, h} : TRect{0, size.cy - h, size.cx, size.cy};
  r.Right -= arrows ? 2 * (tab - Px(kXPArrowTop)) : Px(kXPArrowArea);
  return r;
}

void TWinXPTabsTheme::GetRowMargins(int32_t& left, int32_t& right) {
  if (!Themed()) {
    TWin9xTabsTheme::GetRowMargins(left, right);
    return;
  }
  left = Px(2);
  right = 0;
}

Ref<TSysBitmap> TWinXPTabsTheme::GetBackground(const std::u16string& key, int32_t row_height, TSize size,
                                               TPoint& offset) {
  if (!Themed()) return TWin9xTabsTheme::GetBackground(key, row_height, size, offset);
  const TRect area = AreaWithoutRow(size, HasLetter(key, u'b') ? 1 : 0, row_height);
  offset = TPoint{area.Left, area.Top};
  Ref<TSysBitmap> b = NewPicture(area.Width(), area.Height());
  if (!b) return nullptr;
  b->FillRect(TRect{0, 0, b->Width(), b->Height()}, Styles()->FaceColor);
  if (!DrawThemed(b.get(), teTab, 42)) return TWin9xTabsTheme::GetBackground(key, row_height, size, offset);
  return b;
}

Ref<TSysBitmap> TWinXPTabsTheme::GetArrowPicture(const std::u16string& key, int32_t index, TSize size,
                                                 TPoint& offset) {
  if (!Themed()) return TWin9xTabsTheme::GetArrowPicture(key, index, size, offset);
  offset = TPoint{};
  Ref<TSysBitmap> b = NewPicture(size.cx, size.cy);
  if (!b) return nullptr;
  // Kind 0 is the horizontal up (right-pointing) part, kind 1 the down one.
  const int32_t base = index == kArrowBackward ? 14 : 10;
  const int32_t code =
      base + (HasLetter(key, u'd') ? 3 : HasLetter(key, u's') ? 2 : HasLetter(key, u'h') ? 1 : 0);
  if (!DrawThemed(b.get(), teSpin, code)) return TWin9xTabsTheme::GetArrowPicture(key, index, size, offset);
  return b;
}

Ref<TSysBitmap> TWinXPTabsTheme::GetTabPicture(const std::u16string& key, uint8_t kind, uint8_t cut, TSize size,
                                               TPoint& offset) {
  if (!Themed()) return TWin9xTabsTheme::GetTabPicture(key, kind, cut, size, offset);
  const bool selected = HasLetter(key, u's');
  const int32_t grow = selected ? Px(2) : 0;
  offset = TPoint{-grow, -grow};
  Ref<TSysBitmap> b = NewPicture(size.cx + 2 * grow, size.cy + 2 * grow);
  if (!b) return nullptr;
  // Top tab items: the plain part for kinds 0 to 2, the both-edges part for
  // a single tab, the left- and right-edge parts for tabs at the row's edge.
  const int32_t base = kind == kTabSingle ? 37 : kind == kTabFirstAtEdge ? 27 : kind == kTabLastAtEdge ? 32 : 22;
  const int32_t code = base + (HasLetter(key, u'd') ? 3 : selected ? 2 : HasLetter(key, u'h') ? 1 : 0);
  if (!DrawThemed(b.get(), teTab, code)) return TWin9xTabsTheme::GetTabPicture(key, kind, cut, size, offset);
  if (HasLetter(key, u'b')) FlipRows(b.get());
  return b;
}

uint8_t TWinXPTabsTheme::GetSingleTabKind(uint8_t style) {
  if (!Themed()) return TWin9xTabsTheme::GetSingleTabKind(style);
  switch (style) {
    case 0: return kTabFirstAtEdge;
    case 1: return kTabMiddle;
    case 2: return kTabLastAtEdge;
    default: return kTabFirst;
  }
}

void InitWinTabsTheme() {
  InitThemedTabControl();
  TWinControlStyles* styles = DefaultWinControlStyles();
  if (styles && !styles->FindTheme<TWinXPTabsTheme>()) MakeRef<TWinXPTabsTheme>(styles);
}

}  // namespace kav
