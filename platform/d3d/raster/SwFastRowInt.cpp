// The 16-bit rectangle kernel: four pixels per AVX2 register, channels in
// Q15 (0..32767 for 0..1), rounding multiplies (vpmulhrsw) throughout.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "platform/d3d/raster/SwFastRow.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

size_t SwQuadScratchFloats(const TSwQuadPlan& p) {
  size_t f = size_t(p.ColMax - p.ColMin + 2) * 4;
  size_t i = (size_t(p.IntSpan) + 16) * 2;  // four int16 per column
  return std::max(f, i) + 16;
}

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

KAV_AVX2 inline int16_t Q15(float v) { return int16_t(std::clamp(int32_t(v * 32767.0f + 0.5f), 0, 32767)); }

// Bytes (as 16-bit lanes) to Q15: b * 128 + b / 2, exact at 0 and 255.
KAV_AVX2 inline __m256i ToQ15(__m256i b) { return _mm256_or_si256(_mm256_slli_epi16(b, 7), _mm256_srli_epi16(b, 1)); }

KAV_AVX2 inline __m256i Lanes(const int16_t* v4) {
  int64_t q;
  std::memcpy(&q, v4, 8);
  return _mm256_set1_epi64x(q);
}

template <bool kLerpX, bool kModulate, bool kBlend, bool kMax>
KAV_AVX2 void Pixels(const TSwQuadPlan& p, uint32_t* dst, int32_t n, const int16_t* cols, const int16_t* m4,
                     const int16_t* a4, const int16_t* k0, const int16_t* k1, const int16_t* l0, const int16_t* l1,
                     const int16_t* max4, uint32_t out_or) {
  const int32_t* ix = p.IntIx.data();
  const int16_t* w4 = p.IntW4.data();
  const __m256i M = Lanes(m4), A = Lanes(a4), K0 = Lanes(k0), K1 = Lanes(k1), L0 = Lanes(l0), L1 = Lanes(l1);
  const __m256i MaxMask = Lanes(max4);
  const __m128i or4 = _mm_set1_epi32(int(out_or));
  const __m256i k255 = _mm256_set1_epi16(255);
  // Four pixels from their left columns `px` and weights `pw`.
  auto shade4 = [&](const int32_t* px, const int16_t* pw, __m128i d4) KAV_AVX2 {
    auto one = [&](int j) KAV_AVX2 {  // 16 bytes at the column: the left and right texels
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + 4 * (px[j] - p.IntIxMin)));
    };
    __m256i x02 = _mm256_inserti128_si256(_mm256_castsi128_si256(one(0)), one(2), 1);
    __m256i x13 = _mm256_inserti128_si256(_mm256_castsi128_si256(one(1)), one(3), 1);
    __m256i c = _mm256_unpacklo_epi64(x02, x13);
    if constexpr (kLerpX) {
      __m256i b = _mm256_unpackhi_epi64(x02, x13);
      __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pw));
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
  int32_t i = 0;
  for (; i + 3 < n; i += 4) {
    __m128i d4 = kBlend ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i)) : _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), shade4(ix + i, w4 + 4 * i, d4));
  }
  if (i < n) {
    // The last one to three pixels, padded to four by repeating the last.
    const int32_t k = n - i;
    int32_t tix[4];
    alignas(32) int16_t tw[16];
    alignas(16) uint32_t tail[4] = {0, 0, 0, 0};
    for (int32_t j = 0; j < 4; ++j) {
      const int32_t s = i + std::min(j, k - 1);
      tix[j] = ix[s];
      std::memcpy(tw + 4 * j, w4 + 4 * s, 8);
    }
    std::memcpy(tail, dst + i, size_t(k) * 4);
    _mm_store_si128(reinterpret_cast<__m128i*>(tail), shade4(tix, tw, _mm_load_si128(reinterpret_cast<const __m128i*>(tail))));
    std::memcpy(dst + i, tail, size_t(k) * 4);
  }
}

