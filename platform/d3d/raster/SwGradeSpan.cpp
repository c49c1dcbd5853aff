// Colour grading of a run of colours through a volume lookup
// (TSwPixelContext::GradeSpan), the row form of the grading kernels.
//
// With AVX2, a 32-bit volume with clamp addressing and a linear filter is
// looked up eight colours at a time, each channel in its own register and
// with the sampler's float operations in its order (down y, then across x,
// then between the two slices), so the colours equal Sample3D's. Texels come
// in pairs: the two neighbours along x are adjacent in memory, so one 8-byte
// load per (row, slice) and pixel reads both (no gathers: they are slow on
// AMD processors), and the lookup's alpha, which grading drops, is never
// converted. Groups with a coordinate outside the volume (a channel beyond
// 0..1 by a 31st or more, or NaN) and everything else go colour by colour
// through Sample3D; a run's last one to seven colours go as a group of eight
// padded with the last one.
#include <immintrin.h>

#include <algorithm>
#include <cstdlib>

#include "platform/d3d/SwShader.h"
#include "platform/d3d/raster/SwPixelState.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

constexpr float kGradeScale = 31.0f / 32.0f, kGradeOffset = 0.5f / 32.0f;

bool GradeAvx2() {
  static const bool on = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  return on;
}

bool VectorVolume(const TSwSamplerView& s) {
  return s.Kind == TSwSamplerView::Volume && (s.Format == TSwFormat::A8R8G8B8 || s.Format == TSwFormat::X8R8G8B8) &&
         s.AddressU == TSwAddress::Clamp && s.AddressV == TSwAddress::Clamp && s.AddressW == TSwAddress::Clamp &&
         (s.MagFilter == TSwFilter::Linear || s.MagFilter == TSwFilter::Anisotropic) && s.Level[0].Bits &&
         s.Level[0].Width >= 2 && s.Level[0].Height >= 2 && s.Depth >= 2 && s.Level[0].Pitch >= 4 * s.Level[0].Width &&
         s.SlicePitch >= s.Level[0].Pitch * s.Level[0].Height &&
         int64_t(s.SlicePitch) * s.Depth < (int64_t(1) << 31);
}

void GradeOne(const TSwPixelContext& ctx, int stage, float mix, TSwColorF& c) {
  const TSwColorF l =
      ctx.Sample3D(stage, c.r * kGradeScale + kGradeOffset, c.g * kGradeScale + kGradeOffset, c.b * kGradeScale + kGradeOffset);
  c = TSwColorF{c.b + (l.b - c.b) * mix, c.g + (l.g - c.g) * mix, c.r + (l.r - c.r) * mix, c.a};
}

KAV_AVX2 inline __m256 Lerp(__m256 a, __m256 b, __m256 t) { return _mm256_add_ps(a, _mm256_mul_ps(_mm256_sub_ps(b, a), t)); }

// Eight colours (32 floats, b g r a each) into channel registers and back.
KAV_AVX2 inline void Load8(const TSwColorF* c, __m256* ch) {
  const float* f = &c[0].b;
  // Rows of pixels 0/4, 1/5, 2/6, 3/7 in the two halves.
  const __m256 r04 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f)), _mm_loadu_ps(f + 16), 1);
  const __m256 r15 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f + 4)), _mm_loadu_ps(f + 20), 1);
  const __m256 r26 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f + 8)), _mm_loadu_ps(f + 24), 1);
  const __m256 r37 = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f + 12)), _mm_loadu_ps(f + 28), 1);
  const __m256 t0 = _mm256_unpacklo_ps(r04, r15), t1 = _mm256_unpackhi_ps(r04, r15);
  const __m256 t2 = _mm256_unpacklo_ps(r26, r37), t3 = _mm256_unpackhi_ps(r26, r37);
  ch[0] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  ch[1] = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  ch[2] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  ch[3] = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

