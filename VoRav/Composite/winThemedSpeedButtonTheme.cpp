#include "VoRav/Composite/winThemedSpeedButtonTheme.h"

#include <algorithm>

#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

// "toolbar" parts.
constexpr int32_t kToolbarButton = 1, kToolbarSplitButton = 3, kToolbarSplitDropDown = 4;

}  // namespace

int32_t ToolbarButtonCode(const std::u16string& key) {
  const uint8_t state = TSpeedButtonTheme::ParseState(key);
  if (state & kSpeedDisabled) return 5;
  if (key.find(u"Pressed") != std::u16string::npos) return 4;
  const bool hot = state & kSpeedHot, checked = state & kSpeedChecked;
  if (hot && checked) return 7;
  if (hot) return 3;
  if (checked) return 6;
  return 2;
}

bool TWinXPSpeedButtonTheme::ThemeActive() { return ThemeServices()->GetTheme(teToolBar) != 0; }

bool TWinXPSpeedButtonTheme::IsDown(uint8_t state) {
  if (!ThemeActive()) return TSpeedButtonTheme::IsDown(state);
  return false;
}

bool TWinXPSpeedButtonTheme::GetTransitionTime(uint8_t old_state, uint32_t& milliseconds, bool old_checked,
                                               bool new_checked, uint8_t new_state) {
  if (!ThemeActive())
    return TSpeedButtonTheme::GetTransitionTime(old_state, milliseconds, old_checked, new_checked, new_state);
  // Checked is told apart by the two flags, not by the state bits.
  const uint8_t o = old_state & 7, n = new_state & 7;
  const uint8_t gained = n & ~o, lost = o & ~n;
  uint32_t ms = 30;
  if (gained == 0) ms = 500;
  if (lost & kSpeedHot) ms = 500;
  if (gained & kSpeedHot) ms = 150;
  if ((gained | lost) & kSpeedPressed) ms = 30;
  if (old_checked != new_checked) ms = 30;
  milliseconds = ms;
  return true;
}

Ref<TImage> TWinXPSpeedButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  if (!ThemeActive()) return TSpeedButtonTheme::DrawPart(key, size, offset);
  offset = TPoint{0, 0};
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  const int32_t state = ToolbarButtonCode(key) - 1;  // theme states run from 1
  const TColor32 face = Styles()->FaceColor;
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  if (ParsePart(key) == kDropDownButtonPart) {
    const int32_t split = std::max(0, size.cx - kDropDownWidth);
    DrawThemedPart(b.get(), TThemedElementDetails{teToolBar, kToolbarSplitButton, state}, face,
                   TRect{0, 0, split, size.cy});
    DrawThemedPart(b.get(), TThemedElementDetails{teToolBar, kToolbarSplitDropDown, state}, face,
                   TRect{split, 0, size.cx, size.cy});
  } else {
    DrawThemedPart(b.get(), TThemedElementDetails{teToolBar, kToolbarButton, state}, face,
                   TRect{0, 0, size.cx, size.cy});
  }
  return ImageFromBitmap(b.get(), false, u"");
}

Ref<TSpeedButtonTheme> NewWinXPSpeedButtonTheme(TControlStyles* styles) {
  return MakeRef<TWinXPSpeedButtonTheme>(styles);
}

void InitWinXPSpeedButtonTheme() { AllocSpeedButtonTheme = NewWinXPSpeedButtonTheme; }

}  // namespace kav
