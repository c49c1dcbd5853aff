// The AVX2 variant of the rectangle row kernel: two pixels per 256-bit
// register, the same operations as the SSE2 variant lane for lane.
#include <immintrin.h>

#include <cstring>

#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwSampler.h"
#include "platform/d3d/raster/SwSimd.h"

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

KAV_AVX2 inline __m256 Unpack2(const uint32_t* px, uint32_t or_mask) {
  __m128i two = _mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(px)), _mm_set1_epi32(int(or_mask)));
  return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(two)), _mm256_set1_ps(kSwInv255));
}

KAV_AVX2 inline __m256 Clamp01(__m256 v) {
  return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

KAV_AVX2 inline __m256 Dup(const float* f) {
  __m128 v = _mm_loadu_ps(f);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(v), v, 1);
}

KAV_AVX2 inline __m256 Pair(const float* a, const float* b) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
}

template <bool kTex, bool kLerpX, bool kBlend, bool kMax>
KAV_AVX2 void PixelLoopT(const TSwQuadPlan& p, uint32_t* dst, int32_t n, const float* base, uint32_t out_or) {
  const int32_t* c0 = p.Col0.data();
  const int32_t* c1 = p.Col1.data();
  const float* wx = p.Wx.data();
  const __m256 M = Dup(p.M), A = Dup(p.A), K0 = Dup(p.K0), K1 = Dup(p.K1), L0 = Dup(p.L0), L1 = Dup(p.L1);
  const __m256 MaxMask = Dup(reinterpret_cast<const float*>(p.MaxMask));
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256 inv255 = _mm256_set1_ps(kSwInv255), k255 = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
  const __m128i or4 = _mm_set1_epi32(int(out_or));
  // Pixels i and i + 1: the stage's colour, clamped.
  auto color2 = [&](int32_t i) KAV_AVX2 {
    __m256 s = A;
    if constexpr (kTex) {
      __m256 a = Pair(base + 4 * c0[i], base + 4 * c0[i + 1]);
      if constexpr (kLerpX) {
        __m256 b = Pair(base + 4 * c1[i], base + 4 * c1[i + 1]);
        __m256 w = _mm256_permutevar8x32_ps(
            _mm256_castps128_ps256(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(wx + i)))), spread);
        a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), w));
      }
      s = _mm256_add_ps(_mm256_mul_ps(a, M), A);
    }
    return Clamp01(s);
  };
  auto blend = [&](__m256 s, __m256 d) KAV_AVX2 {
    __m256 sa = _mm256_permute_ps(s, _MM_SHUFFLE(3, 3, 3, 3));
    __m256 sf = _mm256_add_ps(K0, _mm256_mul_ps(K1, sa));
    __m256 df = _mm256_add_ps(L0, _mm256_mul_ps(L1, sa));
    __m256 add = _mm256_add_ps(_mm256_mul_ps(s, sf), _mm256_mul_ps(d, df));
    if constexpr (kMax) return _mm256_blendv_ps(add, _mm256_max_ps(s, d), MaxMask);
    return add;
  };
  auto to_int = [&](__m256 v) KAV_AVX2 {
    return _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(Clamp01(v), k255), half));
  };
  int32_t i = 0;
  for (; i + 3 < n; i += 4) {
    __m256 s0 = color2(i), s1 = color2(i + 2);
    if constexpr (kBlend) {
      __m128i d4 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)), or4);
      __m256 d0 = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(d4)), inv255);
      __m256 d1 = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(d4, 8))), inv255);
      s0 = blend(s0, d0);
      s1 = blend(s1, d1);
    }
    // 16-bit lanes hold pixels 0, 2 (low half) and 1, 3 (high half); bytes
    // then hold them as dwords 0, 1 and 4, 5.
    __m256i w = _mm256_packs_epi32(to_int(s0), to_int(s1));
    __m256i b = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(w, w), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(_mm256_castsi256_si128(b), or4));
  }
  // The last pixels one by one, with the same operations in SSE registers.
  const __m128 m1 = _mm_loadu_ps(p.M), a1 = _mm_loadu_ps(p.A), k0 = _mm_loadu_ps(p.K0), k1 = _mm_loadu_ps(p.K1);
  const __m128 l0 = _mm_loadu_ps(p.L0), l1 = _mm_loadu_ps(p.L1);
  const __m128 mm = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p.MaxMask)));
  for (; i < n; ++i) {
    __m128 s = a1;
    if constexpr (kTex) {
      __m128 a = _mm_loadu_ps(base + 4 * c0[i]);
      if constexpr (kLerpX) a = SwLerp(a, _mm_loadu_ps(base + 4 * c1[i]), _mm_set1_ps(wx[i]));
      s = _mm_add_ps(_mm_mul_ps(a, m1), a1);
    }
    s = SwClamp01(s);
    if constexpr (kBlend) s = SwBlend(s, SwUnpack(dst[i] | out_or), k0, k1, l0, l1, mm);
    dst[i] = SwPack(s) | out_or;
  }
}

