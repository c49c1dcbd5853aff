// Rows of the 16-bit rectangle kernel where pixel i reads texel column
// first + i (and first + i + 1 where its weight needs it): pictures drawn
// 1:1 with a colour, a constant (the texture-times-constant kernel) or a
// blend, however their coordinates round. SwQuadRowIntAvx2 first widens the
// two texel rows into a column table and then gathers each pixel's columns
// from it; here the texels are widened straight from the rows, four pixels
// per step, through the same Q15 operations in the same order, so the bytes
// are the same.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "platform/d3d/raster/SwFastRowDirect.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

// As the 16-bit kernel converts its constants.
inline int16_t Q15(float v) { return int16_t(std::clamp(int32_t(v * 32767.0f + 0.5f), 0, 32767)); }

KAV_AVX2 inline __m256i Lanes(const int16_t* v4) {
  int64_t q;
  std::memcpy(&q, v4, 8);
  return _mm256_set1_epi64x(q);
}

// Bytes (as 16-bit lanes) to Q15: b * 128 + b / 2, which is b * 257 halved,
// the column table's value.
KAV_AVX2 inline __m256i ToQ15(__m256i b) { return _mm256_or_si256(_mm256_slli_epi16(b, 7), _mm256_srli_epi16(b, 1)); }

struct TConsts {
  int16_t M[4], A[4], K0[4], K1[4], L0[4], L1[4], Max[4];
};

// One row: texels of rows r0 and r1 (blended by W when kLerpY) at
// consecutive columns from the row start, each pixel's texel and its right
// neighbour blended by its weight (kLerpX, weights w4 as the plan's IntW4;
// the last pixel's neighbour is the next column when `last_next`, else
// itself).
template <bool kLerpY, bool kLerpX, bool kModulate, bool kBlend, bool kMax>
KAV_AVX2 void Row(const uint32_t* r0, const uint32_t* r1, __m256i W, const int16_t* w4, bool last_next, uint32_t* dst,
                  int32_t n, const TConsts& k, uint32_t tex_or, uint32_t out_or) {
  const __m256i M = Lanes(k.M), A = Lanes(k.A), K0 = Lanes(k.K0), K1 = Lanes(k.K1), L0 = Lanes(k.L0), L1 = Lanes(k.L1);
  const __m256i MaxMask = Lanes(k.Max);
  const __m128i or4 = _mm_set1_epi32(int(out_or)), tor4 = _mm_set1_epi32(int(tex_or));
  const __m256i k255 = _mm256_set1_epi16(255);
  // Four columns as the column pass makes them: Q15, down the two rows.
  auto column4 = [&](__m128i a4, __m128i b4) KAV_AVX2 {
    __m256i a = ToQ15(_mm256_cvtepu8_epi16(_mm_or_si128(a4, tor4)));
    if constexpr (kLerpY) {
      const __m256i b = ToQ15(_mm256_cvtepu8_epi16(_mm_or_si128(b4, tor4)));
      a = _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), W));
    }
    return a;
  };
  // Four pixels from their texels (t0 rows r0/r1, t1 the right neighbours).
  auto shade4 = [&](__m128i t0a, __m128i t0b, __m128i t1a, __m128i t1b, const int16_t* pw, __m128i d4) KAV_AVX2 {
    __m256i c = column4(t0a, t0b);
    if constexpr (kLerpX) {
      const __m256i b = column4(t1a, t1b);
      const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pw));
      c = _mm256_add_epi16(c, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, c), w));
    }
    if constexpr (kModulate) c = _mm256_add_epi16(_mm256_mulhrs_epi16(c, M), A);
    if constexpr (kBlend) {
      __m256i d = ToQ15(_mm256_cvtepu8_epi16(_mm_or_si128(d4, or4)));
      __m256i sa = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(c, 0xFF), 0xFF);
      __m256i sf = _mm256_add_epi16(K0, _mm256_sign_epi16(sa, K1));
      __m256i df = _mm256_add_epi16(L0, _mm256_sign_epi16(sa, L1));
      __m256i add = _mm256_adds_epi16(_mm256_mulhrs_epi16(c, sf), _mm256_mulhrs_epi16(d, df));
      if constexpr (kMax) c = _mm256_blendv_epi8(add, _mm256_max_epi16(c, d), MaxMask);
      else c = add;
    }
    __m256i bytes = _mm256_packus_epi16(_mm256_mulhrs_epi16(c, k255), _mm256_setzero_si256());
    return _mm_or_si128(_mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)), or4);
  };
  auto load4 = [](const uint32_t* p) KAV_AVX2 { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  // The right neighbours of the last pixel may lie past the row's end: the
  // last group goes padded below.
  for (; i + 4 < n; i += 4) {
    const __m128i d4 = kBlend ? load4(dst + i) : zero;
    const __m128i t0a = load4(r0 + i), t0b = kLerpY ? load4(r1 + i) : zero;
    const __m128i t1a = kLerpX ? load4(r0 + i + 1) : zero, t1b = kLerpX && kLerpY ? load4(r1 + i + 1) : zero;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), shade4(t0a, t0b, t1a, t1b, w4 + 4 * i, d4));
  }
  if (i < n) {
    // The last one to four pixels, padded to four by repeating the last; a
    // right neighbour only where the weight needs it.
    const int32_t r = n - i;
    alignas(16) uint32_t a0[4], b0[4], a1[4], b1[4], td[4] = {0, 0, 0, 0};
    alignas(32) int16_t tw[16];
    for (int32_t j = 0; j < 4; ++j) {
      const int32_t s = i + std::min(j, r - 1);
      a0[j] = r0[s];
      b0[j] = r1[s];
      const bool right = kLerpX && w4[4 * s] != 0 && (s + 1 < n || last_next);
      a1[j] = right ? r0[s + 1] : a0[j];
      b1[j] = right ? r1[s + 1] : b0[j];
      std::memcpy(tw + 4 * j, w4 + 4 * s, 8);
    }
    std::memcpy(td, dst + i, size_t(r) * 4);
    auto ld = [](const uint32_t* p) KAV_AVX2 { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); };
    _mm_store_si128(reinterpret_cast<__m128i*>(td), shade4(ld(a0), ld(b0), ld(a1), ld(b1), tw, ld(td)));
    std::memcpy(dst + i, td, size_t(r) * 4);
  }
}

}  // namespace

