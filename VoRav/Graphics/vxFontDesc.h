// Font descriptions: face, size, style and colours of a text run.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/Graphics/vxColor.h"

namespace kav {

// Style bits.
enum : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFontDesc {
  std::u16string FaceName;
  float Size = 0;  // points
  uint8_t Style = 0;
  TRGBTriple Color1;  // the text colour
  TRGBTriple Color2;  // the background colour
  // 0: opaque background in Color2; 1 or 2: transparent (2: only Color1 counts).
  uint8_t Mode = 0;
};

// Fields of FontDescAssign's mask.
enum : uint32_t { fdmFaceName = 1, fdmSize = 2, fdmStyle = 4, fdmColors = 8 };

void FontDescSetAll(TFontDesc& d, std::u16string face, float size, uint8_t style, TRGBTriple color1,
                    TRGBTriple color2, bool transparent);
// Copies the fields of `src` selected by `mask` that differ; answers whether
// anything changed.
bool FontDescAssign(TFontDesc& d, const TFontDesc& src, uint32_t mask);
// Same face name (case-sensitive), size and style.
bool FontDescSameFont(const TFontDesc& a, const TFontDesc& b);
// Same mode and first colour, and unless the mode is 2 the same second colour.
bool FontDescSameColors(const TFontDesc& a, const TFontDesc& b);
inline bool FontDescIsTransparent(const TFontDesc& d) { return d.Mode != 0; }
// false: mode 0; true: mode 2, but only when the mode was 0.
void FontDescSetTransparent(TFontDesc& d, bool transparent);

}  // namespace kav
