// The painters of the check box and the radio button: where the box and the
// caption go, the key of a state, and the picture of a key. TCheckMarkTheme
// holds what both share; TCheckBoxTheme draws the classic box as a vector
// glyph. Painters are attached to their style set and found there by class;
// the factory hook makes one when a style set has none (the classic module
// installs the classic factory, the visual-styles module replaces it).
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxDrawFrames.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// Part state flags of a check box or radio button picture.
enum : uint8_t { kCheckPartDisabled = 1, kCheckPartHot = 2, kCheckPartPressed = 4 };

// Gap between box and caption, and the outer margin.
inline constexpr int32_t kCheckBoxGap = 4;
inline constexpr int32_t kCheckBoxMargin = 2;
inline constexpr int32_t kRadioButtonGap = 4;
inline constexpr int32_t kRadioButtonMargin = 2;

class TCheckMarkTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;

  // Width = text width + line height + gap + margin; height = max(line
  // height, text height).
  virtual void GetDefaultSize(TDrawFrame* frame, TSize text, TSize& size);
  // The caption area of a control of `size` for a text `text_width` wide.
  virtual void GetTextRect(TDrawFrame* frame, TSize size, TRect& rect, int32_t text_width, bool right_to_left);
  // The box area: a square of BoxSize, centred vertically, at the left (or
  // right) edge.
  virtual void GetBoxRect(TDrawFrame* frame, TSize size, TRect& rect, bool right_to_left);
  // Whether a change of picture fades, and over how many ms (never here).
  virtual bool GetTransitionTime(uint8_t old_tick, uint8_t new_tick, uint32_t& ms, uint8_t new_state,
                                 uint8_t old_state);
  // The part key of a tick and state flags.
  virtual std::u16string StateName(uint8_t tick, uint8_t state) = 0;
  // The picture of a key at `size`; nil for an empty size.
  virtual Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) = 0;
  // No use is known: false and the origin.
  virtual bool Slot7(TPoint& point);
  // A dotted frame around `rect` widened by one pixel left and right, in
  // the style set's focus pattern; true.
  virtual bool DrawFocus(TDrawSurface* surface, const TRect& rect);

  // The line height of the style set's control font on the frame.
  int32_t LineHeight(TDrawFrame* frame);
  // The box side: the line height at 96 pixels per inch less 2, at least
  // 13, times the device scale, rounded.
  int32_t BoxSize(TDrawFrame* frame);

 protected:
  virtual int32_t Gap() const { return kCheckBoxGap; }
  virtual int32_t Margin() const { return kCheckBoxMargin; }
};

// The state word of the flags: "Disabled", "Pressed" (pressed and hot),
// "Hot" (either), else "Normal".
std::u16string CheckPartStateWord(uint8_t state);
// The flags a key names ("Disabled" 1, "Hot" 2, "Pressed" 4, each alone).
uint8_t ParseCheckPartState(const std::u16string& key);

class TCheckBoxTheme : public TCheckMarkTheme {
 public:
  using TCheckMarkTheme::TCheckMarkTheme;
  // "cbUnchecked|", "cbNeutral|" or "cbChecked|" and the state word.
  std::u16string StateName(uint8_t tick, uint8_t state) override;
  // The vector glyph of the key's tick and state.
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;
  // The tick a key names (2 checked, 1 neutral, else 0).
  static uint8_t ParseTick(const std::u16string& key);
};

// The painter's tick of a check state (0 to 0, 1 to 2, 2 to 1); another
// state is an assertion failure.
uint8_t TickOfCheckState(uint8_t state);

// Makes the check-box painter of a style set (attached to it).
using TCheckBoxThemeFactory = TCheckBoxTheme* (*)(TControlStyles* styles);
extern TCheckBoxThemeFactory AllocCheckBoxTheme;
// The attached painter of the style set (the default one for nil), made by
// the factory when there is none.
TCheckBoxTheme* CheckBoxThemeOf(TControlStyles* styles);
// Module initialisation: the factory makes the classic TCheckBoxTheme.
void InitThemedCheckBoxTheme();

}  // namespace kav
