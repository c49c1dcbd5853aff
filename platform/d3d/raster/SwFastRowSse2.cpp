#include <emmintrin.h>

#include <cstdlib>
#include <cstring>

#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwSampler.h"
#include "platform/d3d/raster/SwSimd.h"

namespace kav {

void SwQuadRowSource(const TSwQuadPlan& p, int32_t y, int32_t& row0, int32_t& row1, float& wy) {
  const float v = p.Cv + p.Bv * float(y);
  if (!p.Bilinear) {
    row0 = row1 = SwAddress(p.AddressV, SwFloorToInt(v * float(p.TexH)), p.TexH);
    wy = 0.0f;
    return;
  }
  const float fy = v * float(p.TexH) - 0.5f;
  const int32_t iy = SwFloorToInt(fy);
  wy = fy - float(iy);
  row0 = SwAddress(p.AddressV, iy, p.TexH);
  row1 = SwAddress(p.AddressV, iy + 1, p.TexH);
}

void SwQuadRowSse2(const TSwQuadPlan& p, int32_t y, float* cols) {
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const int32_t n = p.X1 - p.X0;
  const uint32_t out_or = p.TargetX8 ? 0xFF000000u : 0u;
  const uint32_t tex_or = p.TexX8 ? 0xFF000000u : 0u;
  const __m128 M = _mm_loadu_ps(p.M), A = _mm_loadu_ps(p.A);

  if (!p.Tex && !p.Blend) {  // solid fill
    uint32_t c = SwPack(A) | out_or;
    for (int32_t i = 0; i < n; ++i) dst[i] = c;
    return;
  }
  const uint32_t* r0 = nullptr;
  if (p.Tex) {
    int32_t row0, row1;
    float wy;
    SwQuadRowSource(p, y, row0, row1, wy);
    r0 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row0) * p.TexPitch);
    const uint32_t* r1 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row1) * p.TexPitch);
    if (p.Copy && (wy < kSwSnapWeight || wy > 1.0f - kSwSnapWeight)) {
      // Weights this close to 0 or 1 cannot move a byte of an unchanged texel.
      if (wy >= 0.5f) r0 = r1;
      const uint32_t* s = r0 + p.CopyCol;
      if (!tex_or && !out_or) {
        std::memcpy(dst, s, size_t(n) * 4);
      } else {
        const uint32_t o = tex_or | out_or;
        for (int32_t i = 0; i < n; ++i) dst[i] = s[i] | o;
      }
      return;
    }
    const __m128 W = _mm_set1_ps(wy);
    const bool lerp = wy != 0.0f;
    for (int32_t c = p.ColMin; c <= p.ColMax; ++c) {
      __m128 a = SwUnpack(r0[c] | tex_or);
      if (lerp) a = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(SwUnpack(r1[c] | tex_or), a), W));
      _mm_storeu_ps(cols + 4 * (c - p.ColMin), a);
    }
  }
  const __m128 K0 = _mm_loadu_ps(p.K0), K1 = _mm_loadu_ps(p.K1), L0 = _mm_loadu_ps(p.L0), L1 = _mm_loadu_ps(p.L1);
  const __m128 MaxMask = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p.MaxMask)));
  const float* base = cols - 4 * p.ColMin;
  for (int32_t i = 0; i < n; ++i) {
    __m128 s;
    if (p.Tex) {
      __m128 a = _mm_loadu_ps(base + 4 * p.Col0[i]);
      if (p.Bilinear && !p.NoWx) {
        __m128 b = _mm_loadu_ps(base + 4 * p.Col1[i]);
        a = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), _mm_set1_ps(p.Wx[i])));
      }
      s = _mm_add_ps(_mm_mul_ps(a, M), A);
    } else {
      s = A;
    }
    s = SwClamp01(s);
    if (p.Blend) s = SwBlend(s, SwUnpack(dst[i] | out_or), K0, K1, L0, L1, MaxMask);
    dst[i] = SwPack(s) | out_or;
  }
}

TSwRowKernel SwQuadRowKernel() {
  static const TSwRowKernel k = [] {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2")) return &SwQuadRowAvx2;
    return &SwQuadRowSse2;
  }();
  return k;
}

}  // namespace kav