KAV_AVX2 inline void Store8(const __m256* ch, TSwColorF* c) {
  const __m256 t0 = _mm256_unpacklo_ps(ch[0], ch[1]), t1 = _mm256_unpackhi_ps(ch[0], ch[1]);
  const __m256 t2 = _mm256_unpacklo_ps(ch[2], ch[3]), t3 = _mm256_unpackhi_ps(ch[2], ch[3]);
  const __m256 p0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0)), p1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  const __m256 p2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0)), p3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  float* f = &c[0].b;
  _mm256_storeu_ps(f, _mm256_permute2f128_ps(p0, p1, 0x20));
  _mm256_storeu_ps(f + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
  _mm256_storeu_ps(f + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
  _mm256_storeu_ps(f + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
}

// Two 8-byte pieces at byte offsets a and b of `base` in one register.
KAV_AVX2 inline __m128i Pair(const uint8_t* base, int32_t a, int32_t b) {
  const __m128i lo = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + a));
  return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(lo), reinterpret_cast<const double*>(base + b)));
}

// Blue, green and red of eight texels as the sampler converts them.
struct TRgb8 {
  __m256 c[3];
};

KAV_AVX2 inline TRgb8 Channels(__m256i px) {
  const __m256 inv = _mm256_set1_ps(kSwInv255);
  // Byte k of each texel alone in its lane (the shuffle indexes bytes
  // within each 16-byte half).
  const __m256i at = _mm256_setr_epi32(0, 4, 8, 12, 0, 4, 8, 12);
  TRgb8 t;
  for (int k = 0; k < 3; ++k) {
    const __m256i c = _mm256_shuffle_epi8(px, _mm256_add_epi32(at, _mm256_set1_epi32(int(0x80808000u) + k)));
    t.c[k] = _mm256_mul_ps(_mm256_cvtepi32_ps(c), inv);
  }
  return t;
}

// The x neighbours of eight pixels on one (row, slice): offsets `off` (bytes,
// at the pair's first texel), `last` lanes whose left texel is the pair's
// second (the column clamped at the right edge).
KAV_AVX2 inline void Neighbours(const uint8_t* base, const int32_t* off, __m256 last, TRgb8& left, TRgb8& right) {
  // Pixels 0, 1, 4, 5 and 2, 3, 6, 7, so that the shuffles below give the
  // texels in pixel order.
  const __m256i a = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(base, off[0], off[1])), Pair(base, off[4], off[5]), 1);
  const __m256i b = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(base, off[2], off[3])), Pair(base, off[6], off[7]), 1);
  const __m256 first = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(2, 0, 2, 0));
  const __m256 second = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _MM_SHUFFLE(3, 1, 3, 1));
  left = Channels(_mm256_castps_si256(_mm256_blendv_ps(first, second, last)));
  right = Channels(_mm256_castps_si256(second));
}

