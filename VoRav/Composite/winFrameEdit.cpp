#include "VoRav/Composite/winFrameEdit.h"

#include <algorithm>

#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysBitmapAlphaUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxConvert.h"

namespace kav {

namespace {

std::u16string Flag(bool v) { return v ? u"T" : u"F"; }

TThemedElementDetails Details(int32_t part, int32_t state) {
  switch (part) {
    case epFrame: return {teEdit, 1, std::clamp(state, 1, 6)};
    case epDropDown: return {teComboBox, 1, std::clamp(state, 1, 4)};
    case epSpinUp: return {teSpin, 1, std::clamp(state, 1, 4)};
    default: return {teSpin, 2, std::clamp(state, 1, 4)};
  }
}

// A part drawn into a new 32-bit picture. When the drawing leaves colour
// without alpha, it is drawn again on opaque white and the two are merged
// against the face colour.
Ref<TSysBitmap> DrawThemed(const TThemedElementDetails& d, TSize size, TColor32 face) {
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  const TRect r{0, 0, size.cx, size.cy};
  b->FillRect(r, kTransparentColor);
  ThemeDrawBackground(d, b.get(), r, nullptr);
  bool all_zero = false;
  if (!HasAlphaContent(b.get(), all_zero) && !all_zero) {
    Ref<TSysBitmap> white = CreateSysBitmap(size.cx, size.cy, StdFormats().R8G8B8);
    white->FillRect(r, ColorRGBA(255, 255, 255, 255));
    ThemeDrawBackground(d, white.get(), r, nullptr);
    b->FillRect(r, kTransparentColor);
    ThemeDrawBackground(d, b.get(), r, nullptr);
    MergeAlphaPlane(b.get(), white.get(), face);
  }
  return b;
}

// first x w + second x (255 - w) into second, row by row (both 32-bit
// pictures of one size, straight alpha): the colours are weighted by their
// alpha, so a transparent pixel adds no colour of its own.
void Blend(TSysBitmap* first, TSysBitmap* second, int32_t w) {
  for (int32_t y = 0; y < first->Height(); ++y) {
    const uint8_t* a = first->Row(y);
    uint8_t* c = second->Row(y);
    for (int32_t x = 0; x < first->Width(); ++x, a += 4, c += 4) {
      const uint32_t wa = a[3] * uint32_t(w), wc = c[3] * uint32_t(255 - w), sum = wa + wc;
      for (int i = 0; i < 3; ++i) c[i] = sum ? uint8_t((a[i] * wa + c[i] * wc + sum / 2) / sum) : 0;
      c[3] = uint8_t((sum + 127) / 255);
    }
  }
}

}  // namespace

bool EditThemesEnabled() {
  TThemeServices* t = ThemeServices();
  return t && t->ThemesEnabled() && t->GetTheme(teEdit) != 0;
}

void TWinFrameEditTheme::Layout(TEditLayout& l, TSize size, int32_t kind) {
  TFrameEditTheme::Layout(l, size, kind);
  if (l.ButtonCount == 1 || !EditThemesEnabled()) return;
  // The buttons sit on the frame's border: one pixel out to the right, the
  // top (the drop-down and the upper spin button) and the bottom (the
  // drop-down and the lower spin button).
  l.Button1.Rect.Right += 1;
  l.Button1.Rect.Top -= 1;
  if (l.ButtonCount == 2) {
    l.Button1.Rect.Bottom += 1;
  } else {
    l.Button2.Rect.Right += 1;
    l.Button2.Rect.Bottom += 1;
  }
}

std::u16string TWinFrameEditTheme::PartKey(const TEditPartRequest& r) {
  if (!EditThemesEnabled()) return TFrameEditTheme::PartKey(r);
  // The state number: the state, and for a blend the other state and the
  // weight above it.
  const bool blend = r.Weight > 0 && r.Weight < 255 && r.FromState > 0 && r.FromState != r.State;
  const int32_t number = blend ? r.State + 16 * r.FromState + 256 * r.Weight
                         : r.Weight >= 255 && r.FromState > 0 ? r.FromState
                                                              : r.State;
  return u"WinEditTh:" + IntToStr(r.Size.cx) + u"," + IntToStr(r.Size.cy) + u"," + IntToStr(number) + u"," +
         Flag(EditKeyUsable(r)) + Flag(EditKeyActive(r));
}

Ref<TImage> TWinFrameEditTheme::Paint(const TEditPartRequest& r) {
  if (!EditThemesEnabled()) return TFrameEditTheme::Paint(r);
  const TColor32 face = EditStyles()->FaceColor;
  // Weight 0 or equal states: the state alone; 255: the other state alone.
  const bool blend = r.Weight > 0 && r.Weight < 255 && r.FromState > 0 && r.FromState != r.State;
  const int32_t shown = r.Weight >= 255 && r.FromState > 0 ? r.FromState : r.State;
  Ref<TSysBitmap> picture = DrawThemed(Details(r.Part, shown), r.Size, face);
  if (blend) {
    Ref<TSysBitmap> from = DrawThemed(Details(r.Part, r.FromState), r.Size, face);
    Blend(from.get(), picture.get(), r.Weight);
  }
  return ImageFromBitmap(picture.get(), false, u"");
}

TFrameEditTheme* AttachWinFrameEditTheme(TControlStyles* styles) {
  if (!styles) return nullptr;
  if (auto* t = styles->FindTheme<TFrameEditTheme>()) return t;
  Ref<TWinFrameEditTheme> t = MakeRef<TWinFrameEditTheme>(styles, true);
  return t.get();  // the style set keeps it
}

}  // namespace kav
