// SSE2 and AVX2 forms of the pixel kernels. Each handles whole vectors and
// leaves the remaining pixels to the scalar form, so results match it byte
// for byte. Functions carry target attributes and run only after the
// processor check in PixelKernelsFor.
#include "VoRav/Graphics/SysPixelKernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace kav::kernels {

namespace {

// Per alpha, four 16-bit multipliers: the high and low bytes of the
// un-premultiply factor for the three colour lanes; the alpha lane gets 1 and
// 0 so that it comes out unchanged.
struct TUnpremulLanes {
  uint64_t hi[256];
  uint64_t lo[256];
  TUnpremulLanes() {
    const uint32_t* t = UnpremultiplyTable();
    for (uint32_t a = 0; a < 256; ++a) {
      const uint64_t h = t[a] >> 8, l = t[a] & 0xFF;
      hi[a] = h | (h << 16) | (h << 32) | (uint64_t(1) << 48);
      lo[a] = l | (l << 16) | (l << 32);
    }
  }
};

const TUnpremulLanes& UnpremulLanes() {
  static const TUnpremulLanes lanes;
  return lanes;
}

// --- SSE2 ---

__attribute__((target("sse2"))) void ExpandRGBSSE2(uint8_t* dst, const uint8_t* src, size_t count) {
  const __m128i m0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
  const __m128i m1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
  const __m128i m2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
  const __m128i m3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  size_t i = 0;
  // A 16-byte load at pixel i reads up to pixel i + 5.
  for (; i + 6 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
    __m128i r = _mm_and_si128(v, m0);
    r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 1), m1));
    r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 2), m2));
    r = _mm_or_si128(r, _mm_and_si128(_mm_slli_si128(v, 3), m3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_or_si128(r, alpha));
  }
  ExpandRGBScalar(dst + 4 * i, src + 3 * i, count - i);
}

// c * a for the four bytes of two pixels in 16-bit lanes, alpha broadcast.
__attribute__((target("sse2"))) inline __m128i AlphaLanes(__m128i px16) {
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(px16, 0xFF), 0xFF);
}

template <bool kExact>
__attribute__((target("sse2"))) void PremultiplySSE2(uint8_t* dst, const uint8_t* src, size_t count) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i amask = _mm_set1_epi32(int32_t(0xFF000000u));
  const __m128i one = _mm_set1_epi16(1);
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    __m128i lo = _mm_unpacklo_epi8(v, zero);
    __m128i hi = _mm_unpackhi_epi8(v, zero);
    lo = _mm_mullo_epi16(lo, AlphaLanes(lo));
    hi = _mm_mullo_epi16(hi, AlphaLanes(hi));
    if constexpr (kExact) {
      // x / 255 = (x + 1 + (x >> 8)) >> 8 for x <= 65025.
      lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, one), _mm_srli_epi16(lo, 8)), 8);
      hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, one), _mm_srli_epi16(hi, 8)), 8);
    } else {
      lo = _mm_srli_epi16(lo, 8);
      hi = _mm_srli_epi16(hi, 8);
    }
    __m128i r = _mm_packus_epi16(lo, hi);
    r = _mm_or_si128(_mm_andnot_si128(amask, r), _mm_and_si128(amask, v));
    if constexpr (!kExact) {
      // Alpha 255 keeps the pixel as it is.
      const __m128i opaque = _mm_cmpeq_epi32(_mm_and_si128(v, amask), amask);
      r = _mm_or_si128(_mm_and_si128(opaque, v), _mm_andnot_si128(opaque, r));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), r);
  }
  if constexpr (kExact) PremultiplyExactScalar(dst + 4 * i, src + 4 * i, count - i);
  else PremultiplyShiftScalar(dst + 4 * i, src + 4 * i, count - i);
}

__attribute__((target("sse2"))) inline __m128i Min255(__m128i x) {
  return _mm_sub_epi16(x, _mm_subs_epu16(x, _mm_set1_epi16(255)));
}