// Grades colours [0, count) eight at a time; returns how many it did.
KAV_AVX2 int32_t GradeAvx2Run(const TSwSamplerView& s, float mix, TSwColorF* colors, int32_t count) {
  const TSwLevelView& lv = s.Level[0];
  const uint8_t* base = lv.Bits;
  const __m256 scale = _mm256_set1_ps(kGradeScale), offset = _mm256_set1_ps(kGradeOffset), half = _mm256_set1_ps(0.5f);
  const __m256 size[3] = {_mm256_set1_ps(float(lv.Width)), _mm256_set1_ps(float(lv.Height)), _mm256_set1_ps(float(s.Depth))};
  const __m256i top[3] = {_mm256_set1_epi32(lv.Width - 1), _mm256_set1_epi32(lv.Height - 1), _mm256_set1_epi32(s.Depth - 1)};
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i pitch = _mm256_set1_epi32(lv.Pitch), slice = _mm256_set1_epi32(s.SlicePitch), four = _mm256_set1_epi32(4);
  const __m256 m = _mm256_set1_ps(mix);
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m256 c[4];
    Load8(colors + i, c);
    // Coordinates: red along x, green along y, blue along z.
    const __m256 coord[3] = {c[2], c[1], c[0]};
    __m256 wt[3];
    __m256i ix[3];
    __m256i ok = _mm256_set1_epi32(-1);
    for (int a = 0; a < 3; ++a) {
      const __m256 sc = _mm256_sub_ps(_mm256_mul_ps(_mm256_add_ps(_mm256_mul_ps(coord[a], scale), offset), size[a]), half);
      const __m256 fl = _mm256_floor_ps(sc);
      wt[a] = _mm256_sub_ps(sc, fl);
      ix[a] = _mm256_cvttps_epi32(fl);  // NaN and huge values give INT_MIN and fail below
      // 0 <= ix <= top, compared unsigned.
      ok = _mm256_and_si256(ok, _mm256_cmpeq_epi32(_mm256_min_epu32(ix[a], top[a]), ix[a]));
    }
    if (_mm256_movemask_epi8(ok) != -1) break;
    // The pair's first column: one left of the last column there, where both
    // neighbours are the last texel (the clamp).
    const __m256i at_last = _mm256_cmpeq_epi32(ix[0], top[0]);
    const __m256i px = _mm256_sub_epi32(ix[0], _mm256_and_si256(at_last, one));
    const __m256i y1 = _mm256_min_epi32(_mm256_add_epi32(ix[1], one), top[1]);
    const __m256i z1 = _mm256_min_epi32(_mm256_add_epi32(ix[2], one), top[2]);
    const __m256i xo = _mm256_mullo_epi32(px, four);
    const __m256i yo[2] = {_mm256_mullo_epi32(ix[1], pitch), _mm256_mullo_epi32(y1, pitch)};
    const __m256i zo[2] = {_mm256_mullo_epi32(ix[2], slice), _mm256_mullo_epi32(z1, slice)};
    const __m256 last = _mm256_castsi256_ps(at_last);
    __m256 sl[2][3];
    for (int z = 0; z < 2; ++z) {
      TRgb8 left[2], right[2];
      for (int y = 0; y < 2; ++y) {
        alignas(32) int32_t off[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(off), _mm256_add_epi32(_mm256_add_epi32(zo[z], yo[y]), xo));
        Neighbours(base, off, last, left[y], right[y]);
      }
      for (int k = 0; k < 3; ++k)
        sl[z][k] = Lerp(Lerp(left[0].c[k], left[1].c[k], wt[1]), Lerp(right[0].c[k], right[1].c[k], wt[1]), wt[0]);
    }
    for (int k = 0; k < 3; ++k) {
      const __m256 l = Lerp(sl[0][k], sl[1][k], wt[2]);
      c[k] = _mm256_add_ps(c[k], _mm256_mul_ps(_mm256_sub_ps(l, c[k]), m));
    }
    Store8(c, colors + i);
  }
  return i;
}

}  // namespace

void TSwPixelContext::GradeSpan(int stage, float mix, TSwColorF* colors, int32_t count) const {
  int32_t i = 0;
  if (stage >= 0 && stage < kSwMaxStages && GradeAvx2() && VectorVolume(state_->Samplers[stage])) {
    const TSwSamplerView& s = state_->Samplers[stage];
    while (i < count) {
      i += GradeAvx2Run(s, mix, colors + i, count - i);
      if (i + 8 > count) break;
      // A group with a far-off coordinate, colour by colour.
      for (int32_t e = i + 8; i < e; ++i) GradeOne(*this, stage, mix, colors[i]);
    }
    if (i < count) {
      // The last one to seven colours, padded to eight with the last one.
      TSwColorF t[8];
      for (int32_t j = 0; j < 8; ++j) t[j] = colors[std::min(i + j, count - 1)];
      if (GradeAvx2Run(s, mix, t, 8) == 8) {
        std::copy_n(t, count - i, colors + i);
        i = count;
      }
    }
  }
  for (; i < count; ++i) GradeOne(*this, stage, mix, colors[i]);
}

}  // namespace kav