// The stage and the blend over the pixels of row `dst` from the column table.
KAV_AVX2 void Shade(const TSwQuadPlan& p, uint32_t* dst, const int16_t* cols) {
  const int32_t n = p.X1 - p.X0;
  const uint32_t out_or = p.TargetX8 ? 0xFF000000u : 0u;
  int16_t m4[4], a4[4], k0[4], k1[4], l0[4], l1[4], max4[4];
  bool modulate = false, any_max = false;
  for (int l = 0; l < 4; ++l) {
    m4[l] = Q15(p.M[l]);
    a4[l] = Q15(p.A[l]);
    modulate |= p.M[l] != 1.0f || p.A[l] != 0.0f;
    k0[l] = Q15(p.K0[l]);
    k1[l] = int16_t(p.K1[l]);
    l0[l] = Q15(p.L0[l]);
    l1[l] = int16_t(p.L1[l]);
    max4[l] = p.MaxMask[l] ? int16_t(-1) : int16_t(0);
    any_max |= p.MaxMask[l] != 0;
  }
  const bool lerp_x = p.Bilinear && !p.NoWx;
#define KAV_PIXELS(LX, MOD, BL, MX) Pixels<LX, MOD, BL, MX>(p, dst, n, cols, m4, a4, k0, k1, l0, l1, max4, out_or)
  if (!p.Blend) {
    if (lerp_x) modulate ? KAV_PIXELS(true, true, false, false) : KAV_PIXELS(true, false, false, false);
    else modulate ? KAV_PIXELS(false, true, false, false) : KAV_PIXELS(false, false, false, false);
  } else if (!any_max) {
    if (lerp_x) modulate ? KAV_PIXELS(true, true, true, false) : KAV_PIXELS(true, false, true, false);
    else modulate ? KAV_PIXELS(false, true, true, false) : KAV_PIXELS(false, false, true, false);
  } else {
    if (lerp_x) modulate ? KAV_PIXELS(true, true, true, true) : KAV_PIXELS(true, false, true, true);
    else modulate ? KAV_PIXELS(false, true, true, true) : KAV_PIXELS(false, false, true, true);
  }
#undef KAV_PIXELS
}

// x / 255 rounded, for 16-bit lanes up to 255 * 255.
KAV_AVX2 inline __m256i Div255(__m256i x) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(x, _mm256_set1_epi16(128)), _mm256_set1_epi16(257));
}

// A 1:1 row of unchanged texels `s` blended onto the target in whole bytes
// (ByteBlend 1: s + d * (255 - sa) / 255; 2: (s * sa + d * (255 - sa)) / 255,
// rounded and saturated). These are exact: the reference's value is never
// within its float error of a rounding boundary, as x / 255 for whole x lies
// at least 1/510 from one.
template <int kKind>
KAV_AVX2 void ByteBlendRow(uint32_t* dst, const uint32_t* s, int32_t n, uint32_t tex_or, uint32_t out_or) {
  const __m256i sor = _mm256_set1_epi32(int(tex_or)), dor = _mm256_set1_epi32(int(out_or));
  const __m256i k255 = _mm256_set1_epi16(255), zero = _mm256_setzero_si256();
  auto eight = [&](__m256i sv, __m256i dv) KAV_AVX2 {
    sv = _mm256_or_si256(sv, sor);
    dv = _mm256_or_si256(dv, dor);
    __m256i out[2];
    for (int h = 0; h < 2; ++h) {
      __m256i s16 = h ? _mm256_unpackhi_epi8(sv, zero) : _mm256_unpacklo_epi8(sv, zero);
      __m256i d16 = h ? _mm256_unpackhi_epi8(dv, zero) : _mm256_unpacklo_epi8(dv, zero);
      __m256i sa = _mm256_shuffle_epi8(s16, _mm256_setr_epi8(6, 7, 6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15, 6, 7,
                                                               6, 7, 6, 7, 6, 7, 14, 15, 14, 15, 14, 15, 14, 15));
      __m256i x = _mm256_mullo_epi16(d16, _mm256_xor_si256(sa, k255));
      if constexpr (kKind == 2) x = _mm256_add_epi16(x, _mm256_mullo_epi16(s16, sa));
      out[h] = Div255(x);
      if constexpr (kKind == 1) out[h] = _mm256_add_epi16(out[h], s16);
    }
    return _mm256_or_si256(_mm256_packus_epi16(out[0], out[1]), dor);
  };
  int32_t i = 0;
  for (; i + 7 < n; i += 8) {
    __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), eight(sv, dv));
  }
  if (i < n) {
    alignas(32) uint32_t ts[8] = {}, td[8] = {};
    std::memcpy(ts, s + i, size_t(n - i) * 4);
    std::memcpy(td, dst + i, size_t(n - i) * 4);
    _mm256_store_si256(reinterpret_cast<__m256i*>(td), eight(_mm256_load_si256(reinterpret_cast<const __m256i*>(ts)),
                                                             _mm256_load_si256(reinterpret_cast<const __m256i*>(td))));
    std::memcpy(dst + i, td, size_t(n - i) * 4);
  }
}

