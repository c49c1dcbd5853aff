// libFuzzer driver of FuzzVxgf.
#include "VoRav/Graphics/SysGfxLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzVxgf(data, size); }
