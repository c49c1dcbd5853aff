#include "VoRav/Composite/vxThemedRadioButtonTheme.h"

#include "VoRav/Composite/vxCtrlVectorDraw.h"
#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TRadioButtonTheme* ClassicRadioButtonTheme(TControlStyles* styles) {
  Ref<TRadioButtonTheme> t = MakeRef<TRadioButtonTheme>(styles);
  return t.get();  // the style set keeps it
}

}  // namespace

TRadioButtonThemeFactory AllocRadioButtonTheme = ClassicRadioButtonTheme;

void InitThemedRadioButtonTheme() { AllocRadioButtonTheme = ClassicRadioButtonTheme; }

TRadioButtonTheme* RadioButtonThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  if (TRadioButtonTheme* t = styles->FindTheme<TRadioButtonTheme>()) return t;
  return AllocRadioButtonTheme(styles);
}

std::u16string TRadioButtonTheme::StateName(uint8_t tick, uint8_t state) {
  return (tick ? u"rbChecked" : u"rbUnchecked") + CheckPartStateWord(state);
}

bool TRadioButtonTheme::ParseChecked(const std::u16string& key) {
  return key.find(u"rbChecked") != std::u16string::npos;
}

Ref<TImage> TRadioButtonTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx < 1 || size.cy < 1) return nullptr;
  const bool enabled = (ParseCheckPartState(key) & kCheckPartDisabled) == 0;
  return DrawRadioButtonGlyph(Styles(), size.cx, size.cy, ParseChecked(key), enabled);
}

}  // namespace kav
