// libFuzzer driver of FuzzSvgPath.
#include "VoRav/VectorGraphics/vxSvgUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzSvgPath(data, size); }
