// The visual-styles bevel painter: under visual styles the default style
// is 1, drawn as the border of the list-view element (class "listview")
// with the content filled in the window colour unless the border flag is
// set; style 3 takes the list-view content rectangle. Everything else, and
// every style while visual styles are off, is drawn the classic way. GUI
// thread only.
#pragma once

#include "VoRav/Composite/vxThemedBevel.h"

namespace kav {

class TWinBevelTheme : public TBevelTheme {
 public:
  using TBevelTheme::TBevelTheme;
  // 1 under visual styles, else 2.
  uint8_t DefaultStyle() override;
  void ContentRect(uint8_t sides, uint8_t style, TRect& rect, TSize size) override;
  void PrepareParts(uint8_t sides, uint8_t style, TBevelParts* parts, TSize size, bool flag) override;
  void DrawParts(TDrawSurface* surface, TBevelParts* parts) override;
};

// Module initialisation: the bevel painter factory makes TWinBevelTheme.
void InitWinThemedBevelTheme();

}  // namespace kav
