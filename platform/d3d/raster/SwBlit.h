// Rectangle operations on surfaces: solid fills, copies and nearest-pixel
// stretches with format conversion.
#pragma once

#include "platform/d3d/SwSurface.h"

namespace kav {

// Fills `r` (inside the surface) with an A8R8G8B8 colour converted to the
// surface's format.
void SwFillRect(TSwSurface& s, const TSwRect& r, uint32_t argb);

// Copies `sr` of `src` to `dr` of `dst` (both inside their surfaces), by
// nearest pixel when the sizes differ and converting the format when the
// formats differ. Source pixel of destination column x:
// sr.left + ((2 * (x - dr.left) + 1) * sr.width) / (2 * dr.width).
void SwStretchNearest(const TSwSurface& src, const TSwRect& sr, TSwSurface& dst, const TSwRect& dr);

// The same on raw 32-bit pixel rows (presentation).
void SwStretch32(const uint8_t* src, int32_t src_pitch, const TSwRect& sr, uint8_t* dst, int32_t dst_pitch,
                 int32_t dw, int32_t dh);

}  // namespace kav
