// libFuzzer driver of FuzzGif.
#include "VoRav/Graphics/vxGifLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzGif(data, size); }
