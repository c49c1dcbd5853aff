// Hue, saturation and lightness of 32-bit pixels, and the 24-bit pixel blend
// of the bitmap resizer.
//
// Hue, saturation and lightness are all on a 0..255 scale (a hue of 255 is a
// full turn); the conversions compute in floating point and round to the
// nearest integer, halves to even.
#pragma once

#include <cstdint>
#include <span>

#include "VoRav/Graphics/GraphTypes.h"
#include "VoRav/Graphics/vxColor.h"

namespace kav {

class TBitmap;
class TRefObject;

// Red, green and blue (0..255) to hue, saturation and lightness (0..255).
void RGBToHSL(int32_t red, int32_t green, int32_t blue, int32_t& hue, int32_t& saturation, int32_t& lightness);
// Hue, saturation and lightness (0..255) back to red, green and blue, each
// kept to 0..255.
void HSLToRGB(int32_t hue, int32_t saturation, int32_t lightness, int32_t& red, int32_t& green, int32_t& blue);

// Shifts one pixel stored blue, green, red by hue, saturation and lightness
// steps on the 0..255 scale: the hue wraps (any number of turns), the other
// two clamp. The fourth byte is left alone.
void ShiftPixelHSL(uint8_t* bgr, int32_t hue_shift, int32_t saturation_shift, int32_t lightness_shift);

// Shifts the hue (degrees), saturation and lightness (percent) of every pixel
// of `rect` (clipped to the bitmap) in place; alpha is kept. Nothing happens
// when all three shifts are 0, when the bitmap is not "A8R8G8B8", or when its
// pixels cannot be written in place (only system and direct bitmaps can).
// After each row the loading callback is called with `sender`; a false answer
// stops the work there.
void HSLAdjustPixels(TBitmap* bitmap, const TRect& rect, TRefObject* sender, int32_t lightness,
                     int32_t saturation, int32_t hue);

// One blend step of the resizer: the pixels at A and B of a row and the
// weight of B in 16.16 fixed point (0 gives A, 65536 gives B).
struct TBlendIndex {
  int32_t A = 0;
  int32_t B = 0;
  int32_t Weight = 0;
};

// Per byte a + ((b - a) * weight) / 65536, the quotient truncated toward zero
// and kept to its low 8 bits. Indexes outside the row fail an assertion.
TRGBTriple BlendRGB24(std::span<const TRGBTriple> row, const TBlendIndex& blend);

}  // namespace kav
