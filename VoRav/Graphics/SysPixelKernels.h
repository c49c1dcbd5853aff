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
// Filled in by the x86 module; null members fall back to the scalar ones.
extern const TPixelKernels kSSE2Kernels;
extern const TPixelKernels kAVX2Kernels;
}  // namespace kernels

}  // namespace kav
