#include <algorithm>
#include <cstring>

#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysBitmapUtilsPriv.h"

namespace kav {

namespace {

template <int kBpp>
void SwapPixels(uint8_t* a, uint8_t* b) {
  uint8_t t[kBpp];
  std::memcpy(t, a, kBpp);
  std::memcpy(a, b, kBpp);
  std::memcpy(b, t, kBpp);
}

template <int kBpp>
bool Rotate180(TSysBitmap* b) {
  detail::AssertDepth(b, kBpp * 8);
  const int32_t w = b->Width(), h = b->Height();
  const float step = h > 0 ? 2.0f / float(h) : 0.0f;
  float done = 0.0f;
  for (int32_t i = 0, j = h - 1; i <= j; ++i, --j, done += step) {
    if (!b->NotifyProgress(done)) break;
    uint8_t* top = b->Row(i);
    uint8_t* bottom = b->Row(j);
    if (i < j) {
      for (int32_t x = 0; x < w; ++x) SwapPixels<kBpp>(top + int64_t(x) * kBpp, bottom + int64_t(w - 1 - x) * kBpp);
    } else {
      // The middle row of an odd height: swap its halves.
      for (int32_t x = 0, y = w - 1; x < y; ++x, --y) SwapPixels<kBpp>(top + int64_t(x) * kBpp, top + int64_t(y) * kBpp);
    }
  }
  return b->NotifyProgress(1.0f);
}

// Clockwise: destination (x, y) = source (y, h - 1 - x); counter-clockwise:
// destination (x, y) = source (w - 1 - y, x). Walks the source by rows.
template <int kBpp, bool kClockwise>
bool Rotate90(TSysBitmap* src, TSysBitmap* dst) {
  detail::AssertDepth(src, kBpp * 8);
  detail::AssertDepth(dst, kBpp * 8);
  KAV_ASSERT(dst->Width() == src->Height() && dst->Height() == src->Width());
  const int32_t w = src->Width(), h = src->Height();
  const float step = h > 0 ? 1.0f / float(h) : 0.0f;
  float done = 0.0f;
  for (int32_t sy = 0; sy < h; ++sy, done += step) {
    if (!src->NotifyProgress(done)) break;
    const uint8_t* s = src->Row(sy);
    for (int32_t sx = 0; sx < w; ++sx, s += kBpp) {
      const int32_t dx = kClockwise ? h - 1 - sy : sy;
      const int32_t dy = kClockwise ? sx : w - 1 - sx;
      std::memcpy(dst->PixelAddress(dx, dy), s, kBpp);
    }
  }
  return src->NotifyProgress(1.0f);
}

}  // namespace

bool RotateBitmap180Bpp32(TSysBitmap* bitmap) { return Rotate180<4>(bitmap); }
bool RotateBitmap180Bpp24(TSysBitmap* bitmap) { return Rotate180<3>(bitmap); }
bool RotateBitmap90CWBpp24(TSysBitmap* source, TSysBitmap* dest) { return Rotate90<3, true>(source, dest); }
bool RotateBitmap90CWBpp32(TSysBitmap* source, TSysBitmap* dest) { return Rotate90<4, true>(source, dest); }
bool RotateBitmap90CCWBpp24(TSysBitmap* source, TSysBitmap* dest) { return Rotate90<3, false>(source, dest); }
bool RotateBitmap90CCWBpp32(TSysBitmap* source, TSysBitmap* dest) { return Rotate90<4, false>(source, dest); }

}  // namespace kav
