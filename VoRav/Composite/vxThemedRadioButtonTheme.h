// The classic radio-button painter: the circle as a vector glyph. Shares
// the layout of the check-box painter. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedCheckBoxTheme.h"

namespace kav {

class TRadioButtonTheme : public TCheckMarkTheme {
 public:
  using TCheckMarkTheme::TCheckMarkTheme;
  // "rbChecked" or "rbUnchecked" joined to the state word (rbUncheckedNormal).
  std::u16string StateName(uint8_t tick, uint8_t state) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
  // A key names a checked button when it holds "rbChecked".
  static bool ParseChecked(const std::u16string& key);

 protected:
  int32_t Gap() const override { return kRadioButtonGap; }
  int32_t Margin() const override { return kRadioButtonMargin; }
};

using TRadioButtonThemeFactory = TRadioButtonTheme* (*)(TControlStyles* styles);
extern TRadioButtonThemeFactory AllocRadioButtonTheme;
// The attached painter of the style set (the default one for nil), made by
// the factory when there is none.
TRadioButtonTheme* RadioButtonThemeOf(TControlStyles* styles);
// Module initialisation: the factory makes the classic TRadioButtonTheme.
void InitThemedRadioButtonTheme();

}  // namespace kav
