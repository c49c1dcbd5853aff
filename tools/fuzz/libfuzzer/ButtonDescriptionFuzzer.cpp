// libFuzzer driver of FuzzButtonDescription.
#include "VoRav/Graphics/Effects2D/Effects2DFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzButtonDescription(data, size); }
