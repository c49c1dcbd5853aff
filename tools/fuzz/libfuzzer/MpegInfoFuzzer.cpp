// libFuzzer driver of FuzzMpegInfo.
#include "VoRav/Music/vxAudioFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzMpegInfo(data, size); }