bool SwQuadRowDirectUsable(const TSwQuadPlan& p) {
  if (!p.Tex || !p.IntUsable || p.Copy || p.ByteBlend) return false;
  const int32_t n = p.X1 - p.X0;
  if (n < 1 || int32_t(p.IntIx.size()) < n || int32_t(p.IntW4.size()) < 4 * n) return false;
  const bool lerp_x = p.Bilinear && !p.NoWx;
  const int32_t first = p.IntCol[size_t(p.IntIx[0] - p.IntIxMin)];
  if (first < 0 || first + n > p.TexW) return false;
  for (int32_t i = 0; i < n; ++i) {
    const size_t j = size_t(p.IntIx[size_t(i)] - p.IntIxMin);
    if (p.IntCol[j] != first + i) return false;
    // A weight that rounds to 0 leaves the texel as it is (c + mulhrs(d, 0)
    // is c): no right neighbour needed.
    // The last pixel's neighbour may be itself (clamped at the texture's
    // right edge).
    if (lerp_x && p.IntW4[size_t(i) * 4] != 0 && p.IntCol[j + 1] != first + i + 1 &&
        !(i == n - 1 && p.IntCol[j + 1] == first + i))
      return false;
  }
  return true;
}

KAV_AVX2 void SwQuadRowDirectAvx2(const TSwQuadPlan& p, int32_t y, float* scratch) {
  int32_t row0, row1;
  float wy;
  SwQuadRowSource(p, y, row0, row1, wy);
  if (!(wy >= 0.0f && wy <= 1.0f)) {  // an invalid row coordinate: the general kernel copes
    SwQuadRowIntAvx2(p, y, scratch);
    return;
  }
  const int32_t n = p.X1 - p.X0, first = p.IntCol[size_t(p.IntIx[0] - p.IntIxMin)];
  const uint32_t* r0 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row0) * p.TexPitch) + first;
  const uint32_t* r1 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row1) * p.TexPitch) + first;
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const uint32_t out_or = p.TargetX8 ? 0xFF000000u : 0u, tex_or = p.TexX8 ? 0xFF000000u : 0u;
  // The row weight as the column pass rounds it; one that rounds to 0
  // leaves the first row's texels as they are (a + mulhrs(d, 0) is a).
  const int16_t wq = int16_t(std::min(32767, int32_t(wy * 32768.0f + 0.5f)));
  const __m256i W = _mm256_set1_epi16(wq);
  const bool lerp_y = wq != 0, lerp_x = p.Bilinear && !p.NoWx;
  TConsts k;
  bool modulate = false, any_max = false;
  for (int l = 0; l < 4; ++l) {
    k.M[l] = Q15(p.M[l]);
    k.A[l] = Q15(p.A[l]);
    modulate |= p.M[l] != 1.0f || p.A[l] != 0.0f;
    k.K0[l] = Q15(p.K0[l]);
    k.K1[l] = int16_t(p.K1[l]);
    k.L0[l] = Q15(p.L0[l]);
    k.L1[l] = int16_t(p.L1[l]);
    k.Max[l] = p.MaxMask[l] ? int16_t(-1) : int16_t(0);
    any_max |= p.MaxMask[l] != 0;
  }
  const int16_t* w4 = p.IntW4.data();
  const bool last_next = p.IntCol[size_t(p.IntIx[size_t(n - 1)] - p.IntIxMin) + 1] == first + n;
  const int kind = (lerp_y ? 16 : 0) | (lerp_x ? 8 : 0) | (modulate ? 4 : 0) | (p.Blend ? 2 : 0) | (p.Blend && any_max ? 1 : 0);
#define KAV_ROW(CASE, LY, LX, MOD, BL, MX) \
  case CASE: Row<LY, LX, MOD, BL, MX>(r0, r1, W, w4, last_next, dst, n, k, tex_or, out_or); break;
#define KAV_ROWS(BASE, LY, LX) \
  KAV_ROW(BASE + 0, LY, LX, false, false, false) KAV_ROW(BASE + 2, LY, LX, false, true, false) \
  KAV_ROW(BASE + 3, LY, LX, false, true, true) KAV_ROW(BASE + 4, LY, LX, true, false, false) \
  KAV_ROW(BASE + 6, LY, LX, true, true, false) KAV_ROW(BASE + 7, LY, LX, true, true, true)
  switch (kind) {
    KAV_ROWS(0, false, false)
    KAV_ROWS(8, false, true)
    KAV_ROWS(16, true, false)
    KAV_ROWS(24, true, true)
    default: SwQuadRowIntAvx2(p, y, scratch);
  }
#undef KAV_ROWS
#undef KAV_ROW
}

}  // namespace kav
