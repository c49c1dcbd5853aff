// Filling a tile texture from its part of a picture: `w` x `h` pixels from
// (ox, oy) on, positions beyond the picture taking the nearest edge pixel.
// The plain form reads pixel by pixel through GetPixels32; the fast one reads
// only the columns the tile shows, one span per row, straight from the rows
// of system bitmaps. Both write the same bytes.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"

namespace kav {

// `out` must be a 4-byte bitmap of at least w x h pixels; `src` 4-byte and
// not empty.
void TileFillPlain(TBitmap* src, int32_t ox, int32_t oy, int32_t w, int32_t h, TSysBitmap* out);
void TileFill(TBitmap* src, int32_t ox, int32_t oy, int32_t w, int32_t h, TSysBitmap* out);

}  // namespace kav
