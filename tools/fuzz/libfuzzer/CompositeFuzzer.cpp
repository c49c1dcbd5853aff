// libFuzzer driver of FuzzCompositeDescription.
#include "KavLib2/KavMusic/KavCompositeConverter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzCompositeDescription(data, size); }