// Rows that are 1:1 copies of texel row `row0`/`row1` (weight within the snap
// distance) and need no arithmetic beyond whole bytes; false otherwise.
KAV_AVX2 bool ByteRow(const TSwQuadPlan& p, int32_t y, int32_t row0, int32_t row1, float wy, float* scratch) {
  if (!(wy < kSwSnapWeight || wy > 1.0f - kSwSnapWeight)) return false;
  if (p.Copy) {
    SwQuadRowSse2(p, y, scratch);
    return true;
  }
  if (!p.ByteBlend) return false;
  const int32_t row = wy >= 0.5f ? row1 : row0;
  const uint32_t* s = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row) * p.TexPitch) + p.CopyCol;
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const uint32_t tex_or = p.TexX8 ? 0xFF000000u : 0u, out_or = p.TargetX8 ? 0xFF000000u : 0u;
  if (p.ByteBlend == 1) ByteBlendRow<1>(dst, s, p.X1 - p.X0, tex_or, out_or);
  else ByteBlendRow<2>(dst, s, p.X1 - p.X0, tex_or, out_or);
  return true;
}

}  // namespace

KAV_AVX2 void SwQuadRowIntAvx2(const TSwQuadPlan& p, int32_t y, float* scratch) {
  int32_t row0, row1;
  float wy;
  SwQuadRowSource(p, y, row0, row1, wy);
  if (ByteRow(p, y, row0, row1, wy, scratch)) return;
  if (!(wy >= 0.0f && wy <= 1.0f)) {  // an invalid row coordinate: the float kernel copes
    SwQuadRowAvx2(p, y, scratch);
    return;
  }
  uint32_t* dst = reinterpret_cast<uint32_t*>(p.Target + int64_t(y) * p.TargetPitch) + p.X0;
  const __m256i tex_or = _mm256_set1_epi32(p.TexX8 ? int(0xFF000000u) : 0);
  const uint32_t* r0 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row0) * p.TexPitch);
  const uint32_t* r1 = reinterpret_cast<const uint32_t*>(p.Tex + int64_t(row1) * p.TexPitch);
  int16_t* cols = reinterpret_cast<int16_t*>(scratch);
  // Column pass: the two texel rows, addressed, blended by the row weight.
  const __m256i W = _mm256_set1_epi16(int16_t(std::min(32767, int32_t(wy * 32768.0f + 0.5f))));
  const bool lerp = wy != 0.0f;
  const int32_t* addr = p.IntCol.data();
  for (int32_t j = 0; j < p.IntSpan; j += 8) {
    __m256i t0, t1;
    int32_t c = addr[j];
    if (j + 7 < p.IntSpan && addr[j + 7] == c + 7) {
      t0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + c));
      t1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + c));
    } else {
      alignas(32) int32_t idx[8];
      for (int k = 0; k < 8; ++k) idx[k] = addr[std::min(j + k, p.IntSpan - 1)];
      __m256i vi = _mm256_load_si256(reinterpret_cast<const __m256i*>(idx));
      t0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(r0), vi, 4);
      t1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(r1), vi, 4);
    }
    // Quadwords reordered so that each half's byte pairs below hold columns
    // 0-3 and 4-7; a byte b paired with itself is b * 257, which halved is
    // its Q15 value (ToQ15) in one step.
    t0 = _mm256_permute4x64_epi64(_mm256_or_si256(t0, tex_or), 0xD8);
    t1 = _mm256_permute4x64_epi64(_mm256_or_si256(t1, tex_or), 0xD8);
    for (int half = 0; half < 2; ++half) {
      __m256i a = _mm256_srli_epi16(half ? _mm256_unpackhi_epi8(t0, t0) : _mm256_unpacklo_epi8(t0, t0), 1);
      if (lerp) {
        __m256i b = _mm256_srli_epi16(half ? _mm256_unpackhi_epi8(t1, t1) : _mm256_unpacklo_epi8(t1, t1), 1);
        a = _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), W));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cols + 4 * (j + 4 * half)), a);
    }
  }
  Shade(p, dst, cols);
}

}  // namespace kav
