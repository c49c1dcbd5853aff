// Helpers of the fuzz entry points. A failed property check aborts, so that
// the fuzzer keeps the input (an exception would be taken for the clean
// error the parsers are allowed to raise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "VoRav/vxIni.h"

namespace kav {

inline void FuzzCheck(bool ok, const char* target, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

// Bytes as wide text: after FF FE the UTF-16LE units that follow (lone
// surrogates included), else one unit per byte.
std::u16string FuzzWideText(const uint8_t* data, size_t size);

// Bytes as a project document, read as the player reads "Project.kav"
// (a stream, byte-order marks honoured); null when it does not load.
Ref<TIniFile> FuzzProjectIni(const uint8_t* data, size_t size);

}  // namespace kav
