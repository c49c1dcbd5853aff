// Bilinear resize of a rectangle of a 24- or 32-bit bitmap into a rectangle
// of another, in 16.16 fixed point.
#pragma once

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

// Both "R8G8B8" (asserted). The source rectangle's corners land on the
// destination rectangle's corners; destination pixels outside the
// destination bitmap are skipped.
void ResizeBitmap24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, const TRect& source_rect);
// Both "A8R8G8B8" (asserted); alpha is a fourth channel and result pixels
// whose alpha is 0 are written as `fill`.
void ResizeBitmap32(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TColor32 fill,
                    const TRect& source_rect);

}  // namespace kav
