// Pixel formats of the software 3D device: sizes, names and the conversion
// of one pixel to and from 32-bit A8R8G8B8 (memory order B, G, R, A).
#pragma once

#include <cstdint>

#include "platform/d3d/SwTypes.h"

namespace kav {

// Reads one pixel of `f` as A8R8G8B8. Formats without alpha read alpha 255;
// L8 reads as grey; A8 reads as black with that alpha; 5-bit and 6-bit
// channels are widened by repeating their top bits.
uint32_t SwReadArgb(TSwFormat f, const uint8_t* p);
// Writes an A8R8G8B8 value as one pixel of `f` (channels cut to the format's
// width; L8 takes the green channel; X8R8G8B8 stores alpha 255).
void SwWriteArgb(TSwFormat f, uint8_t* p, uint32_t argb);

}  // namespace kav