__attribute__((target("sse2"))) void UnpremultiplySSE2(uint8_t* dst, const uint8_t* src, size_t count,
                                                        uint32_t fill) {
  const TUnpremulLanes& t = UnpremulLanes();
  const __m128i zero = _mm_setzero_si128();
  const __m128i amask = _mm_set1_epi32(int32_t(0xFF000000u));
  const __m128i fillv = _mm_set1_epi32(int32_t(fill));
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const uint8_t* s = src + 4 * i;
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i hk0 = _mm_set_epi64x(int64_t(t.hi[s[7]]), int64_t(t.hi[s[3]]));
    const __m128i lk0 = _mm_set_epi64x(int64_t(t.lo[s[7]]), int64_t(t.lo[s[3]]));
    const __m128i hk1 = _mm_set_epi64x(int64_t(t.hi[s[15]]), int64_t(t.hi[s[11]]));
    const __m128i lk1 = _mm_set_epi64x(int64_t(t.lo[s[15]]), int64_t(t.lo[s[11]]));
    const __m128i c0 = _mm_unpacklo_epi8(v, zero);
    const __m128i c1 = _mm_unpackhi_epi8(v, zero);
    const __m128i r0 = Min255(_mm_add_epi16(_mm_mullo_epi16(c0, hk0), _mm_srli_epi16(_mm_mullo_epi16(c0, lk0), 8)));
    const __m128i r1 = Min255(_mm_add_epi16(_mm_mullo_epi16(c1, hk1), _mm_srli_epi16(_mm_mullo_epi16(c1, lk1), 8)));
    __m128i r = _mm_packus_epi16(r0, r1);
    const __m128i clear = _mm_cmpeq_epi32(_mm_and_si128(v, amask), zero);
    r = _mm_or_si128(_mm_and_si128(clear, fillv), _mm_andnot_si128(clear, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), r);
  }
  UnpremultiplyScalar(dst + 4 * i, src + 4 * i, count - i, fill);
}

// Vertical 1-2-1 sums of four source pixels at `p` in rows r0..r2, as two
// vectors of 16-bit lanes (pixels 0-1 and 2-3).
__attribute__((target("sse2"))) inline void VSum4(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                                  size_t off, __m128i& lo, __m128i& hi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + off));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + off));
  const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r2 + off));
  lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(c, zero)),
                     _mm_slli_epi16(_mm_unpacklo_epi8(b, zero), 1));
  hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(c, zero)),
                     _mm_slli_epi16(_mm_unpackhi_epi8(b, zero), 1));
}

// The same for one source pixel (low half of the result).
__attribute__((target("sse2"))) inline __m128i VSum1(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                                     size_t off) {
  const __m128i zero = _mm_setzero_si128();
  int32_t a, b, c;
  std::memcpy(&a, r0 + off, 4);
  std::memcpy(&b, r1 + off, 4);
  std::memcpy(&c, r2 + off, 4);
  return _mm_add_epi16(
      _mm_add_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(a), zero), _mm_unpacklo_epi8(_mm_cvtsi32_si128(c), zero)),
      _mm_slli_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(b), zero), 1));
}

// Horizontal 1-2-1 of two destination pixels: E, M, R hold the left, middle
// and right vertical sums of each.
__attribute__((target("sse2"))) inline __m128i HSum(__m128i e, __m128i m, __m128i r) {
  return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(e, r), _mm_slli_epi16(m, 1)), 4);
}

