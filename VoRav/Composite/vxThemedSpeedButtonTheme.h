// The speed-button painter: the picture of a flat tool-bar button (and of
// one with a drop-down arrow) per state key, its default size and caption
// area, and the map of which pixels take a click of the arrow. The classic
// painter draws from the style set's system colours; the visual-styles
// painter (winThemedSpeedButtonTheme) derives from it. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TDrawFrame;

// State flags of a speed button.
enum : uint8_t {
  kSpeedDisabled = 1,
  kSpeedHot = 2,      // hot or pressed
  kSpeedPressed = 4,  // pressed while hot (so 6)
  kSpeedChecked = 8,
};
// Parts.
enum : uint8_t { kSpeedButtonPart = 0, kDropDownButtonPart = 1 };
// Width of the drop-down arrow area.
inline constexpr int32_t kDropDownWidth = 15;

class TSpeedButtonTheme : public TFrameControlTheme {
 public:
  explicit TSpeedButtonTheme(TControlStyles* styles) : TFrameControlTheme(styles) {}

  // Drawn sunken (and the caption shifted): pressed, or checked while not hot.
  virtual bool IsDown(uint8_t state);
  // 23 x 22, 15 wider with the drop-down arrow (a nil frame or another part
  // is an assertion failure).
  virtual void GetDefaultSize(uint8_t part, TDrawFrame* frame, TSize& size);
  virtual void GetContentRect(uint8_t part, uint8_t state, TRect& rect, TSize size);
  virtual void SizeFromContent(uint8_t part, TSize content, TSize& size);
  // The picture key ("SpeedButton|Checked|Hot"); another part is an
  // assertion failure.
  virtual std::u16string StateName(uint8_t part, uint8_t state, bool checked);
  virtual bool GetTransitionTime(uint8_t old_state, uint32_t& milliseconds, bool old_checked, bool new_checked,
                                 uint8_t new_state);
  virtual Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset);
  // An 8-bit map of the size: 1 on the button, 2 on the drop-down arrow
  // area; nil for an empty size.
  virtual Ref<TImage> GetHitPicture(uint8_t part, TSize size, TPoint& offset);

  // The state flags and the part of a key.
  static uint8_t ParseState(const std::u16string& key);
  static uint8_t ParsePart(const std::u16string& key);

 protected:
  int32_t MarginX() const;
  int32_t MarginY() const;
};

using TSpeedButtonThemeFactory = Ref<TSpeedButtonTheme> (*)(TControlStyles* styles);
// The classic painter until a visual-styles module replaces it.
extern TSpeedButtonThemeFactory AllocSpeedButtonTheme;
Ref<TSpeedButtonTheme> NewClassicSpeedButtonTheme(TControlStyles* styles);
// Module initialisation: the classic factory.
void InitSpeedButtonTheme();

}  // namespace kav