template <bool kTex, bool kLerpX>
KAV_AVX2 void PixelLoop(const TSwQuadPlan& p, uint32_t* dst, int32_t n, const float* base, uint32_t out_or,
                        bool any_max) {
  if (!p.Blend) PixelLoopT<kTex, kLerpX, false, false>(p, dst, n, base, out_or);
  else if (any_max) PixelLoopT<kTex, kLerpX, true, true>(p, dst, n, base, out_or);
  else PixelLoopT<kTex, kLerpX, true, false>(p, dst, n, base, out_or);
}

}  // namespace

KAV_AVX2 void SwQuadRowAvx2(const TSwQuadPlan& p, int32_t y, float* cols) {
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const int32_t n = p.X1 - p.X0;
  const uint32_t out_or = p.TargetX8 ? 0xFF000000u : 0u;
  const uint32_t tex_or = p.TexX8 ? 0xFF000000u : 0u;
  if (!p.Tex && !p.Blend) {
    SwQuadRowSse2(p, y, cols);  // fills and copies are bound by memory, not arithmetic
    return;
  }
  if (p.Tex) {
    int32_t row0, row1;
    float wy;
    SwQuadRowSource(p, y, row0, row1, wy);
    const uint32_t* r0 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row0) * p.TexPitch);
    const uint32_t* r1 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row1) * p.TexPitch);
    const __m256 W = _mm256_set1_ps(wy);
    if (p.Copy && (wy < kSwSnapWeight || wy > 1.0f - kSwSnapWeight)) {
      SwQuadRowSse2(p, y, cols);  // a row copy: bound by memory, not arithmetic
      return;
    }
    const bool lerp = wy != 0.0f;
    int32_t c = p.ColMin;
    // Pairs of columns; the last odd column reads one texel past the end of
    // the row, which stays inside the allocation's spare bytes and is unused.
    for (; c <= p.ColMax; c += 2) {
      __m256 a = Unpack2(r0 + c, tex_or);
      if (lerp) a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(Unpack2(r1 + c, tex_or), a), W));
      float* o = cols + 4 * (c - p.ColMin);
      if (c + 1 <= p.ColMax) _mm256_storeu_ps(o, a);
      else _mm_storeu_ps(o, _mm256_castps256_ps128(a));
    }
  }
  const float* base = cols - 4 * p.ColMin;
  const bool lerp_x = p.Tex && p.Bilinear && !p.NoWx;
  bool any_max = false;
  for (uint32_t m : p.MaxMask) any_max |= m != 0;
  if (!p.Tex) PixelLoop<false, false>(p, dst, n, base, out_or, any_max);
  else if (lerp_x) PixelLoop<true, true>(p, dst, n, base, out_or, any_max);
  else PixelLoop<true, false>(p, dst, n, base, out_or, any_max);
}

}  // namespace kav
