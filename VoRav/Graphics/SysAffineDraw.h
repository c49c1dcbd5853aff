// Drawing a bitmap through an affine placement into a 24-bit target:
// each target pixel centre of the placed rectangle's runs is mapped back
// into the source in 16.16 fixed point and the source sampled by nearest
// pixel or bilinearly, with an overall opacity.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxAffineUtils.h"

namespace kav {

// Draws `source` placed by `rec` into `target` within `clip` (and the
// target). Opacity below 1 draws nothing, above 255 counts as 255. Answers
// false, drawing nothing, when the target is not 3 bytes per pixel, the
// source not 3 or 4, or the source smaller than the placed size.
//
// Nearest: a 24-bit source is copied (opacity 255) or blended
// d += (s - d) x opacity / 256; a 32-bit source is composited with its alpha
// a: d += (s - d) x w / 65536 with w = a x 256 (opacity 255) or a x opacity
// (a = 255 behaves as the 24-bit source).
bool AffineDrawNearest(const TAffineEdges& rec, TSysBitmap* target, TSysBitmap* source, int32_t opacity,
                       const TRect& clip);
// Bilinear: the sample position is the mapped centre less half a pixel; the
// four neighbours (clamped to the source) are weighted by the 16-bit
// fractions. A 24-bit sample is written as above; a straight 32-bit sample
// is composited with its interpolated alpha as above; a premultiplied one
// as c x opacity / 255 + d x (255 - a x opacity / 255) / 255, saturating.
bool AffineDrawBilinear(const TAffineEdges& rec, TSysBitmap* target, TSysBitmap* source, int32_t opacity,
                        const TRect& clip);

}  // namespace kav
