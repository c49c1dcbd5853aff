// Font routines over the platform text services: fonts from font
// descriptions, text metrics, extents with overhangs, the default GUI font,
// and the font services object that measures and renders text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/Text/vxTextElement.h"
#include "VoRav/wpTypes.h"
#include "platform/text/PlatformText.h"

namespace kav {

// Longest face name a font record holds.
constexpr size_t kMaxFaceNameLength = 31;

// A new font for the face, style bits and size in points at `ppi` pixels
// per inch: height -round(ppi x size / 72), weight 700 when bold.
ptext::PFont CreateFontFromDesc(std::u16string_view face, int32_t ppi, uint8_t style, float size);
// The same at the screen's pixels per inch.
ptext::PFont CreateFontHandle(const TFontDesc& font);
// The inverse of CreateFontFromDesc: size = -height x 72 / ppi, bold from
// a weight of at least 700.
TFontDesc LogFontToFontDesc(const ptext::TLogFont& log, int32_t ppi);
// Tahoma 8.25 points, style 0, button text on button face, opaque.
TFontDesc GetDefaultGuiFont();
TTextMetrics GetTextMetricsOf(ptext::TPFont* font);

// Seven numbers of a measured range.
struct TTextExtentMetrics {
  int32_t Width = 0;  // with overhangs
  int32_t Height = 0;
  int32_t Leading = 0;  // A of the first character
  int32_t Inner = 0;    // width - A - C
  int32_t Trailing = 0; // C of the last character
  int32_t Ascent = 0;
  int32_t Descent = 0;
};
// Width of up to `count` characters from `start` (0-based); negative
// overhangs widen it. 0 for an empty range.
int32_t TextExtentWithOverhangs(ptext::TPFont* font, std::u16string_view text, int32_t start, int32_t& trailing,
                                int32_t& leading, int32_t count);
void GetTextExtentMetrics(ptext::TPFont* font, std::u16string_view text, int32_t start, TTextExtentMetrics& out,
                          int32_t count);

// Measuring and rendering with fonts made from descriptions at the screen's
// pixels per inch. One instance, FontUtils(), lives for the whole run.
class TFontUtils : public TRefObject {
 public:
  virtual void GetFontMetrics(const TFontDesc& font, TTextMetrics& out) = 0;
  virtual void GetUnderline(const TFontDesc& font, int32_t& position, int32_t& thickness) = 0;
  // TextExtent without the overhangs.
  virtual int32_t TextWidth(const TFontDesc& font, std::u16string_view text, int32_t count, int32_t start);
  virtual int32_t TextExtent(const TFontDesc& font, std::u16string_view text, int32_t& trailing, int32_t& leading,
                             int32_t count, int32_t start) = 0;
  // The text drawn into a new image (null when the range is empty) and the
  // image's origin relative to the pen.
  virtual Ref<TImage> RenderText(const TFontDesc& font, std::u16string_view text, TPoint& origin, int32_t count,
                                 int32_t start) = 0;
};

class TWinFontUtils : public TFontUtils {
 public:
  void GetFontMetrics(const TFontDesc& font, TTextMetrics& out) override;
  void GetUnderline(const TFontDesc& font, int32_t& position, int32_t& thickness) override;
  int32_t TextExtent(const TFontDesc& font, std::u16string_view text, int32_t& trailing, int32_t& leading,
                     int32_t count, int32_t start) override;
  Ref<TImage> RenderText(const TFontDesc& font, std::u16string_view text, TPoint& origin, int32_t count,
                         int32_t start) override;
};

// The global instance (made on first use).
TFontUtils* FontUtils();

// The rectangle of a rendered range relative to the pen (top 0).
void TextBoundsRect(const TFontDesc& font, std::u16string_view text, TRect& out, int32_t count, int32_t start);

}  // namespace kav
