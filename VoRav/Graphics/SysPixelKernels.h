// The hot per-row pixel loops, in a plain scalar form and in SSE2 and AVX2
// forms chosen at run time by the processor's features. Every fast form gives
// exactly the bytes of the scalar one.
//
// 4-byte pixels here have their alpha in byte 3 and colour in bytes 0-2 (the
// order of the colour bytes does not matter to these loops).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav {

enum class TSimdLevel : uint8_t { Scalar = 0, SSE2 = 1, AVX2 = 2 };

// 1-2-1 halving of interior pixels: destination pixels x0 .. x0 + count - 1
// (written from `dst` on) from source columns 2x - 1 .. 2x + 1 of the rows
// r0, r1, r2 (pointers to column 0), weights 1 2 1 / 2 4 2 / 1 2 1, sum >> 4.
// The caller guarantees x0 >= 1 and 2 (x0 + count - 1) + 1 < source width.
using THalveRowProc = void (*)(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0,
                               size_t count);

struct TPixelKernels {
  TSimdLevel Level;
  // 3-byte pixels to 4-byte pixels, byte order kept, alpha 255.
  void (*ExpandRGB)(uint8_t* dst, const uint8_t* src, size_t count);
  // Alpha 0: all four bytes 0; alpha 255: unchanged; else c * a >> 8.
  void (*PremultiplyShift)(uint8_t* dst, const uint8_t* src, size_t count);
  // c * a / 255 (alpha 0 gives 0, alpha 255 leaves the pixel).
  void (*PremultiplyExact)(uint8_t* dst, const uint8_t* src, size_t count);
  // Alpha 0: the pixel becomes `fill` (bytes in memory order, i.e. the
  // little-endian value); else c * UnpremultiplyTable()[a] >> 8, at most 255.
  void (*Unpremultiply)(uint8_t* dst, const uint8_t* src, size_t count, uint32_t fill);
  THalveRowProc HalveRow24;
  THalveRowProc HalveRow32;
  // Each byte b + ((a - b) * weight >> 8), weight 0..256 (the shift floors);
  // computed as (a * weight + b * (256 - weight)) >> 8, which is the same.
  void (*CrossFadeRow)(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes);
  // One row of the 16.16 bilinear stretch of 4-byte pixels: destination
  // pixel i mixes columns col[i] and next[i] (fraction frac[i]) of the rows
  // top and bottom, whose weights are 0x10000 - fy and fy + 1; each channel
  // is the weighted sum >> 16.
  void (*StretchRow32)(uint8_t* dst, const uint8_t* top, const uint8_t* bottom, const int32_t* col,
                       const int32_t* next, const uint32_t* frac, uint32_t fy, size_t count);
};

// The kernels of the best level the processor supports.
const TPixelKernels& PixelKernels();
// The kernels of one level; null when the processor lacks it.
const TPixelKernels* PixelKernelsFor(TSimdLevel level);

// Un-premultiply factors: entry 0 = 256, entry a = 65280 / a (65280 = 255 x
// 256), so c * entry[a] >> 8 is the straight value of a premultiplied c.
const uint32_t* UnpremultiplyTable();

// In place on 4-byte rows: the copy-time premultiplication of TSysBitmap.
inline void PremultiplyRowExact(uint8_t* row, size_t count) { PixelKernels().PremultiplyExact(row, row, count); }
inline void PremultiplyRowShift(uint8_t* row, size_t count) { PixelKernels().PremultiplyShift(row, row, count); }

namespace kernels {
// Scalar reference forms (also used for the tails of the fast forms).
void ExpandRGBScalar(uint8_t* dst, const uint8_t* src, size_t count);
void PremultiplyShiftScalar(uint8_t* dst, const uint8_t* src, size_t count);
void PremultiplyExactScalar(uint8_t* dst, const uint8_t* src, size_t count);
void UnpremultiplyScalar(uint8_t* dst, const uint8_t* src, size_t count, uint32_t fill);
void HalveRow24Scalar(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0, size_t count);
void CrossFadeRowScalar(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes);
void StretchRow32Scalar(uint8_t* dst, const uint8_t* top, const uint8_t* bottom, const int32_t* col,
                        const int32_t* next, const uint32_t* frac, uint32_t fy, size_t count);
void HalveRow32Scalar(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0, size_t count);
// Filled in by the x86 module; null members fall back to the scalar ones.
extern const TPixelKernels kSSE2Kernels;
extern const TPixelKernels kAVX2Kernels;
}  // namespace kernels

}  // namespace kav
