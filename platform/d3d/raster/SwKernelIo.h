// Inputs and outputs of kernel spans: attribute planes evaluated along a
// row at pixel centres x = x0, x0 + 1, ... with the span driver's float
// operations (so the values are the same), eight at a time with AVX2 when the
// processor has it; the kernel's colours written to the target.
#pragma once

#include <cstdint>

#include "platform/d3d/raster/SwFastSpan.h"

namespace kav {

// out[i] = row + a * float(x0 + i) for i in [0, n).
void SwEvalAffineRow(float* out, int32_t x0, float row, float a, int32_t n);
// out[i] = (row + a * float(x0 + i)) * iq[i] for i in [0, n).
void SwEvalPerspectiveRow(float* out, int32_t x0, float row, float a, const float* iq, int32_t n);

// SwWriteColorsAvx2 for kernel colours. Where every colour of the run has
// alpha 1 (after clamping) and the blend's factors at source alpha 1 are 1
// and 0 (source alpha and its inverse, one and zero), the blend gives the
// source itself (s * 1 + d * 0 is s for the destination's finite values), so
// the run is written without reading the target: the same bytes.
int32_t SwWriteKernelColors(const TSwColorF* colors, uint32_t* dst, int32_t count, const TSwSpanPlan& blend,
                            uint32_t out_or);

}  // namespace kav