__attribute__((target("sse2"))) void HalveRow32SSE2(uint8_t* dst, const uint8_t* r0, const uint8_t* r1,
                                                    const uint8_t* r2, size_t x0, size_t count) {
  size_t i = 0;
  // Four destination pixels read source pixels 2x - 1 .. 2x + 7.
  for (; i + 4 <= count; i += 4) {
    const size_t s = (2 * (x0 + i) - 1) * 4;
    __m128i a_lo, a_hi, b_lo, b_hi;
    VSum4(r0, r1, r2, s, a_lo, a_hi);       // pixels 2x-1, 2x | 2x+1, 2x+2
    VSum4(r0, r1, r2, s + 16, b_lo, b_hi);  // pixels 2x+3, 2x+4 | 2x+5, 2x+6
    const __m128i c = VSum1(r0, r1, r2, s + 32);  // pixel 2x+7
    const __m128i d01 = HSum(_mm_unpacklo_epi64(a_lo, a_hi), _mm_unpackhi_epi64(a_lo, a_hi),
                             _mm_unpacklo_epi64(a_hi, b_lo));
    const __m128i d23 = HSum(_mm_unpacklo_epi64(b_lo, b_hi), _mm_unpackhi_epi64(b_lo, b_hi),
                             _mm_unpacklo_epi64(b_hi, c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_packus_epi16(d01, d23));
  }
  HalveRow32Scalar(dst + 4 * i, r0, r1, r2, x0 + i, count - i);
}

__attribute__((target("sse2"))) void CrossFadeRowSSE2(uint8_t* dst, const uint8_t* a, const uint8_t* b,
                                                      int32_t weight, size_t bytes) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i wa = _mm_set1_epi16(int16_t(weight));
  const __m128i wb = _mm_set1_epi16(int16_t(256 - weight));
  size_t i = 0;
  // a * w + b * (256 - w) <= 65280 fits unsigned 16-bit lanes.
  for (; i + 16 <= bytes; i += 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(va, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpacklo_epi8(vb, zero), wb)), 8);
    const __m128i hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(va, zero), wa),
                                                    _mm_mullo_epi16(_mm_unpackhi_epi8(vb, zero), wb)), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
  }
  CrossFadeRowScalar(dst + i, a + i, b + i, weight, bytes - i);
}

// --- AVX2 ---

__attribute__((target("avx2"))) void ExpandRGBAVX2(uint8_t* dst, const uint8_t* src, size_t count) {
  const __m256i shuffle = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                           0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i alpha = _mm256_set1_epi32(int32_t(0xFF000000u));
  size_t i = 0;
  // Two 16-byte loads at pixels i and i + 4 read up to pixel i + 9.
  for (; i + 10 <= count; i += 8) {
    const uint8_t* s = src + 3 * i;
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 12)), 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), _mm256_or_si256(_mm256_shuffle_epi8(v, shuffle), alpha));
  }
  ExpandRGBSSE2(dst + 4 * i, src + 3 * i, count - i);
}

template <bool kExact>
__attribute__((target("avx2"))) void PremultiplyAVX2(uint8_t* dst, const uint8_t* src, size_t count) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i amask = _mm256_set1_epi32(int32_t(0xFF000000u));
  const __m256i one = _mm256_set1_epi16(1);
  const __m256i abcast = _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15,  //
                                          6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    __m256i lo = _mm256_unpacklo_epi8(v, zero);
    __m256i hi = _mm256_unpackhi_epi8(v, zero);
    lo = _mm256_mullo_epi16(lo, _mm256_shuffle_epi8(lo, abcast));
    hi = _mm256_mullo_epi16(hi, _mm256_shuffle_epi8(hi, abcast));
    if constexpr (kExact) {
      lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(lo, one), _mm256_srli_epi16(lo, 8)), 8);
      hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(hi, one), _mm256_srli_epi16(hi, 8)), 8);
    } else {
      lo = _mm256_srli_epi16(lo, 8);
      hi = _mm256_srli_epi16(hi, 8);
    }
    __m256i r = _mm256_packus_epi16(lo, hi);
    r = _mm256_blendv_epi8(r, v, amask);
    if constexpr (!kExact) r = _mm256_blendv_epi8(r, v, _mm256_cmpeq_epi32(_mm256_and_si256(v, amask), amask));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), r);
  }
  PremultiplySSE2<kExact>(dst + 4 * i, src + 4 * i, count - i);
}

