// The media information record: where a sound file's audio lies, how long it
// lasts and in which format, as the parsers, the decoder plug-ins and the
// composite descriptions fill it and the channels and converters read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/sound/SndTypes.h"

namespace kav {

// Format codes.
enum : uint8_t {
  kMediaUnknown = 0,
  kMediaPcm = 1,
  kMediaAdpcm = 2,
  kMediaFloat = 3,
  kMediaMpeg = 4,
  kMediaWma = 5,
  kMediaOgg = 6,
  kMediaComposite = 9,
  kMediaLibrary = 10,
};

// The 96-byte record, field by field at its offsets.
#pragma pack(push, 1)
struct TMediaInfo {
  uint32_t DataOffset = 0;    // 0: bytes before the audio data (MPEG: before the first frame)
  uint32_t DataLength = 0;    // 4: bytes of audio data
  uint32_t Duration = 0;      // 8: ms
  uint32_t Duration2 = 0;     // 12: the MPEG parser's duration by bit rate, ms
  uint32_t FrameLength = 0;   // 16: MPEG frame bytes
  uint32_t Reserved20 = 0;
  double MsPerFrame = 0;      // 24: MPEG
  int32_t Filled = 0;         // 32: 1 when filled
  uint8_t FormatCode = 0;     // 36
  TWaveFormat Format;         // 37: the source's wave format
  uint8_t Reserved55 = 0;
  int32_t Vbr = 0;            // 56: -1 variable bit rate, 0 constant (MPEG)
  uint8_t Reserved60[36] = {};
};
#pragma pack(pop)
static_assert(sizeof(TMediaInfo) == 96);
static_assert(offsetof(TMediaInfo, MsPerFrame) == 24 && offsetof(TMediaInfo, FormatCode) == 36 &&
              offsetof(TMediaInfo, Format) == 37 && offsetof(TMediaInfo, Vbr) == 56);

}  // namespace kav
