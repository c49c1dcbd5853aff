// The visual-styles scroll-bar painter: the parts of the theme class
// "scrollbar" (arrow buttons, thumbs with their grippers, track pieces),
// cross-faded on state changes; the classic painter's look and answers
// while visual styles are off. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Composite/win9xFrameScrollBarTheme.h"
#include "VoRav/Composite/winThemes2.h"

namespace kav {

// The theme part and state of a parsed key (before a disabled thumb is
// drawn as a track). `hover` gives the hover states of a part whose bar is
// hot ("Focused").
TThemedElementDetails ScrollBarElementDetails(const TScrollBarPartKey& key, bool hover);

class TWinXPFrameScrollBarTheme : public TWin9xFrameScrollBarTheme {
 public:
  using TWin9xFrameScrollBarTheme::TWin9xFrameScrollBarTheme;

  // 100 ms when a flag appears, 500 ms when flags only go, 50 ms when the
  // pressed flag changes; the classic answer while styles are off.
  bool GetTransitionTime(int32_t part, uint32_t old_state, uint32_t& milliseconds, uint32_t new_state) override;
  Ref<TImage> DrawPart(const std::u16string& key, TSize size, TPoint& offset) override;

 protected:
  // Whether visual styles are on now.
  virtual bool StylesOn();

 private:
  // Draws the part (and a thumb's gripper) over the whole bitmap.
  void Render(TSysBitmap* bitmap, const TThemedElementDetails& details, bool thumb, uint8_t orientation);
};

}  // namespace kav
