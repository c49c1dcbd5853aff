#include "platform/d3d/raster/SwFastQuad.h"

#include "platform/d3d/raster/SwPipeline.h"

namespace kav {

TSwSpanShader SwChooseSpanShader(const TSwPixelState&) { return &SwShadeSpanReference; }

bool SwTryFastQuad(const TSwPixelState&, const TSwTriSetup*, size_t, int32_t) { return false; }

}  // namespace kav
