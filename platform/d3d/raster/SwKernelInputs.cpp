#include "platform/d3d/raster/SwKernelInputs.h"

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

}  // namespace

void SwEvalAffineRow(float* out, int32_t x0, float row, float a, int32_t n) {
  int32_t i = InputsAvx2() ? EvalAvx2<false>(out, x0, row, a, nullptr, n) : 0;
  for (; i < n; ++i) out[i] = row + a * float(x0 + i);
}

void SwEvalPerspectiveRow(float* out, int32_t x0, float row, float a, const float* iq, int32_t n) {
  int32_t i = InputsAvx2() ? EvalAvx2<true>(out, x0, row, a, iq, n) : 0;
  for (; i < n; ++i) out[i] = (row + a * float(x0 + i)) * iq[i];
}

}  // namespace kav
