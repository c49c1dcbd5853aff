// The reference pixel pipeline: attribute interpolation, the fixed-function
// texture stages or a pixel kernel, blending and the write.
#pragma once

#include <cstdint>

#include "platform/d3d/raster/SwPixelState.h"
#include "platform/d3d/raster/SwSetup.h"

namespace kav {

// Shades pixels [x0, x1) of row y of triangle `t`.
void SwShadeSpanReference(const TSwPixelState& ps, const TSwTriSetup& t, int32_t nattr, int32_t y, int32_t x0,
                          int32_t x1);

// Shades one pixel from its attributes and the derivatives of each
// texture-coordinate set (du/dx, dv/dx, du/dy, dv/dy; null: none).
void SwShadePixel(const TSwPixelState& ps, const float* attr, const float (*derivs)[4], int32_t x, int32_t y);

// The colour the texture stages produce (exposed for the fast paths' tests).
TSwColorF SwRunStages(const TSwPixelState& ps, const TSwColorF& diffuse, const TSwColorF& specular,
                      const float* attr, const float (*derivs)[4]);

}  // namespace kav