__attribute__((target("avx2"))) void UnpremultiplyAVX2(uint8_t* dst, const uint8_t* src, size_t count,
                                                        uint32_t fill) {
  const TUnpremulLanes& t = UnpremulLanes();
  const __m256i zero = _mm256_setzero_si256();
  const __m256i amask = _mm256_set1_epi32(int32_t(0xFF000000u));
  const __m256i fillv = _mm256_set1_epi32(int32_t(fill));
  const __m256i max = _mm256_set1_epi16(255);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const uint8_t* s = src + 4 * i;
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    // unpacklo takes pixels 0, 1 (low lane) and 4, 5 (high lane).
    const __m256i hk0 = _mm256_set_epi64x(int64_t(t.hi[s[23]]), int64_t(t.hi[s[19]]), int64_t(t.hi[s[7]]),
                                          int64_t(t.hi[s[3]]));
    const __m256i lk0 = _mm256_set_epi64x(int64_t(t.lo[s[23]]), int64_t(t.lo[s[19]]), int64_t(t.lo[s[7]]),
                                          int64_t(t.lo[s[3]]));
    const __m256i hk1 = _mm256_set_epi64x(int64_t(t.hi[s[31]]), int64_t(t.hi[s[27]]), int64_t(t.hi[s[15]]),
                                          int64_t(t.hi[s[11]]));
    const __m256i lk1 = _mm256_set_epi64x(int64_t(t.lo[s[31]]), int64_t(t.lo[s[27]]), int64_t(t.lo[s[15]]),
                                          int64_t(t.lo[s[11]]));
    const __m256i c0 = _mm256_unpacklo_epi8(v, zero);
    const __m256i c1 = _mm256_unpackhi_epi8(v, zero);
    const __m256i r0 = _mm256_min_epu16(
        _mm256_add_epi16(_mm256_mullo_epi16(c0, hk0), _mm256_srli_epi16(_mm256_mullo_epi16(c0, lk0), 8)), max);
    const __m256i r1 = _mm256_min_epu16(
        _mm256_add_epi16(_mm256_mullo_epi16(c1, hk1), _mm256_srli_epi16(_mm256_mullo_epi16(c1, lk1), 8)), max);
    __m256i r = _mm256_packus_epi16(r0, r1);
    r = _mm256_blendv_epi8(r, fillv, _mm256_cmpeq_epi32(_mm256_and_si256(v, amask), zero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), r);
  }
  UnpremultiplySSE2(dst + 4 * i, src + 4 * i, count - i, fill);
}

__attribute__((target("avx2"))) void CrossFadeRowAVX2(uint8_t* dst, const uint8_t* a, const uint8_t* b,
                                                      int32_t weight, size_t bytes) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i wa = _mm256_set1_epi16(int16_t(weight));
  const __m256i wb = _mm256_set1_epi16(int16_t(256 - weight));
  size_t i = 0;
  for (; i + 32 <= bytes; i += 32) {
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(va, zero), wa),
                                                          _mm256_mullo_epi16(_mm256_unpacklo_epi8(vb, zero), wb)), 8);
    const __m256i hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(va, zero), wa),
                                                          _mm256_mullo_epi16(_mm256_unpackhi_epi8(vb, zero), wb)), 8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(lo, hi));
  }
  CrossFadeRowSSE2(dst + i, a + i, b + i, weight, bytes - i);
}

// Pixel a of `row` in lanes 0-3, pixel b in lanes 4-7, one channel per lane.
__attribute__((target("avx2"))) inline __m256i Taps(const uint8_t* row, int32_t a, int32_t b) {
  int32_t va, vb;
  std::memcpy(&va, row + size_t(a) * 4, 4);
  std::memcpy(&vb, row + size_t(b) * 4, 4);
  return _mm256_cvtepu8_epi32(_mm_insert_epi32(_mm_cvtsi32_si128(va), vb, 1));
}

