// Glyph coverage and ABC widths of glyph indices, which a font may not be
// able to answer.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/vxFontDesc.h"
#include "VoRav/vxBits.h"
#include "platform/text/PlatformText.h"

namespace kav {

// Sizes `set` to 65,536 bits and sets the bit of every character of the
// basic plane the font has a glyph for. Leaves the bits clear when the
// platform cannot answer (characters are then judged by their glyphs).
void GetFontCoverage(const TFontDesc& font, TBitSet* set);
// ABC widths of `count` glyphs from glyphs[first] into `abc`. False when
// the platform cannot answer or not 0 <= first <= last and count >= 0.
bool GetCharABCWidthsIProc(ptext::TPFont* font, ptext::TABC* abc, int32_t count, int32_t first, int32_t last,
                           const uint16_t* glyphs);

}  // namespace kav
