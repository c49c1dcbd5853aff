// Recovering straight alpha: from premultiplied pictures, from two renderings
// of one picture on black and on white (GDI-style drawing has no alpha), or by
// deciding how a picture without meaningful alpha should show.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

// The un-premultiply factors (entry 0 = 256, entry a = 65280 / a); built once.
const uint32_t* InitUnpremultiplyTable();

// `black` ("A8R8G8B8") and `white` ("R8G8B8") are renderings of one picture on
// black and on white. Over the top-left width x height pixels (clipped to
// both), black receives straight colour and alpha: a = max over the channels
// of (k + 255 - w); a >= 255 keeps the pixel opaque, a = 0 gives `fill`,
// otherwise each channel is k * (65280 / a) >> 8 and the alpha a.
void AlphaFromTwoBackgrounds(TSysBitmap* black, TSysBitmap* white, int32_t width, TColor32 fill, int32_t height);
// The same over the whole bitmap.
void MergeAlphaPlane(TSysBitmap* black, TSysBitmap* white, TColor32 fill);
// "A8R8G8B8" premultiplied data to straight: alpha 0 becomes `fill`, alpha
// 255 stays, else c * (65280 / a) >> 8.
void UnpremultiplyBitmap(TSysBitmap* bitmap, TColor32 fill);
// "A8R8G8B8" or "A8r8g8b8": true at the first pixel with non-zero alpha;
// `all_zero` tells whether every pixel looked at was 0x00000000.
bool HasAlphaContent(TSysBitmap* bitmap, bool& all_zero);
// An all-zero bitmap is filled with `color`; one with some alpha is
// un-premultiplied with `color` as fill; both answer true. A bitmap with
// colour but no alpha anywhere is left and answers false.
bool PrepareAlphaForDisplay(TSysBitmap* bitmap, TColor32 color);

}  // namespace kav
