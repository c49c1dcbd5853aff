// The classic scroll-bar painter: raised buttons with arrow triangles, a
// raised thumb and flat track pieces, drawn from the style set's system
// colours; and the part keys both painters share ("H" or "V", the part
// name, the state word: "VsbThumbPressed", "HsbFirstButtonNormal").
//
// Metrics are 17 pixels (buttons, thickness, shortest thumb) times the
// style set's scale. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/vxThemedFrameScrollBar.h"

namespace kav {

// State words a key carries, as the flag they stand for.
enum : uint32_t { kSbWordNormal = 0, kSbWordDisabled = 1, kSbWordHot = 2, kSbWordPressed = 4, kSbWordFocused = 8 };

struct TScrollBarPartKey {
  uint8_t Orientation = 0;
  int32_t Part = 0;
  uint32_t State = 0;  // one of the state words above
};

// Reads a key back: the first character is the orientation, the part is
// the first part name found, the state the first state word found (in the
// order Disabled, Normal, Pressed, Hot, Focused; none gives Normal). False
// for another first character or no part name.
bool ParseScrollBarPartKey(const std::u16string& key, TScrollBarPartKey& out);

class TWin9xFrameScrollBarTheme : public TFrameScrollBarTheme {
 public:
  using TFrameScrollBarTheme::TFrameScrollBarTheme;

  TSize GetDefaultSize(uint8_t orientation) override;
  TRect GetButtonRect(TSize size, uint8_t orientation, int32_t index) override;
  int32_t GetThumbLength(const TRect& track, uint8_t orientation, float page) override;
  TRect GetTrackRect(TSize size, uint8_t orientation) override;
  bool GetTransitionTime(int32_t part, uint32_t old_state, uint32_t& milliseconds, uint32_t new_state) override;
  std::u16string GetPartName(int32_t part, uint32_t state, uint8_t orientation) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;

  // The button length (and shortest thumb) along the axis and the bar's
  // thickness across it.
  int32_t ButtonLength(uint8_t orientation);
  int32_t Thickness(uint8_t orientation);

 protected:
  // The classic picture of a parsed key, on a 24-bit bitmap.
  Ref<TImage> DrawClassicPart(const TScrollBarPartKey& key, TSize size);
};

}  // namespace kav
