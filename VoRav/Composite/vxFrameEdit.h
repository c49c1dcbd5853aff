// The edit-frame painter: the layout of a text-entry frame with no button,
// a drop-down button or a pair of spin buttons, and the pictures of the
// frame and its buttons in their states (classic flat look; the visual
// style is TWinFrameEditTheme in winFrameEdit.h). The text-entry control
// itself is not here. GUI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/wpTypes.h"

namespace kav {

// Button kinds: the layout has ButtonKind + 1 parts (kinds past 2: none).
enum TEditButtonKind : int32_t { ebNone = 0, ebDropDown = 1, ebSpin = 2 };

// A rectangle of the layout with the two values the toolkit stores with it.
struct TEditLayoutRect {
  TRect Rect;
  int32_t Value1 = 500;
  int32_t Value2 = 300;
};

struct TEditLayout {
  int32_t ButtonCount = 1;  // 1 plain, 2 one button, 3 two spin buttons
  TEditLayoutRect Frame;
  TEditLayoutRect Button1;  // the drop-down button or the upper spin button
  TEditLayoutRect Button2;  // the lower spin button
  TRect TextRect;           // the frame inset by 5 and 4, less the buttons
  TRect InnerRect;          // the frame inset by 2, less the buttons
};

// The parts a painter draws.
enum TEditPart : int32_t { epFrame, epDropDown, epSpinUp, epSpinDown, epPartCount };

// Part states (the numbers of the visual style's "edit" and "spin" classes):
// the frame 1 normal, 2 hot, 4 disabled, 5 focused, 6 read-only; the
// buttons 1 normal, 2 hot, 3 pressed, 4 disabled.
enum TEditState : int32_t {
  esNormal = 1,
  esHot = 2,
  esPressed = 3,
  esDisabled = 4,
  esFocused = 5,
  esReadOnly = 6,
};

// What to draw: a part in a state, optionally blended from another state
// (Weight 1..254 of 255 toward FromState; the visual style only).
struct TEditPartRequest {
  int32_t Part = epFrame;
  TSize Size;
  int32_t State = esNormal;
  int32_t FromState = 0;
  int32_t Weight = 0;
};

class TFrameEditTheme : public TFrameControlTheme {
 public:
  // Serves `styles` (which must outlive it); with `attach` it joins the
  // set's attached themes, which then keep it.
  TFrameEditTheme(TControlStyles* styles, bool attach);
  TControlStyles* EditStyles() const { return styles_; }

  // The smallest frame size whose text rectangle is TextWidth x TextHeight.
  virtual TSize SizeForText(int32_t text_width, int32_t text_height, int32_t button_kind);
  virtual void Layout(TEditLayout& layout, TSize size, int32_t button_kind);
  // The picture of a part; nil for a width or height below 1. Drawn again
  // only when the part's key changes (the painter keeps the last picture
  // of each part). The answer stays valid until that part is drawn again.
  TImage* DrawPart(const TEditPartRequest& request);
  // The key of a request.
  virtual std::u16string PartKey(const TEditPartRequest& request);
  // How many pictures were drawn (for tests).
  int32_t DrawCount() const { return draws_; }

 protected:
  // Draws the picture of a request whose size is at least 1 x 1.
  virtual Ref<TImage> Paint(const TEditPartRequest& request);
  void Dispose() override;

 private:
  TControlStyles* styles_;
  std::array<std::u16string, epPartCount> keys_;
  std::array<Ref<TImage>, epPartCount> pictures_;
  int32_t draws_ = 0;
};

// The two key flags of a request: whether the part is usable (not disabled
// or read-only) and whether it is focused (the frame) or pressed (a button).
bool EditKeyUsable(const TEditPartRequest& request);
bool EditKeyActive(const TEditPartRequest& request);

// Draws a small arrow of one-pixel runs pointing up or down, centred in
// `box`, `rows` rows high.
void DrawEditArrow(TSysBitmap* bitmap, const TRect& box, bool up, int32_t rows, TColor32 color);

}  // namespace kav
