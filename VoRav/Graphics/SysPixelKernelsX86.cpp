#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav::kernels {

const TPixelKernels kSSE2Kernels = {TSimdLevel::SSE2, ExpandRGBScalar, PremultiplyShiftScalar,
                                    PremultiplyExactScalar, UnpremultiplyScalar};
const TPixelKernels kAVX2Kernels = {TSimdLevel::AVX2, ExpandRGBScalar, PremultiplyShiftScalar,
                                    PremultiplyExactScalar, UnpremultiplyScalar};

}  // namespace kav::kernels