// Two destination pixels per step in eight 32-bit lanes (pixel A in the low
// half, B in the high half).
__attribute__((target("avx2"))) void StretchRow32AVX2(uint8_t* dst, const uint8_t* top, const uint8_t* bottom,
                                                      const int32_t* col, const int32_t* next, const uint32_t* frac,
                                                      uint32_t fy, size_t count) {
  const __m256i wt = _mm256_set1_epi32(int32_t(0x10000 - fy));
  const __m256i wb = _mm256_set1_epi32(int32_t(fy + 1));
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  size_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const __m256i fx = _mm256_permutevar8x32_epi32(
        _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frac + i))), spread);
    // wt * fx < 2^32: the low 32 bits shifted logically are exact.
    const __m256i tr = _mm256_srli_epi32(_mm256_mullo_epi32(wt, fx), 16);
    const __m256i tl = _mm256_sub_epi32(wt, tr);
    const __m256i br = _mm256_srli_epi32(_mm256_mullo_epi32(wb, fx), 16);
    const __m256i bl = _mm256_sub_epi32(wb, br);
    __m256i sum = _mm256_mullo_epi32(Taps(top, col[i], col[i + 1]), tl);
    sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(Taps(top, next[i], next[i + 1]), tr));
    sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(Taps(bottom, col[i], col[i + 1]), bl));
    sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(Taps(bottom, next[i], next[i + 1]), br));
    sum = _mm256_srli_epi32(sum, 16);
    const __m128i lo = _mm256_castsi256_si128(sum), hi = _mm256_extracti128_si256(sum, 1);
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 4 * i), packed);
  }
  StretchRow32Scalar(dst + 4 * i, top, bottom, col + i, next + i, frac + i, fy, count - i);
}


// Vertical 1-2-1 of 32 bytes at `off` of the three rows, in 16-bit lanes:
// `lo` and `hi` hold the byte pairs of each 128-bit half as unpacked.
__attribute__((target("avx2"))) inline void VSum8(const uint8_t* r0, const uint8_t* r1, const uint8_t* r2,
                                                  size_t off, __m256i& lo, __m256i& hi) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + off));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + off));
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r2 + off));
  lo = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(c, zero)),
                        _mm256_slli_epi16(_mm256_unpacklo_epi8(b, zero), 1));
  hi = _mm256_add_epi16(_mm256_add_epi16(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(c, zero)),
                        _mm256_slli_epi16(_mm256_unpackhi_epi8(b, zero), 1));
}

// Eight destination pixels per step from the 17 source pixels 2x - 1 ..
// 2x + 15, as 16-bit vertical sums of 64 bits per pixel. Numbering those
// source pixels j = 0 .. 16, pixel k takes j = 2k, 2k + 1, 2k + 2.
__attribute__((target("avx2"))) void HalveRow32AVX2(uint8_t* dst, const uint8_t* r0, const uint8_t* r1,
                                                    const uint8_t* r2, size_t x0, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const size_t s = (2 * (x0 + i) - 1) * 4;
    __m256i a_lo, a_hi, b_lo, b_hi;
    VSum8(r0, r1, r2, s, a_lo, a_hi);       // j 0 1 | 4 5 and j 2 3 | 6 7
    VSum8(r0, r1, r2, s + 32, b_lo, b_hi);  // j 8 9 | 12 13 and j 10 11 | 14 15
    const __m256i c = _mm256_castsi128_si256(VSum1(r0, r1, r2, s + 64));  // j 16
    const __m256i ea = _mm256_unpacklo_epi64(a_lo, a_hi), ma = _mm256_unpackhi_epi64(a_lo, a_hi);  // j 0 2 | 4 6, 1 3 | 5 7
    const __m256i eb = _mm256_unpacklo_epi64(b_lo, b_hi), mb = _mm256_unpackhi_epi64(b_lo, b_hi);  // j 8 10 | 12 14, ...
    // The right neighbours: the even pixels one step on (j 2 4 | 6 8 and j 10 12 | 14 16).
    const __m256i ra = _mm256_alignr_epi8(_mm256_permute2x128_si256(ea, eb, 0x21), ea, 8);
    const __m256i rb = _mm256_alignr_epi8(_mm256_permute2x128_si256(eb, c, 0x21), eb, 8);
    const __m256i da = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(ea, ra), _mm256_slli_epi16(ma, 1)), 4);
    const __m256i db = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(eb, rb), _mm256_slli_epi16(mb, 1)), 4);
    // Packing interleaves the halves: k 0 1 4 5 | 2 3 6 7, put back in order.
    const __m256i out = _mm256_permute4x64_epi64(_mm256_packus_epi16(da, db), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), out);
  }
  HalveRow32SSE2(dst + 4 * i, r0, r1, r2, x0 + i, count - i);
}

