// Texture sampling of the reference pipeline: point and bilinear filters,
// wrap, mirror and clamp addressing, mip selection from screen-space
// derivatives with LOD bias and point or linear mip filtering, and trilinear
// volume lookups. The fast paths reproduce these formulas operation for
// operation, so both give the same bytes.
#pragma once

#include <cmath>
#include <cstdint>

#include "platform/d3d/SwFormat.h"
#include "platform/d3d/raster/SwPixelState.h"

namespace kav {

constexpr float kSwInv255 = 1.0f / 255.0f;

inline TSwColorF SwColorFromArgb(uint32_t c) {
  return TSwColorF{float(c & 255) * kSwInv255, float((c >> 8) & 255) * kSwInv255,
                   float((c >> 16) & 255) * kSwInv255, float(c >> 24) * kSwInv255};
}

// floor(v) as an integer, kept within +-2^30 (NaN gives 0), so huge texture
// coordinates cannot overflow the address arithmetic.
inline int32_t SwFloorToInt(float v) {
  if (!(v > -1073741824.0f)) return v != v ? 0 : -1073741824;
  if (v >= 1073741824.0f) return 1073741824;
  const int32_t i = int32_t(v);  // toward zero; one less below zero when v has a fraction
  return float(i) > v ? i - 1 : i;
}

// Texel index after addressing, for a level of `n` texels along the axis.
inline int32_t SwAddress(TSwAddress mode, int32_t i, int32_t n) {
  switch (mode) {
    case TSwAddress::Wrap: {
      int32_t m = i % n;
      return m < 0 ? m + n : m;
    }
    case TSwAddress::Mirror: {
      int32_t p = 2 * n;
      int32_t m = i % p;
      if (m < 0) m += p;
      return m < n ? m : p - 1 - m;
    }
    default: return i < 0 ? 0 : (i >= n ? n - 1 : i);
  }
}

inline uint32_t SwFetchArgb(TSwFormat f, const TSwLevelView& lv, int32_t x, int32_t y) {
  const uint8_t* row = lv.Bits + int64_t(y) * lv.Pitch;
  if (f == TSwFormat::A8R8G8B8) return reinterpret_cast<const uint32_t*>(row)[x];
  if (f == TSwFormat::X8R8G8B8) return reinterpret_cast<const uint32_t*>(row)[x] | 0xFF000000u;
  return SwReadArgb(f, row + int64_t(x) * SwBytesPerPixel(f));
}

// The level of detail for derivatives d = (du/dx, dv/dx, du/dy, dv/dy) on a
// base level of w x h texels, bias included.
float SwComputeLod(const float* d, int32_t w, int32_t h, float bias);

// Samples one level with a point or linear filter.
TSwColorF SwSampleLevel(const TSwSamplerView& s, int32_t level, TSwFilter filter, float u, float v);
// Samples a 2D texture; `d` may be null (base level, magnification filter).
TSwColorF SwSample2D(const TSwSamplerView& s, float u, float v, const float* d);
// Samples level 0 of a volume texture.
TSwColorF SwSample3D(const TSwSamplerView& s, float u, float v, float w);

}  // namespace kav
