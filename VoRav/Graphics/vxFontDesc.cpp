#include "VoRav/Graphics/vxFontDesc.h"

namespace kav {

void FontDescSetAll(TFontDesc& d, std::u16string face, float size, uint8_t style, TRGBTriple color1,
                    TRGBTriple color2, bool transparent) {
  d.FaceName = std::move(face);
  d.Size = size;
  d.Style = style;
  d.Color1 = color1;
  d.Color2 = color2;
  d.Mode = transparent ? 1 : 0;
}

bool FontDescAssign(TFontDesc& d, const TFontDesc& src, uint32_t mask) {
  bool changed = false;
  if ((mask & fdmFaceName) && d.FaceName != src.FaceName) {
    d.FaceName = src.FaceName;
    changed = true;
  }
  if ((mask & fdmSize) && d.Size != src.Size) {
    d.Size = src.Size;
    changed = true;
  }
  if ((mask & fdmStyle) && d.Style != src.Style) {
    d.Style = src.Style;
    changed = true;
  }
  if ((mask & fdmColors) && !FontDescSameColors(d, src)) {
    d.Color1 = src.Color1;
    d.Color2 = src.Color2;
    d.Mode = src.Mode;
    changed = true;
  }
  return changed;
}

bool FontDescSameFont(const TFontDesc& a, const TFontDesc& b) {
  return a.FaceName == b.FaceName && a.Size == b.Size && a.Style == b.Style;
}

bool FontDescSameColors(const TFontDesc& a, const TFontDesc& b) {
  if (a.Mode != b.Mode || !(a.Color1 == b.Color1)) return false;
  return a.Mode == 2 || a.Color2 == b.Color2;
}

void FontDescSetTransparent(TFontDesc& d, bool transparent) {
  if (!transparent) d.Mode = 0;
  else if (d.Mode == 0) d.Mode = 2;
}

}  // namespace kav
