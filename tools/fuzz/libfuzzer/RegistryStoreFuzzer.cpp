// libFuzzer driver of the registry store.
#include "tools/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return kav::FuzzRegistryStore(data, size); }
