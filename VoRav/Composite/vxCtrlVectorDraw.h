// The classic check-box and radio-button glyphs as vector paths: the box in
// a 13 x 13 design grid and the radio circle as four ellipses, scaled to the
// asked size and filled with the style set's colours by the shared raster
// helper. GUI thread only.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/vxImage.h"

namespace kav {

class TControlStyles;

// Ticks of the check-box glyph.
enum : uint8_t { kTickUnchecked = 0, kTickNeutral = 1, kTickChecked = 2 };

// The check box of width x height on an opaque face-colour background; nil
// for an empty size. Another tick is an assertion failure.
Ref<TImage> DrawCheckBoxGlyph(TControlStyles* styles, int32_t width, int32_t height, uint8_t tick, bool enabled);
// The radio button of width x height on a transparent background; nil for
// an empty size.
Ref<TImage> DrawRadioButtonGlyph(TControlStyles* styles, int32_t width, int32_t height, bool checked, bool enabled);

// Module finalisation: releases the raster helper.
void FinalizeCtrlVectorDraw();

}  // namespace kav
