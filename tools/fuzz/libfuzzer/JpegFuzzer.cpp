// libFuzzer driver of FuzzJpeg.
#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzJpeg(data, size); }
