#include "VoRav/Composite/winThemedButtonTheme.h"

#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

bool Contains(const std::u16string& key, const char16_t* word) { return key.find(word) != std::u16string::npos; }

constexpr int32_t kPushButtonPart = 1;

}  // namespace

int32_t PushButtonThemeState(const std::u16string& key, bool& focused) {
  focused = Contains(key, u"Focused");
  if (Contains(key, u"Disabled")) return 4;
  if (Contains(key, u"Pressed")) return 3;
  if (Contains(key, u"Defaulted")) return 5;
  if (Contains(key, u"Hot")) return 2;
  if (Contains(key, u"Animated")) return 6;
  return 1;
}

bool TWinXPButtonTheme::ThemeActive() { return ThemeServices()->GetTheme(teButton) != 0; }

bool TWinXPButtonTheme::GetContentRect(uint8_t state, TSize size, TRect& rect) {
  if (!ThemeActive()) return TButtonTheme::GetContentRect(state, size, rect);
  rect = TRect{kMarginX, kMarginY, size.cx - kMarginX, size.cy - kMarginY};
  return true;
}

std::u16string TWinXPButtonTheme::StateName(uint8_t state) {
  if (!ThemeActive()) return TButtonTheme::StateName(state);
  if (state & kButtonDisabled) return u"Disabled";
  std::u16string key = (state & kButtonAnimated)   ? u"Animated"
                       : (state & kButtonPressed)  ? u"Pressed"
                       : (state & kButtonHot)      ? u"Hot"
                       : (state & kButtonDefaulted) ? u"Defaulted"
                                                    : u"Normal";
  if (state & kButtonFocused) key += u"Focused";
  return key;
}

bool TWinXPButtonTheme::GetTransitionTime(uint8_t old_state, uint8_t new_state, uint32_t& milliseconds) {
  if (!ThemeActive()) return TButtonTheme::GetTransitionTime(old_state, new_state, milliseconds);
  const uint8_t gained = new_state & ~old_state, lost = old_state & ~new_state;
  uint32_t ms = 30;
  if (gained == 0) ms = 500;
  if (lost & kButtonFocused) ms = 30;
  if (lost & kButtonDefaulted) ms = 30;
  if (lost == kButtonHot) ms = 500;
  if (gained == kButtonHot) ms = 500;
  if (lost == kButtonPressed) ms = 30;
  if (gained == kButtonAnimated) ms = 2000;
  milliseconds = ms;
  return true;
}

Ref<TImage> TWinXPButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  if (!ThemeActive()) return TButtonTheme::DrawPart(key, size, offset);
  offset = TPoint{0, 0};
  if (size.cx <= 0 || size.cy <= 0) return nullptr;
  bool focused = false;
  const int32_t state = PushButtonThemeState(key, focused);
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  const TRect r{0, 0, size.cx, size.cy};
  DrawThemedPart(b.get(), TThemedElementDetails{teButton, kPushButtonPart, state}, Styles()->FaceColor, r);
  if (focused) DrawFocusPatternFrame(b.get(), TRect{3, 3, size.cx - 3, size.cy - 3}, Styles());
  return ImageFromBitmap(b.get(), false, u"");
}

Ref<TImage> TWinXPButtonTheme::GetHitPicture(TSize size, TPoint& offset) {
  if (!ThemeActive()) return TButtonTheme::GetHitPicture(size, offset);
  return DrawPart(u"Normal", size, offset);
}

Ref<TButtonTheme> NewWinXPButtonTheme(TControlStyles* styles) { return MakeRef<TWinXPButtonTheme>(styles); }

void InitWinXPButtonTheme() { AllocButtonTheme = NewWinXPButtonTheme; }

}  // namespace kav
