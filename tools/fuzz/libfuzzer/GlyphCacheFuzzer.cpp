// libFuzzer driver of FuzzGlyphCache.
#include "VoRav/Text/vxGlyphCacheFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzGlyphCache(data, size); }
