#include "platform/d3d/raster/SwKernelIo.h"

#include <immintrin.h>

#include <cstdlib>

namespace kav {

namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

bool InputsAvx2() {
  static const bool on = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && !std::getenv("KAV_D3D_NO_AVX2");
  }();
  return on;
}

// Pixel centres x0 .. x0 + 7 as floats, exactly (|x| stays far below 2^24).
KAV_AVX2 inline __m256 Centres(int32_t x0) {
  return _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x0), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
}

template <bool kPersp>
KAV_AVX2 int32_t EvalAvx2(float* out, int32_t x0, float row, float a, const float* iq, int32_t n) {
  const __m256 r = _mm256_set1_ps(row), av = _mm256_set1_ps(a);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 v = _mm256_add_ps(r, _mm256_mul_ps(av, Centres(x0 + i)));
    if (kPersp) v = _mm256_mul_ps(v, _mm256_loadu_ps(iq + i));
    _mm256_storeu_ps(out + i, v);
  }
  return i;
}

// Whether every colour has alpha of at least 1 (clamped: exactly 1).
KAV_AVX2 bool AllOpaque(const TSwColorF* colors, int32_t count) {
  const __m256 one = _mm256_set1_ps(1.0f);
  const float* f = &colors[0].b;
  int32_t i = 0;
  for (; i + 2 <= count; i += 2) {  // two colours per register, alphas in lanes 3 and 7
    if ((_mm256_movemask_ps(_mm256_cmp_ps(_mm256_loadu_ps(f + 4 * i), one, _CMP_GE_OQ)) & 0x88) != 0x88) return false;
  }
  for (; i < count; ++i)
    if (!(colors[i].a >= 1.0f)) return false;
  return true;
}

}  // namespace

int32_t SwWriteKernelColors(const TSwColorF* colors, uint32_t* dst, int32_t count, const TSwSpanPlan& blend,
                            uint32_t out_or) {
  if (blend.Blend && InputsAvx2()) {
    bool one_zero = true;
    for (int l = 0; l < 4; ++l)
      one_zero = one_zero && blend.K0[l] + blend.K1[l] * 1.0f == 1.0f && blend.L0[l] + blend.L1[l] * 1.0f == 0.0f &&
                 !blend.MaxMask[l];
    if (one_zero && AllOpaque(colors, count)) {
      TSwSpanPlan plain = blend;
      plain.Blend = false;
      return SwWriteColorsAvx2(colors, dst, count, plain, out_or);
    }
  }
  return SwWriteColorsAvx2(colors, dst, count, blend, out_or);
}

void SwEvalAffineRow(float* out, int32_t x0, float row, float a, int32_t n) {
  int32_t i = InputsAvx2() ? EvalAvx2<false>(out, x0, row, a, nullptr, n) : 0;
  for (; i < n; ++i) out[i] = row + a * float(x0 + i);
}

void SwEvalPerspectiveRow(float* out, int32_t x0, float row, float a, const float* iq, int32_t n) {
  int32_t i = InputsAvx2() ? EvalAvx2<true>(out, x0, row, a, iq, n) : 0;
  for (; i < n; ++i) out[i] = (row + a * float(x0 + i)) * iq[i];
}

}  // namespace kav
