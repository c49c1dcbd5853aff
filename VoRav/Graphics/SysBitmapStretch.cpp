#include <vector>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysBitmapUtilsPriv.h"
#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

namespace {

// Source position of each destination column or row in 16.16 fixed point:
// the step is ((source - 1) << 16) / destination, positions start at half a
// pixel. The pair (i, i + 1) stays inside the source (i + 1 is i itself on
// the last pixel).
struct TAxis {
  std::vector<int32_t> index, next;
  std::vector<uint32_t> frac;
  TAxis(int32_t src, int32_t dst) : index(size_t(dst)), next(size_t(dst)), frac(size_t(dst)) {
    const int64_t step = (int64_t(src - 1) << 16) / dst;
    int64_t pos = 0x8000;
    for (int32_t i = 0; i < dst; ++i, pos += step) {
      const int32_t k = detail::Clamp(int32_t(pos >> 16), 0, src - 1);
      index[size_t(i)] = k;
      next[size_t(i)] = k + 1 < src ? k + 1 : k;
      frac[size_t(i)] = uint32_t(pos & 0xFFFF);
    }
  }
};

template <int kBpp>
void Stretch(TSysBitmap* src, TSysBitmap* dst) {
  detail::AssertDepth(src, kBpp * 8);
  detail::AssertDepth(dst, kBpp * 8);
  if (src->Width() < 1 || src->Height() < 1 || dst->Width() < 1 || dst->Height() < 1) return;
  const TAxis cols(src->Width(), dst->Width());
  const TAxis rows(src->Height(), dst->Height());
  for (int32_t y = 0; y < dst->Height(); ++y) {
    const uint8_t* top = src->Row(rows.index[size_t(y)]);
    const uint8_t* bottom = src->Row(rows.next[size_t(y)]);
    const uint32_t fy = rows.frac[size_t(y)];
    const uint32_t wt = 0x10000 - fy, wb = fy + 1;
    uint8_t* d = dst->Row(y);
    if constexpr (kBpp == 4) {
      PixelKernels().StretchRow32(d, top, bottom, cols.index.data(), cols.next.data(), cols.frac.data(), fy,
                                  size_t(dst->Width()));
      continue;
    }
    for (int32_t x = 0; x < dst->Width(); ++x, d += kBpp) {
      const uint32_t fx = cols.frac[size_t(x)];
      const uint32_t tr = uint32_t((uint64_t(wt) * fx) >> 16), tl = wt - tr;
      const uint32_t br = uint32_t((uint64_t(wb) * fx) >> 16), bl = wb - br;
      const uint8_t* p00 = top + int64_t(cols.index[size_t(x)]) * kBpp;
      const uint8_t* p01 = top + int64_t(cols.next[size_t(x)]) * kBpp;
      const uint8_t* p10 = bottom + int64_t(cols.index[size_t(x)]) * kBpp;
      const uint8_t* p11 = bottom + int64_t(cols.next[size_t(x)]) * kBpp;
      for (int c = 0; c < kBpp; ++c)
        d[c] = uint8_t((uint64_t(p00[c]) * tl + uint64_t(p01[c]) * tr + uint64_t(p10[c]) * bl +
                        uint64_t(p11[c]) * br) >> 16);
    }
  }
}

}  // namespace

void StretchBilinear24(TSysBitmap* source, TSysBitmap* dest) { Stretch<3>(source, dest); }
void StretchBilinear32(TSysBitmap* source, TSysBitmap* dest) { Stretch<4>(source, dest); }

}  // namespace kav
