#include "VoRav/Composite/winThemedRadioButtonTheme.h"

#include "VoRav/Composite/winThemedCheckBoxTheme.h"
#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Graphics/SysImage.h"

namespace kav {

namespace {

TRadioButtonTheme* WinRadioButtonTheme(TControlStyles* styles) {
  Ref<TWinRadioButtonTheme> t = MakeRef<TWinRadioButtonTheme>(styles);
  return t.get();  // the style set keeps it
}

}  // namespace

bool TWinRadioButtonTheme::GetTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state,
                                             uint8_t old_state) {
  if (!ThemeServices()->ThemesEnabled())
    return TRadioButtonTheme::GetTransitionTime(old_tick, new_tick, ms, new_state, old_state);
  return CheckPartTransitionTime(old_tick, new_tick, ms, new_state, old_state);
}

TThemedElementDetails TWinRadioButtonTheme::Details(const std::u16string& key) {
  const int32_t base = ParseChecked(key) ? 5 : 1;
  return TThemedElementDetails{teButton, 2, base + CheckPartThemeOffset(ParseCheckPartState(key))};
}

Ref<TImage> TWinRadioButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  if (!ThemeServices()->ThemesEnabled()) return TRadioButtonTheme::DrawPart(key, size, offset);
  offset = TPoint{0, 0};
  Ref<TSysBitmap> b = DrawThemedPartBitmap(Details(key), Styles()->FaceColor, size);
  return b ? ImageFromBitmap(b.get(), false, u"") : nullptr;
}

void InitWinThemedRadioButtonTheme() { AllocRadioButtonTheme = WinRadioButtonTheme; }

}  // namespace kav
