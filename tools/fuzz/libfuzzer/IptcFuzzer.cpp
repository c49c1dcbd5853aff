// libFuzzer driver of FuzzIptc.
#include "KavLib2/Zel.Exif/MetadataFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzIptc(data, size); }
