// The text context of a window surface: the font description text is drawn
// and measured with, selected into a drawing context (the surface's bitmap,
// or the shared screen context for measuring) with a selection count.
// Contexts are plain tokens here: text is shaped by the platform text
// services, which need no device context. GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/SysObj2.h"
#include "VoRav/wpTypes.h"

namespace kav {

struct TTextExtent {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Ascent = 0;
};

class TWinContextWrapper : public TRefObject {
 public:
  // "Tahoma" 10.0, window-text colour on the window colour.
  TWinContextWrapper();

  // The first selection takes the context; a nested one must name the same.
  void Select(const void* context);
  // The last release lets the context go; releasing an unselected wrapper
  // is an assertion.
  void Release();
  const void* Context() const { return context_; }
  int32_t SelectCount() const { return count_; }

  const TFontDesc& Font() const { return font_; }
  // Takes the face, size and style, and the colours when they differ.
  void SetFont(const TFontDesc& font);
  // Needs a selection (assertion otherwise).
  void TextExtent(const std::u16string& text, TTextExtent& out);
  // The screen resolution read when the wrapper was made.
  int32_t ResolutionX() const { return res_x_; }
  int32_t ResolutionY() const { return res_y_; }

 private:
  const void* context_ = nullptr;
  int32_t count_ = 0;
  TFontDesc font_;
  int32_t res_x_ = 96;
  int32_t res_y_ = 96;
};

// "Tahoma" 10.0, window-text colour on the window colour: the font of a new wrapper.
TFontDesc DefaultTextFont();

// The token of the shared screen context used to measure text outside
// painting.
const void* ScreenTextContext();

}  // namespace kav
