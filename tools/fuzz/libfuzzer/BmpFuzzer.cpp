// libFuzzer driver of FuzzBmp.
#include "VoRav/Graphics/vxBitmapLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzBmp(data, size); }
