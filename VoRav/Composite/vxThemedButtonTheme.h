// The push-button painter: the picture of a whole button per state key, the
// button's default size, its caption area and the state transitions. The
// classic painter here draws from the style set's system colours; the
// visual-styles painter (winThemedButtonTheme) derives from it. Buttons of
// one style set share the painter attached to it. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/wpTypes.h"

namespace kav {

class TDrawFrame;

// State flags of a push button.
enum : uint8_t {
  kButtonDisabled = 1,
  kButtonDefaulted = 2,
  kButtonFocused = 4,
  kButtonHot = 8,
  kButtonPressed = 16,
  kButtonAnimated = 32,  // "Invalid" in the classic painter
};

class TButtonTheme : public TFrameControlTheme {
 public:
  explicit TButtonTheme(TControlStyles* styles) : TFrameControlTheme(styles) {}

  // The state flags of a key.
  virtual uint8_t ParseState(const std::u16string& key);
  // A button with a short caption: "Wg" in the style set's font measured by
  // the frame (a nil frame is an assertion failure).
  virtual void GetDefaultSize(TDrawFrame* frame, TSize& size);
  // The caption area of a button of `size` in `state`.
  virtual bool GetContentRect(uint8_t state, TSize size, TRect& rect);
  virtual int32_t WidthFromContent(int32_t width) { return width + 2 * kMarginX; }
  virtual int32_t HeightFromContent(int32_t height) { return height + 2 * kMarginY; }
  // The picture key of a state.
  virtual std::u16string StateName(uint8_t state);
  // Whether a change of state fades, and over how many ms.
  virtual bool GetTransitionTime(uint8_t old_state, uint8_t new_state, uint32_t& milliseconds);
  // The picture of a key at `size` (nil for an empty size).
  virtual Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset);
  // The picture whose opaque pixels take clicks; nil: the whole rectangle.
  virtual Ref<TImage> GetHitPicture(TSize size, TPoint& offset);

  static constexpr int32_t kMarginX = 9;
  static constexpr int32_t kMarginY = 6;
  static constexpr double kWidthFactor = 3.8125;
};

// The dotted focus frame: a one-pixel frame on `rect` drawn with the style
// set's focus pattern (made when the set has none), the pattern anchored at
// the bitmap's origin.
void DrawFocusPatternFrame(TSysBitmap* bitmap, const TRect& rect, TControlStyles* styles);

// The colour of a picture's pixel as 0xAARRGGBB, whatever its format:
// 8-bit values as grey, 24-bit pixels opaque; 0 outside the picture.
TColor32 PicturePixel(TBitmap* bitmap, int32_t x, int32_t y);

// Makes the painter of a style set for new buttons; the painter attaches
// itself to the set.
using TButtonThemeFactory = Ref<TButtonTheme> (*)(TControlStyles* styles);
// The classic painter until a visual-styles module replaces it.
extern TButtonThemeFactory AllocButtonTheme;
Ref<TButtonTheme> NewClassicButtonTheme(TControlStyles* styles);
// Module initialisation: the classic factory.
void InitButtonTheme();

}  // namespace kav
