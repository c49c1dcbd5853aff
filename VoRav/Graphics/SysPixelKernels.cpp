#include "VoRav/Graphics/SysPixelKernels.h"

#include <cstring>
#include <initializer_list>

namespace kav {

const uint32_t* UnpremultiplyTable() {
  static const struct TTable {
    uint32_t v[256];
    TTable() {
      v[0] = 256;
      for (uint32_t a = 1; a < 256; ++a) v[a] = 65280 / a;
    }
  } table;
  return table.v;
}

namespace kernels {

void ExpandRGBScalar(uint8_t* dst, const uint8_t* src, size_t count) {
  for (size_t i = 0; i < count; ++i, dst += 4, src += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    dst[3] = 255;
  }
}

void PremultiplyShiftScalar(uint8_t* dst, const uint8_t* src, size_t count) {
  for (size_t i = 0; i < count; ++i, dst += 4, src += 4) {
    const uint32_t a = src[3];
    if (a == 255) {
      std::memmove(dst, src, 4);
    } else {
      dst[0] = uint8_t(src[0] * a >> 8);
      dst[1] = uint8_t(src[1] * a >> 8);
      dst[2] = uint8_t(src[2] * a >> 8);
      dst[3] = uint8_t(a);
    }
  }
}

void PremultiplyExactScalar(uint8_t* dst, const uint8_t* src, size_t count) {
  for (size_t i = 0; i < count; ++i, dst += 4, src += 4) {
    const uint32_t a = src[3];
    dst[0] = uint8_t(src[0] * a / 255);
    dst[1] = uint8_t(src[1] * a / 255);
    dst[2] = uint8_t(src[2] * a / 255);
    dst[3] = uint8_t(a);
  }
}

void UnpremultiplyScalar(uint8_t* dst, const uint8_t* src, size_t count, uint32_t fill) {
  const uint32_t* table = UnpremultiplyTable();
  for (size_t i = 0; i < count; ++i, dst += 4, src += 4) {
    const uint32_t a = src[3];
    if (a == 0) {
      std::memcpy(dst, &fill, 4);
      continue;
    }
    const uint32_t k = table[a];
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = src[c] * k >> 8;
      dst[c] = uint8_t(v > 255 ? 255 : v);
    }
    dst[3] = uint8_t(a);
  }
}

template <int kBpp>
void HalveRowScalar(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0, size_t count) {
  for (size_t i = 0; i < count; ++i, dst += kBpp) {
    const size_t s = (2 * (x0 + i) - 1) * kBpp;
    for (int c = 0; c < kBpp; ++c) {
      const size_t l = s + c, m = l + kBpp, r = m + kBpp;
      const uint32_t sum = r0[l] + 2u * r0[m] + r0[r] + 2u * (r1[l] + 2u * r1[m] + r1[r]) + r2[l] + 2u * r2[m] + r2[r];
      dst[c] = uint8_t(sum >> 4);
    }
  }
}

void HalveRow24Scalar(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0, size_t count) {
  HalveRowScalar<3>(dst, r0, r1, r2, x0, count);
}
void HalveRow32Scalar(uint8_t* dst, const uint8_t* r0, const uint8_t* r1, const uint8_t* r2, size_t x0, size_t count) {
  HalveRowScalar<4>(dst, r0, r1, r2, x0, count);
}

void CrossFadeRowScalar(uint8_t* dst, const uint8_t* a, const uint8_t* b, int32_t weight, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) dst[i] = uint8_t(b[i] + (((int32_t(a[i]) - b[i]) * weight) >> 8));
}

void StretchRow32Scalar(uint8_t* dst, const uint8_t* top, const uint8_t* bottom, const int32_t* col,
                        const int32_t* next, const uint32_t* frac, uint32_t fy, size_t count) {
  const uint32_t wt = 0x10000 - fy, wb = fy + 1;
  for (size_t i = 0; i < count; ++i, dst += 4) {
    const uint32_t fx = frac[i];
    const uint32_t tr = uint32_t((uint64_t(wt) * fx) >> 16), tl = wt - tr;
    const uint32_t br = uint32_t((uint64_t(wb) * fx) >> 16), bl = wb - br;
    const uint8_t* p00 = top + size_t(col[i]) * 4;
    const uint8_t* p01 = top + size_t(next[i]) * 4;
    const uint8_t* p10 = bottom + size_t(col[i]) * 4;
    const uint8_t* p11 = bottom + size_t(next[i]) * 4;
    for (int c = 0; c < 4; ++c) dst[c] = uint8_t((p00[c] * tl + p01[c] * tr + p10[c] * bl + p11[c] * br) >> 16);
  }
}

}  // namespace kernels

namespace {

const TPixelKernels kScalarKernels = {
    TSimdLevel::Scalar,
    kernels::ExpandRGBScalar,
    kernels::PremultiplyShiftScalar,
    kernels::PremultiplyExactScalar,
    kernels::UnpremultiplyScalar,
    kernels::HalveRow24Scalar,
    kernels::HalveRow32Scalar,
    kernels::CrossFadeRowScalar,
    kernels::StretchRow32Scalar,
};

bool CpuHas(TSimdLevel level) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (level) {
    case TSimdLevel::Scalar: return true;
    case TSimdLevel::SSE2: return __builtin_cpu_supports("sse2");
    case TSimdLevel::AVX2: return __builtin_cpu_supports("avx2");
  }
  return false;
#else
  return level == TSimdLevel::Scalar;
#endif
}

}  // namespace

const TPixelKernels* PixelKernelsFor(TSimdLevel level) {
  if (!CpuHas(level)) return nullptr;
  switch (level) {
    case TSimdLevel::Scalar: return &kScalarKernels;
#if defined(__x86_64__) || defined(__i386__)
    case TSimdLevel::SSE2: return &kernels::kSSE2Kernels;
    case TSimdLevel::AVX2: return &kernels::kAVX2Kernels;
#else
    default: return nullptr;
#endif
  }
  return nullptr;
}

const TPixelKernels& PixelKernels() {
  static const TPixelKernels* best = [] {
    for (TSimdLevel l : {TSimdLevel::AVX2, TSimdLevel::SSE2})
      if (const TPixelKernels* k = PixelKernelsFor(l)) return k;
    return &kScalarKernels;
  }();
  return *best;
}

}  // namespace kav
