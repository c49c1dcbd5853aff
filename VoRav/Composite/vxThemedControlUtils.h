// Drawing helpers of the classic painters: cached arrow triangles, arrows
// of one-pixel runs and the classic five-colour raised frame. GUI thread
// only.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// A transparent picture of width x height holding one filled triangle in
// `color`: direction mod 4 gives up, down, left, right. One cache slot per
// direction 0 to 7 (another value is an assertion failure), reused while
// the size and colour stay. The answer stays valid until the slot is
// repainted; callers keep a reference when they hold it longer.
TImage* GetArrowGlyph(int32_t width, int32_t height, TColor32 color, int32_t direction);

// A triangle of one-pixel-high runs, `size` rows high and size div 2 wide,
// its flat side at x (pointing right) or x + size div 2 (pointing left).
void DrawPixelArrow(TSysBitmap* bitmap, int32_t x, int32_t y, bool points_right, TColor32 color, int32_t size);

// The classic raised frame over the whole bitmap: outer1 top and left,
// inner1 inside them, outer2 bottom and right, inner2 inside them, the
// rest in `face`.
void DrawClassicRaisedFrame(TSysBitmap* bitmap, TColor32 outer1, TColor32 inner1, TColor32 face, TColor32 inner2,
                            TColor32 outer2);

// Module finalisation: releases the arrow cache and the raster helper.
void FinalizeThemedControlUtils();

}  // namespace kav
