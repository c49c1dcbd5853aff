// The visual-styles radio-button painter (class "button", radio part):
// cross-fades between states, and draws the classic glyph while visual
// styles are off. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedRadioButtonTheme.h"
#include "VoRav/Composite/winThemes2.h"

namespace kav {

class TWinRadioButtonTheme : public TRadioButtonTheme {
 public:
  using TRadioButtonTheme::TRadioButtonTheme;
  bool GetTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state,
                         uint8_t old_state) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
  // Part 2; states 1-4 unchecked, 5-8 checked.
  static TThemedElementDetails Details(const std::u16string& key);
};

// Module initialisation: the radio painter factory makes TWinRadioButtonTheme.
void InitWinThemedRadioButtonTheme();

}  // namespace kav
