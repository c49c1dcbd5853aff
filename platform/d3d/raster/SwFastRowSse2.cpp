#include <emmintrin.h>

#include <cstdlib>
#include <cstring>

#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwSampler.h"

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

namespace {

inline __m128 Unpack(uint32_t px) {
  __m128i z = _mm_setzero_si128();
  __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(px)), z), z);
  return _mm_mul_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(kSwInv255));
}

inline __m128 Clamp01(__m128 v) { return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f)); }

inline uint32_t Pack(__m128 v) {
  __m128i i = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(Clamp01(v), _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
  i = _mm_packs_epi32(i, i);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(i, i)));
}

}  // namespace

void SwQuadRowSse2(const TSwQuadPlan& p, int32_t y, float* cols) {
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const int32_t n = p.X1 - p.X0;
  const uint32_t out_or = p.TargetX8 ? 0xFF000000u : 0u;
  const uint32_t tex_or = p.TexX8 ? 0xFF000000u : 0u;
  const __m128 M = _mm_loadu_ps(p.M), A = _mm_loadu_ps(p.A);

  if (!p.Tex && !p.Blend) {  // solid fill
    uint32_t c = Pack(A) | out_or;
    for (int32_t i = 0; i < n; ++i) dst[i] = c;
    return;
  }
  const uint32_t* r0 = nullptr;
  if (p.Tex) {
    int32_t row0, row1;
    float wy;
    SwQuadRowSource(p, y, row0, row1, wy);
    r0 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row0) * p.TexPitch);
    if (p.Copy && wy == 0.0f) {
      const uint32_t* s = r0 + p.Col0[0];
      if (!tex_or && !out_or) {
        std::memcpy(dst, s, size_t(n) * 4);
      } else {
        const uint32_t o = tex_or | out_or;
        for (int32_t i = 0; i < n; ++i) dst[i] = s[i] | o;
      }
      return;
    }
    const uint32_t* r1 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row1) * p.TexPitch);
    const __m128 W = _mm_set1_ps(wy);
    const bool lerp = wy != 0.0f;
    for (int32_t c = p.ColMin; c <= p.ColMax; ++c) {
      __m128 a = Unpack(r0[c] | tex_or);
      if (lerp) a = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(Unpack(r1[c] | tex_or), a), W));
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
    s = Clamp01(s);
    if (p.Blend) {
      __m128 d = Unpack(dst[i] | out_or);
      __m128 sa = _mm_shuffle_ps(s, s, _MM_SHUFFLE(3, 3, 3, 3));
      __m128 sf = _mm_add_ps(K0, _mm_mul_ps(K1, sa));
      __m128 df = _mm_add_ps(L0, _mm_mul_ps(L1, sa));
      __m128 add = _mm_add_ps(_mm_mul_ps(s, sf), _mm_mul_ps(d, df));
      __m128 mx = _mm_max_ps(s, d);
      s = _mm_or_ps(_mm_and_ps(MaxMask, mx), _mm_andnot_ps(MaxMask, add));
    }
    dst[i] = Pack(s) | out_or;
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
