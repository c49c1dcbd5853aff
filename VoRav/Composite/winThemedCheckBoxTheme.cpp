#include "VoRav/Composite/winThemedCheckBoxTheme.h"

#include "VoRav/Composite/vxCtrlVectorDraw.h"
#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Graphics/SysImage.h"

namespace kav {

namespace {

TCheckBoxTheme* WinCheckBoxTheme(TControlStyles* styles) {
  Ref<TWinCheckBoxTheme> t = MakeRef<TWinCheckBoxTheme>(styles);
  return t.get();  // the style set keeps it
}

}  // namespace

bool CheckPartTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state, uint8_t old_state) {
  ms = 0;
  if (old_tick != new_tick) {
    ms = 50;
    return true;
  }
  if (old_state == new_state) return false;
  ms = ((old_state ^ new_state) & ~kCheckPartHot) != 0 ? 50 : 500;
  return true;
}

int32_t CheckPartThemeOffset(uint8_t state) {
  if (state & kCheckPartDisabled) return 3;
  if (state & kCheckPartPressed) return 2;
  if (state & kCheckPartHot) return 1;
  return 0;
}

bool TWinCheckBoxTheme::GetTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state,
                                          uint8_t old_state) {
  if (!ThemeServices()->ThemesEnabled())
    return TCheckBoxTheme::GetTransitionTime(old_tick, new_tick, ms, new_state, old_state);
  return CheckPartTransitionTime(old_tick, new_tick, ms, new_state, old_state);
}

TThemedElementDetails TWinCheckBoxTheme::Details(const std::u16string& key) {
  const uint8_t tick = ParseTick(key);
  const int32_t base = tick == kTickChecked ? 5 : tick == kTickNeutral ? 9 : 1;
  return TThemedElementDetails{teButton, 3, base + CheckPartThemeOffset(ParseCheckPartState(key))};
}

Ref<TImage> TWinCheckBoxTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  if (!ThemeServices()->ThemesEnabled()) return TCheckBoxTheme::DrawPart(key, size, offset);
  offset = TPoint{0, 0};
  Ref<TSysBitmap> b = DrawThemedPartBitmap(Details(key), Styles()->FaceColor, size);
  return b ? ImageFromBitmap(b.get(), false, u"") : nullptr;
}

void InitWinThemedCheckBoxTheme() { AllocCheckBoxTheme = WinCheckBoxTheme; }

}  // namespace kav
