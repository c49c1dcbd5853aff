// Shared types of the sound layer: the wave format record, the result codes
// and the flag values of the DirectSound-subset mixer (platform/sound).
//
// The values are the ones the audio code of subsystem 6 passes and tests,
// under names of our own.
#pragma once

#include <cstdint>

namespace kav {

// The 18-byte wave format record as the audio code copies it: format tag,
// channels, samples per second, average bytes per second, block alignment,
// bits per sample, extra size. Packed, so that copies keep its byte layout.
#pragma pack(push, 1)
struct TWaveFormat {
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SamplesPerSec = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  uint16_t ExtraSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormat) == 18);

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatAdpcm = 2;
inline constexpr uint16_t kWaveFormatFloat = 3;

// The output format of the whole system: PCM, 2 channels, 44,100 Hz, 16 bits.
inline constexpr TWaveFormat kOutputWaveFormat{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
inline constexpr uint32_t kOutputRate = 44100;
inline constexpr uint32_t kOutputBytesPerSec = 176400;

// Result codes (the system's 32-bit HRESULT values).
using TSndResult = uint32_t;
inline constexpr TSndResult kSndOk = 0;
inline constexpr TSndResult kSndErrBufferLost = 0x88780096;
inline constexpr TSndResult kSndErrInvalidParam = 0x80070057;
inline constexpr TSndResult kSndErrInvalidCall = 0x88780032;
inline constexpr TSndResult kSndErrControlUnavail = 0x8878001E;
inline constexpr TSndResult kSndErrBadFormat = 0x88780064;
inline constexpr TSndResult kSndErrOutOfMemory = 0x8007000E;
inline constexpr TSndResult kSndErrPrioLevelNeeded = 0x88780046;
inline constexpr bool SndSucceeded(TSndResult r) { return (r & 0x80000000u) == 0; }

// Cooperative levels.
inline constexpr uint32_t kSndCoopNormal = 1;
inline constexpr uint32_t kSndCoopPriority = 2;
inline constexpr uint32_t kSndCoopExclusive = 3;
inline constexpr uint32_t kSndCoopWritePrimary = 4;

// Buffer capability flags.
inline constexpr uint32_t kSndCapsPrimary = 0x1;
inline constexpr uint32_t kSndCapsLocSoftware = 0x8;
inline constexpr uint32_t kSndCapsCtrlVolume = 0x80;
inline constexpr uint32_t kSndCapsGlobalFocus = 0x8000;
inline constexpr uint32_t kSndCapsGetCurrentPosition2 = 0x10000;

// Play and lock flags.
inline constexpr uint32_t kSndPlayLooping = 0x1;
inline constexpr uint32_t kSndLockFromWriteCursor = 0x1;
inline constexpr uint32_t kSndLockEntireBuffer = 0x2;

// Volume range in hundredths of a decibel.
inline constexpr int32_t kSndVolumeMin = -10000;
inline constexpr int32_t kSndVolumeMax = 0;

// Buffer sizes a secondary buffer may have.
inline constexpr uint32_t kSndBufferMinBytes = 4;
inline constexpr uint32_t kSndBufferMaxBytes = 0x0FFFFFFF;

// The 36-byte buffer description: size of the record, flags, buffer bytes,
// reserved, the wave format (a pointer), and the 3D algorithm (unused).
struct TSndBufferDesc {
  uint32_t Size = 36;
  uint32_t Flags = 0;
  uint32_t BufferBytes = 0;
  uint32_t Reserved = 0;
  const TWaveFormat* Format = nullptr;
};

}  // namespace kav
