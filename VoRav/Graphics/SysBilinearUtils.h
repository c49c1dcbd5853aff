// Bilinear resampling of 32-bit pixel blocks with separate horizontal and
// vertical passes (weights in 1/256 steps).
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

// A bitmap's rows as the resampler sees them.
struct TBitmapRowInfo {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerPixel = 0;
  std::vector<uint8_t*> Rows;
};

// One source position per destination position: (index, weight 0..256).
struct TLinearMapEntry {
  uint32_t Index = 0;
  uint32_t Weight = 0;
  friend bool operator==(const TLinearMapEntry&, const TLinearMapEntry&) = default;
};
using TLinearMap = std::vector<TLinearMapEntry>;

// Each byte d = b + ((a - b) * weight >> 8), weight 0..256 (the shift floors).
using TCrossFadeRowProc = void (*)(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes);
void CrossFadeRow(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes);
// The fastest form the processor runs.
TCrossFadeRowProc CrossFadeRowProc();

void GetBitmapRowInfo(TSysBitmap* bitmap, TBitmapRowInfo& info);
// step = (source - 1) / (dest - 1) (0 for dest < 2); entry i =
// (trunc(i * step), round(frac(i * step) * 256)); with source > 1 the last
// entry is (source - 2, 256), reaching the last pixel without reading past it.
void BuildLinearMap(TLinearMap& map, int32_t dest_length, int32_t source_length);
// Destination pixel i: each byte p[k] + ((p[k + 1] - p[k]) * w >> 8) for
// (k, w) = map[i]. A weight of 0 reads only p[k].
void LerpRow32(uint8_t* dst, const uint8_t* src, const TLinearMap& map, int32_t count);
// Resamples the whole source onto the whole destination (both 25 to 32 bits
// per pixel, asserted).
void BilinearResample(const TBitmapRowInfo& source, const TBitmapRowInfo& dest);

}  // namespace kav
