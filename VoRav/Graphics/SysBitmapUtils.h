// Pixel-block operations on system bitmaps: mip-level halving, bilinear
// stretching, rotations, alpha fills and tests, compositing of 32-bit images,
// greyscale and tiling.
//
// Every operation asserts the depth it works on ("R8G8B8"-style 24-bit or
// "A8R8G8B8"-style 32-bit pixels: 3 or 4 bytes, alpha in byte 3). Rectangle
// operations clip first and do nothing on an empty result. The halvings,
// rotations, FillAlphaRect and ExtractAlphaFromColor report progress on the
// (source) bitmap before each row and stop when the handler answers false;
// that is how a slide load is aborted.
#pragma once

#include <cstdint>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

// Half-size copy with the 1-2-1 kernel (weights 1 2 1 / 2 4 2 / 1 2 1, sum
// >> 4), source coordinates clamped to the edges. Progress goes to the
// source; answers false when stopped, else NotifyProgress(1.0).
bool HalveBitmap24(TSysBitmap* source, TSysBitmap* dest);
bool HalveBitmap32(TSysBitmap* source, TSysBitmap* dest);

// Bilinear stretch of the whole source onto the whole destination in 16.16
// fixed point.
void StretchBilinear24(TSysBitmap* source, TSysBitmap* dest);
void StretchBilinear32(TSysBitmap* source, TSysBitmap* dest);

// Sets the alpha byte of every pixel in the clipped rectangle.
void FillAlphaRect(TSysBitmap* bitmap, const TRect& rect, uint8_t alpha);
// 32-bit straight-alpha source onto a 24-bit destination:
// d + (s - d) * a / 256 per channel.
void AlphaBlendRect32On24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point);
// 32-bit premultiplied source onto a 24-bit destination: alpha 0 skips,
// 255 copies, else d * (255 - a) / 256 + s.
void BlendPremulRect32On24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point);
// Straight "over" with BlendPixelOver's formulas per pixel.
void AlphaCompositeRect32Int(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TPoint source_point);
// Straight "over" through the precomputed straight-alpha table.
void AlphaCompositeRect32(TSysBitmap* dest, TPoint dest_pos, TSysBitmap* source, TPoint source_pos, int32_t width,
                          int32_t height);
// True when the format has no alpha or every pixel's alpha is at its
// maximum; false for null.
bool BitmapIsOpaque(TBitmap* bitmap);
// "A8R8G8B8": alpha becomes max(r, g, b) and the colour is pushed toward
// white by how grey it is (pure grey becomes white). Answers as the halvings.
bool ExtractAlphaFromColor(TSysBitmap* bitmap);

// In place; answers NotifyProgress(1.0), also after a stop.
bool RotateBitmap180Bpp32(TSysBitmap* bitmap);
bool RotateBitmap180Bpp24(TSysBitmap* bitmap);
// Into a destination of swapped size (asserted).
bool RotateBitmap90CWBpp24(TSysBitmap* source, TSysBitmap* dest);
bool RotateBitmap90CWBpp32(TSysBitmap* source, TSysBitmap* dest);
bool RotateBitmap90CCWBpp24(TSysBitmap* source, TSysBitmap* dest);
bool RotateBitmap90CCWBpp32(TSysBitmap* source, TSysBitmap* dest);

// Blue, green, red become (b + g + r) / 3; the dim form also quarters the
// alpha. Null does nothing.
void GrayscaleBitmap(TSysBitmap* bitmap);
void GrayscaleDimBitmap(TSysBitmap* bitmap);

// Fills `target` with `tile_rect` of `tile` repeated, shifted by `offset`.
void TileBitmap(TSysBitmap* dest, TSysBitmap* tile, const TRect& target, TPoint offset, const TRect& tile_rect);
// Tiles into target ∩ clip with the phase of the whole target.
void TileBitmapClipped(TSysBitmap* dest, TSysBitmap* tile, const TRect& target, const TRect& clip,
                       const TRect& tile_rect);
// Tiles a picture (an image's level 0, in its own format) into `target` with
// the tile grid anchored at `origin`. Pictures with alpha are composited
// unless `force_copy` is set.
void TileImageStore(TSysBitmap* dest, const TRect& target, TBitmap* picture, bool force_copy, TPoint origin);
// The one-pixel frame of `rect`, tiled from the rectangle's corner, within `clip`.
void DrawImageFrame(TSysBitmap* dest, const TRect& rect, TBitmap* picture, const TRect& clip);
// The same with an image's level 0.
void TileImageStore(TSysBitmap* dest, const TRect& target, TImage* image, bool force_copy, TPoint origin);
void DrawImageFrame(TSysBitmap* dest, const TRect& rect, TImage* image, const TRect& clip);

}  // namespace kav
