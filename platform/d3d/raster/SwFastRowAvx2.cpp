// The AVX2 variant of the rectangle row kernel: two pixels per 256-bit
// register, the same operations as the SSE2 variant lane for lane.
#include <immintrin.h>

#include <cstring>

#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwSampler.h"

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

KAV_AVX2 inline void Pack2(__m256 v, uint32_t* out, uint32_t or_mask) {
  __m256i i = _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(Clamp01(v), _mm256_set1_ps(255.0f)), _mm256_set1_ps(0.5f)));
  i = _mm256_packs_epi32(i, i);
  i = _mm256_packus_epi16(i, i);
  out[0] = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(i))) | or_mask;
  out[1] = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(i, 1))) | or_mask;
}

KAV_AVX2 inline __m256 Dup(const float* f) {
  __m128 v = _mm_loadu_ps(f);
  return _mm256_insertf128_ps(_mm256_castps128_ps256(v), v, 1);
}

KAV_AVX2 inline __m256 Pair(const float* a, const float* b) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
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
  const __m256 M = Dup(p.M), A = Dup(p.A), K0 = Dup(p.K0), K1 = Dup(p.K1), L0 = Dup(p.L0), L1 = Dup(p.L1);
  const __m256 MaxMask = Dup(reinterpret_cast<const float*>(p.MaxMask));
  const float* base = cols - 4 * p.ColMin;
  const bool bilinear = p.Tex && p.Bilinear && !p.NoWx;
  int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    __m256 s;
    if (p.Tex) {
      __m256 a = Pair(base + 4 * p.Col0[size_t(i)], base + 4 * p.Col0[size_t(i) + 1]);
      if (bilinear) {
        __m256 b = Pair(base + 4 * p.Col1[size_t(i)], base + 4 * p.Col1[size_t(i) + 1]);
        __m256 w = _mm256_insertf128_ps(_mm256_set1_ps(p.Wx[size_t(i)]), _mm_set1_ps(p.Wx[size_t(i) + 1]), 1);
        a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), w));
      }
      s = _mm256_add_ps(_mm256_mul_ps(a, M), A);
    } else {
      s = A;
    }
    s = Clamp01(s);
    if (p.Blend) {
      __m256 d = Unpack2(dst + i, out_or);
      __m256 sa = _mm256_permute_ps(s, _MM_SHUFFLE(3, 3, 3, 3));
      __m256 sf = _mm256_add_ps(K0, _mm256_mul_ps(K1, sa));
      __m256 df = _mm256_add_ps(L0, _mm256_mul_ps(L1, sa));
      __m256 add = _mm256_add_ps(_mm256_mul_ps(s, sf), _mm256_mul_ps(d, df));
      s = _mm256_blendv_ps(add, _mm256_max_ps(s, d), MaxMask);
    }
    Pack2(s, dst + i, out_or);
  }
  if (i < n) {
    // The last pixel of an odd row, computed twice in both halves.
    __m256 s;
    if (p.Tex) {
      __m256 a = Dup(base + 4 * p.Col0[size_t(i)]);
      if (bilinear) {
        __m256 b = Dup(base + 4 * p.Col1[size_t(i)]);
        a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), _mm256_set1_ps(p.Wx[size_t(i)])));
      }
      s = _mm256_add_ps(_mm256_mul_ps(a, M), A);
    } else {
      s = A;
    }
    s = Clamp01(s);
    if (p.Blend) {
      uint32_t two[2] = {dst[i], dst[i]};
      __m256 d = Unpack2(two, out_or);
      __m256 sa = _mm256_permute_ps(s, _MM_SHUFFLE(3, 3, 3, 3));
      __m256 sf = _mm256_add_ps(K0, _mm256_mul_ps(K1, sa));
      __m256 df = _mm256_add_ps(L0, _mm256_mul_ps(L1, sa));
      __m256 add = _mm256_add_ps(_mm256_mul_ps(s, sf), _mm256_mul_ps(d, df));
      s = _mm256_blendv_ps(add, _mm256_max_ps(s, d), MaxMask);
    }
    uint32_t out[2];
    Pack2(s, out, out_or);
    dst[i] = out[0];
  }
}

}  // namespace kav
