// libFuzzer driver of FuzzGifVideo.
#include "VoRav/Graphics/Video/VideoSourceFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzGifVideo(data, size); }
