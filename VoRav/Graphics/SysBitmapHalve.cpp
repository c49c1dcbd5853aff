#include <algorithm>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysBitmapUtilsPriv.h"
#include "VoRav/Graphics/SysPixelKernels.h"

namespace kav {

namespace {

using detail::Clamp;

// One destination pixel from the 3 x 3 neighbourhood of (2x, 2y), clamped.
template <int kBpp>
void HalvePixelClamped(TSysBitmap* src, uint8_t* out, int32_t x, int32_t y) {
  static const int kWeight[3] = {1, 2, 1};
  const int32_t sw = src->Width() - 1, sh = src->Height() - 1;
  uint32_t sum[kBpp] = {};
  for (int j = 0; j < 3; ++j) {
    const uint8_t* row = src->Row(Clamp(2 * y + j - 1, 0, sh));
    for (int i = 0; i < 3; ++i) {
      const uint8_t* p = row + int64_t(Clamp(2 * x + i - 1, 0, sw)) * kBpp;
      const uint32_t w = uint32_t(kWeight[j] * kWeight[i]);
      for (int c = 0; c < kBpp; ++c) sum[c] += p[c] * w;
    }
  }
  for (int c = 0; c < kBpp; ++c) out[c] = uint8_t(sum[c] >> 4);
}

template <int kBpp>
bool Halve(TSysBitmap* src, TSysBitmap* dst) {
  detail::AssertDepth(src, kBpp * 8);
  detail::AssertDepth(dst, kBpp * 8);
  const int32_t dw = dst->Width(), dh = dst->Height();
  const int32_t w2 = std::min(dw, src->Width() / 2);
  const int32_t h2 = std::min(dh, src->Height() / 2);
  const float step = 1.0f / float(dh + h2);
  float done = 0.0f;
  auto progress = [&] {
    const bool go_on = src->NotifyProgress(done);
    done += step;
    return go_on;
  };
  const THalveRowProc interior = kBpp == 4 ? PixelKernels().HalveRow32 : PixelKernels().HalveRow24;
  // 1. The interior needs no clamping: 2x - 1 >= 1 and 2x + 1 < width.
  for (int32_t y = 1; y < h2; ++y) {
    if (!progress()) return false;
    if (w2 > 1)
      interior(dst->PixelAddress(1, y), src->Row(2 * y - 1), src->Row(2 * y), src->Row(2 * y + 1), 1, size_t(w2 - 1));
  }
  // 2. Row 0.
  if (h2 > 0) {
    if (!progress()) return false;
    for (int32_t x = 0; x < w2; ++x) HalvePixelClamped<kBpp>(src, dst->PixelAddress(x, 0), x, 0);
  }
  // 3. Column 0.
  if (w2 > 0)
    for (int32_t y = 1; y < h2; ++y) HalvePixelClamped<kBpp>(src, dst->PixelAddress(0, y), 0, y);
  // 4. The extra right column(s) of an odd width.
  for (int32_t y = 0; y < h2; ++y) {
    if (!progress()) return false;
    for (int32_t x = w2; x < dw; ++x) HalvePixelClamped<kBpp>(src, dst->PixelAddress(x, y), x, y);
  }
  // 5. The extra bottom row(s) of an odd height.
  for (int32_t y = h2; y < dh; ++y) {
    if (!progress()) return false;
    for (int32_t x = 0; x < dw; ++x) HalvePixelClamped<kBpp>(src, dst->PixelAddress(x, y), x, y);
  }
  return src->NotifyProgress(1.0f);
}

}  // namespace

bool HalveBitmap24(TSysBitmap* source, TSysBitmap* dest) { return Halve<3>(source, dest); }
bool HalveBitmap32(TSysBitmap* source, TSysBitmap* dest) { return Halve<4>(source, dest); }

}  // namespace kav