// Four destination pixels per step. Each 128-bit half holds 16 source bytes
// from pixel 2x - 1 (the second half six pixels on), enough for two
// destination pixels; byte shuffles pick the left, middle and right taps of
// each of their six bytes into 16-bit lanes.
__attribute__((target("avx2"))) void HalveRow24AVX2(uint8_t* dst, const uint8_t* r0, const uint8_t* r1,
                                                    const uint8_t* r2, size_t x0, size_t count) {
  // Left and middle taps of each of the six bytes side by side, weighted 1
  // and 2 by one multiply-add; the right taps widened on their own.
  const __m256i em = _mm256_setr_epi8(0, 3, 1, 4, 2, 5, 6, 9, 7, 10, 8, 11, -1, -1, -1, -1, 0, 3, 1, 4, 2, 5, 6, 9, 7,
                                      10, 8, 11, -1, -1, -1, -1);
  const __m256i r = _mm256_setr_epi8(6, -1, 7, -1, 8, -1, 12, -1, 13, -1, 14, -1, -1, -1, -1, -1, 6, -1, 7, -1, 8, -1,
                                     12, -1, 13, -1, 14, -1, -1, -1, -1, -1);
  const __m256i w12 = _mm256_set1_epi16(0x0201);
  auto row = [&](const uint8_t* p) __attribute__((target("avx2"))) {
    const __m256i v = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    return _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(v, em), w12), _mm256_shuffle_epi8(v, r));
  };
  size_t i = 0;
  // The loads reach 28 bytes past the first tap; the caller only promises
  // the taps of `count` pixels, so the last pixels go to the scalar form.
  for (; i + 6 <= count; i += 4) {
    const size_t s = (2 * (x0 + i) - 1) * 3;
    const __m256i sum = _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_add_epi16(row(r0 + s), row(r2 + s)), _mm256_slli_epi16(row(r1 + s), 1)), 4);
    const __m256i bytes = _mm256_packus_epi16(sum, sum);  // six bytes at the start of each half
    // Eight bytes each: the second store covers the first's two spare bytes;
    // its own two land on the next pixel, written by the next step.
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * i), _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 3 * i + 6), _mm256_extracti128_si256(bytes, 1));
  }
  HalveRow24Scalar(dst + 3 * i, r0, r1, r2, x0 + i, count - i);
}

}  // namespace

const TPixelKernels kSSE2Kernels = {TSimdLevel::SSE2,     ExpandRGBSSE2,     PremultiplySSE2<false>,
                                    PremultiplySSE2<true>, UnpremultiplySSE2, HalveRow24Scalar,
                                    HalveRow32SSE2,        CrossFadeRowSSE2,  StretchRow32Scalar};
const TPixelKernels kAVX2Kernels = {TSimdLevel::AVX2,      ExpandRGBAVX2,     PremultiplyAVX2<false>,
                                    PremultiplyAVX2<true>, UnpremultiplyAVX2, HalveRow24AVX2,
                                    HalveRow32AVX2,        CrossFadeRowAVX2,  StretchRow32AVX2};

}  // namespace kav::kernels

#endif
