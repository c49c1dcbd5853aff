// Separable two-pass filter resampling of 8-bit single-channel bitmaps (the
// masks of the shadow generator) with seven classic reconstruction filters.
#pragma once

#include <cstdint>
#include <span>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/vxDelegate.h"

namespace kav {

using TResampleFilterProc = float (*)(float x);

struct TResampleFilter {
  const char* Name;
  TResampleFilterProc Filter;
  float Support;
};

float BoxFilter(float x);
float TriangleFilter(float x);
float HermiteFilter(float x);
float BellFilter(float x);
float SplineFilter(float x);
float Lanczos3Filter(float x);
float MitchellFilter(float x);

// "Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell".
extern const TResampleFilter ResampleFilters[7];

// Called after each output column of each stage with the sender value;
// setting `cancel` stops the resampling (the destination stays partly written).
using TResampleProgress = TDelegate<void(void* sender, bool& cancel)>;

// Resamples `source` onto `dest` (both 1 byte per pixel, asserted) with the
// same `scale` and filter `support` on both axes. A source narrower or lower
// than 2 pixels raises Exception("Source bitmap too small"). `value_table`
// is empty or 4096 output bytes indexed by the 12-bit result.
void ResampleStretch(TSysBitmap* source, TSysBitmap* dest, TResampleFilterProc filter,
                     const TResampleProgress& progress, std::span<const uint8_t> value_table, void* sender,
                     float scale, float support);

}  // namespace kav
