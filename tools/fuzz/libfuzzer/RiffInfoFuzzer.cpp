// libFuzzer driver of FuzzRiffInfo.
#include "VoRav/Music/vxAudioFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzRiffInfo(data, size); }
