// The reference sampler's formulas four channels at a time in SSE registers
// (the same float operations, so the same results).
#pragma once

#include <algorithm>

#include "platform/d3d/raster/SwSimd.h"

namespace kav {

// One texel as four floats: 32-bit formats directly (`or_mask` sets alpha
// for X8R8G8B8), others through SwReadArgb as the reference reads them.
inline __m128 SwFetch4(TSwFormat f, const TSwLevelView& lv, int32_t x, int32_t y, uint32_t or_mask) {
  const uint8_t* row = lv.Bits + int64_t(y) * lv.Pitch;
  if (f == TSwFormat::A8R8G8B8 || f == TSwFormat::X8R8G8B8)
    return SwUnpack(reinterpret_cast<const uint32_t*>(row)[x] | or_mask);
  return SwUnpack(SwReadArgb(f, row + int64_t(x) * SwBytesPerPixel(f)));
}

// SwSampleLevel four channels at a time; `or_mask` sets alpha for X8R8G8B8.
inline __m128 SwSampleLevel4(const TSwSamplerView& s, int32_t level, TSwFilter filter, float u, float v, uint32_t or_mask) {
  const TSwLevelView& lv = s.Level[level];
  if (filter == TSwFilter::Point || filter == TSwFilter::None) {
    int32_t x = SwAddress(s.AddressU, SwFloorToInt(u * float(lv.Width)), lv.Width);
    int32_t y = SwAddress(s.AddressV, SwFloorToInt(v * float(lv.Height)), lv.Height);
    return SwFetch4(s.Format, lv, x, y, or_mask);
  }
  float fx = u * float(lv.Width) - 0.5f, fy = v * float(lv.Height) - 0.5f;
  int32_t ix = SwFloorToInt(fx), iy = SwFloorToInt(fy);
  __m128 wx = _mm_set1_ps(fx - float(ix)), wy = _mm_set1_ps(fy - float(iy));
  int32_t x0 = SwAddress(s.AddressU, ix, lv.Width), x1 = SwAddress(s.AddressU, ix + 1, lv.Width);
  int32_t y0 = SwAddress(s.AddressV, iy, lv.Height), y1 = SwAddress(s.AddressV, iy + 1, lv.Height);
  __m128 left = SwLerp(SwFetch4(s.Format, lv, x0, y0, or_mask), SwFetch4(s.Format, lv, x0, y1, or_mask), wy);
  __m128 right = SwLerp(SwFetch4(s.Format, lv, x1, y0, or_mask), SwFetch4(s.Format, lv, x1, y1, or_mask), wy);
  return SwLerp(left, right, wx);
}

// SwSample2D for 32-bit textures.
inline __m128 SwSample2D4(const TSwSamplerView& s, float u, float v, const float* d, uint32_t or_mask) {
  const int32_t base = s.BaseLevel;
  float lod = d ? SwComputeLod(d, s.Level[base].Width, s.Level[base].Height, s.LodBias) : -100.0f;
  if (!(lod > 0.0f)) return SwSampleLevel4(s, base, s.MagFilter, u, v, or_mask);
  const int32_t last = s.Levels - 1;
  if (s.MipFilter == TSwFilter::None || base == last) return SwSampleLevel4(s, base, s.MinFilter, u, v, or_mask);
  if (s.MipFilter == TSwFilter::Point)
    return SwSampleLevel4(s, std::min(last, base + SwFloorToInt(lod + 0.5f)), s.MinFilter, u, v, or_mask);
  int32_t l0 = SwFloorToInt(lod);
  float f = lod - float(l0);
  l0 = std::min(last, base + l0);
  int32_t l1 = std::min(last, l0 + 1);
  __m128 a = SwSampleLevel4(s, l0, s.MinFilter, u, v, or_mask);
  if (l1 == l0) return a;
  return SwLerp(a, SwSampleLevel4(s, l1, s.MinFilter, u, v, or_mask), _mm_set1_ps(f));
}

}  // namespace kav
