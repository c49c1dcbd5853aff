// SSE2 helpers shared by the vector fast paths: one pixel as four floats in
// memory order (b, g, r, a), converted exactly as the reference converts.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "platform/d3d/raster/SwSampler.h"

namespace kav {

inline __m128 SwUnpack(uint32_t px) {
  __m128i z = _mm_setzero_si128();
  __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(px)), z), z);
  return _mm_mul_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(kSwInv255));
}

inline __m128 SwClamp01(__m128 v) { return _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(1.0f)); }

inline uint32_t SwPack(__m128 v) {
  __m128i i = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(SwClamp01(v), _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
  i = _mm_packs_epi32(i, i);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(i, i)));
}

inline __m128 SwLerp(__m128 a, __m128 b, __m128 t) { return _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), t)); }

// Blends clamped source `s` over destination `d`: factors k0 + k1 * source
// alpha; lanes of `max_mask` take the larger value instead.
inline __m128 SwBlend(__m128 s, __m128 d, __m128 k0, __m128 k1, __m128 l0, __m128 l1, __m128 max_mask) {
  __m128 sa = _mm_shuffle_ps(s, s, _MM_SHUFFLE(3, 3, 3, 3));
  __m128 sf = _mm_add_ps(k0, _mm_mul_ps(k1, sa));
  __m128 df = _mm_add_ps(l0, _mm_mul_ps(l1, sa));
  __m128 add = _mm_add_ps(_mm_mul_ps(s, sf), _mm_mul_ps(d, df));
  return _mm_or_ps(_mm_and_ps(max_mask, _mm_max_ps(s, d)), _mm_andnot_ps(max_mask, add));
}

}  // namespace kav
