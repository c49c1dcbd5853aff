// Inputs of kernel spans evaluated along a row: attribute planes at pixel
// centres x = x0, x0 + 1, ... with the span driver's float operations (so the
// values are the same), eight at a time with AVX2 when the processor has it.
#pragma once

#include <cstdint>

namespace kav {

// out[i] = row + a * float(x0 + i) for i in [0, n).
void SwEvalAffineRow(float* out, int32_t x0, float row, float a, int32_t n);
// out[i] = (row + a * float(x0 + i)) * iq[i] for i in [0, n).
void SwEvalPerspectiveRow(float* out, int32_t x0, float row, float a, const float* iq, int32_t n);

}  // namespace kav
