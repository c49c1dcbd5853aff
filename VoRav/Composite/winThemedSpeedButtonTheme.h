// The visual-styles speed-button painter: the button parts of the
// "toolbar" class (a split button and its drop-down part for a button with
// an arrow) and cross-fades between states. Every operation falls back to
// the classic painter while visual styles are off. GUI thread only.
#pragma once

#include "VoRav/Composite/vxThemedSpeedButtonTheme.h"

namespace kav {

class TWinXPSpeedButtonTheme : public TSpeedButtonTheme {
 public:
  explicit TWinXPSpeedButtonTheme(TControlStyles* styles) : TSpeedButtonTheme(styles) {}

  // Visual styles are on and the "toolbar" class has a theme.
  virtual bool ThemeActive();

  bool IsDown(uint8_t state) override;
  bool GetTransitionTime(uint8_t old_state, uint32_t& milliseconds, bool old_checked, bool new_checked,
                         uint8_t new_state) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
};

// The "toolbar" element code of a key's state: 5 disabled, 4 pressed, 7 hot
// and checked, 3 hot, 6 checked, else 2.
int32_t ToolbarButtonCode(const std::u16string& key);

Ref<TSpeedButtonTheme> NewWinXPSpeedButtonTheme(TControlStyles* styles);
// Module initialisation: new speed buttons get the visual-styles painter.
void InitWinXPSpeedButtonTheme();

}  // namespace kav
