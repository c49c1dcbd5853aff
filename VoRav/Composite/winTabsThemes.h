// The tab painters: TWin9xTabsTheme draws the classic look from the style
// set's system colours; TWinXPTabsTheme answers with the visual style's
// class "tab" (and "spin" for the arrows) while visual styles are on and
// with the classic answers while they are off. Pixel constants follow the
// style set's scale. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxThemedTabControl.h"

namespace kav {

class TWin9xTabsTheme : public TFrameTabControlTheme {
 public:
  using TFrameTabControlTheme::TFrameTabControlTheme;

  int32_t GetTabHeight(TDrawFrame* frame) override;
  TRect GetTabContentRect(TSize size) override;
  TPoint GetCaptionOffset(uint8_t state) override;
  TRect GetPageRect(TDrawFrame* frame, TSize size, uint8_t orientation) override;
  void GetArrowRects(TDrawFrame* frame, TSize size, uint8_t orientation, TRect& arrow0, TRect& arrow1) override;
  TRect GetTabRowRect(TDrawFrame* frame, TSize size, uint8_t orientation, bool arrows) override;
  int32_t GetTabWidth(int32_t caption_width) override;
  std::u16string GetStateKey(uint8_t state, uint8_t orientation) override;
  Ref<TSysBitmap> GetBackground(const std::u16string& key, int32_t row_height, TSize size, TPoint& offset) override;
  Ref<TSysBitmap> GetArrowPicture(const std::u16string& key, int32_t index, TSize size, TPoint& offset) override;
  Ref<TSysBitmap> GetTabPicture(const std::u16string& key, uint8_t kind, uint8_t cut, TSize size,
                                TPoint& offset) override;

 protected:
  // A pixel constant at the style set's scale.
  int32_t Px(int32_t value) const;
  // The line height of "Wg" in the tabs' font (0 without a frame).
  int32_t TextHeight(TDrawFrame* frame);
  // The area of the page: the control without the tab row.
  static TRect AreaWithoutRow(TSize size, uint8_t orientation, int32_t row_height);
};

class TWinXPTabsTheme : public TWin9xTabsTheme {
 public:
  using TWin9xTabsTheme::TWin9xTabsTheme;

  // Visual styles are on and the class "tab" has a theme.
  virtual bool Themed();

  int32_t GetTabHeight(TDrawFrame* frame) override;
  TRect GetTabContentRect(TSize size) override;
  TRect GetPageRect(TDrawFrame* frame, TSize size, uint8_t orientation) override;
  void GetArrowRects(TDrawFrame* frame, TSize size, uint8_t orientation, TRect& arrow0, TRect& arrow1) override;
  TRect GetTabRowRect(TDrawFrame* frame, TSize size, uint8_t orientation, bool arrows) override;
  void GetRowMargins(int32_t& left, int32_t& right) override;
  Ref<TSysBitmap> GetBackground(const std::u16string& key, int32_t row_height, TSize size, TPoint& offset) override;
  Ref<TSysBitmap> GetArrowPicture(const std::u16string& key, int32_t index, TSize size, TPoint& offset) override;
  Ref<TSysBitmap> GetTabPicture(const std::u16string& key, uint8_t kind, uint8_t cut, TSize size,
                                TPoint& offset) override;
  uint8_t GetSingleTabKind(uint8_t style) override;
};

// Start-up: attaches one TWinXPTabsTheme to the default Windows control
// styles (once) and installs the themed tab-control allocator.
void InitWinTabsTheme();

}  // namespace kav
