// The visual-styles check-box painter (class "button", check-box part):
// cross-fades between states, and draws the classic glyph while visual
// styles are off. InitWinThemedCheckBoxTheme makes it the painter that
// style sets without one get. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedCheckBoxTheme.h"
#include "VoRav/Composite/winThemes2.h"

namespace kav {

// The fade between two pictures of a check box or radio button: 50 ms when
// the tick changed; none when nothing changed; else 500 ms for hovering and
// 50 ms when any other flag was gained or lost.
bool CheckPartTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state, uint8_t old_state);
// The theme state offset of state flags: 0 normal, 1 hot, 2 pressed, 3
// disabled (disabled wins over pressed, pressed over hot).
int32_t CheckPartThemeOffset(uint8_t state);

class TWinCheckBoxTheme : public TCheckBoxTheme {
 public:
  using TCheckBoxTheme::TCheckBoxTheme;
  bool GetTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state,
                         uint8_t old_state) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
  // The theme details of a key (part 3; states 1-4 unchecked, 5-8 checked,
  // 9-12 neutral).
  static TThemedElementDetails Details(const std::u16string& key);
};

// Module initialisation: the check-box painter factory makes TWinCheckBoxTheme.
void InitWinThemedCheckBoxTheme();

}  // namespace kav
