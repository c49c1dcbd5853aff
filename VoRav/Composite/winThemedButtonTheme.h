// The visual-styles push-button painter: the push-button part of the
// "button" class, cross-fades between states and a pulsing default button.
// Every operation falls back to the classic painter while visual styles
// are off. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedButtonTheme.h"

namespace kav {

class TWinXPButtonTheme : public TButtonTheme {
 public:
  explicit TWinXPButtonTheme(TControlStyles* styles) : TButtonTheme(styles) {}

  // Visual styles are on and the "button" class has a theme.
  virtual bool ThemeActive();

  bool GetContentRect(uint8_t state, TSize size, TRect& rect) override;
  std::u16string StateName(uint8_t state) override;
  bool GetTransitionTime(uint8_t old_state, uint8_t new_state, uint32_t& milliseconds) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
  Ref<TImage> GetHitPicture(TSize size, TPoint& offset) override;
};

// The theme state of the push-button part for a key (1 normal, 2 hot,
// 3 pressed, 4 disabled, 5 defaulted, 6 animated); `focused` tells whether
// the key asks for the focus frame.
int32_t PushButtonThemeState(const std::u16string& key, bool& focused);

Ref<TButtonTheme> NewWinXPButtonTheme(TControlStyles* styles);
// Module initialisation: new buttons get the visual-styles painter.
void InitWinXPButtonTheme();

}  // namespace kav
