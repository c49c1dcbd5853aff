// Fuzz entry points of the audio parsers (drivers in tools/fuzz/libfuzzer).
// Each takes arbitrary bytes, must never crash, hang or leak, and aborts when
// a property it checks does not hold.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

// The bytes as "f.wav": media information, then the whole file decoded
// through the converter the factory picks.
int FuzzRiffInfo(const uint8_t* data, size_t size);
// The bytes as "f.mp3": media information, seeks to a few times, then the
// whole file decoded.
int FuzzMpegInfo(const uint8_t* data, size_t size);

}  // namespace kav
