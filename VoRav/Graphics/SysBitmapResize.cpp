#include "VoRav/Graphics/SysBitmapResize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kav {

namespace {

// Source pair and weight (0..65535) of each destination position inside the
// destination bitmap.
struct TResizeAxis {
  int32_t first = 0;  // first destination position inside the bitmap
  std::vector<int32_t> a, b, w;

  TResizeAxis(int32_t d_lo, int32_t d_hi, int32_t d_limit, int32_t s_lo, int32_t s_hi, int32_t s_limit) {
    const int64_t dn = int64_t(d_hi) - d_lo, sn = int64_t(s_hi) - s_lo;
    first = std::max(d_lo, 0);
    const int32_t last = int32_t(std::min<int64_t>(d_hi, d_limit));
    const int32_t hi = int32_t(std::min<int64_t>(s_hi, s_limit)) - 1;
    const double inv = dn - 1 < 1 ? 0.0 : 1.0 / double(dn - 1);
    for (int32_t x = first; x < last; ++x) {
      const double u = double(int64_t(x) - d_lo) * inv * double(sn - 1);
      const double whole = std::trunc(u);
      const int64_t k = int64_t(whole) + s_lo;
      a.push_back(int32_t(std::clamp<int64_t>(k, 0, hi)));
      b.push_back(int32_t(std::clamp<int64_t>(k + 1, 0, hi)));
      w.push_back(int32_t(std::nearbyint((u - whole) * 65536.0 - 0.5)));
    }
  }
  size_t size() const { return a.size(); }
};

inline int32_t Lerp(int32_t a, int32_t b, int32_t w) { return a + (b - a) * w / 65536; }

template <int kBpp>
void Resize(TSysBitmap* dest, TSysBitmap* source, const TRect& d, TColor32 fill, const TRect& s) {
  if (s.IsEmpty() || d.IsEmpty()) return;
  // Source rectangles that start past the bitmap have no pixel to read.
  if (s.Left >= source->Width() || s.Top >= source->Height() || s.Right <= 0 || s.Bottom <= 0) return;
  const TResizeAxis cols(d.Left, d.Right, dest->Width(), s.Left, s.Right, source->Width());
  const TResizeAxis rows(d.Top, d.Bottom, dest->Height(), s.Top, s.Bottom, source->Height());
  for (size_t j = 0; j < rows.size(); ++j) {
    const uint8_t* top = source->Row(rows.a[j]);
    const uint8_t* bottom = source->Row(rows.b[j]);
    const int32_t wy = rows.w[j];
    uint8_t* out = dest->PixelAddress(cols.first, rows.first + int32_t(j));
    for (size_t i = 0; i < cols.size(); ++i, out += kBpp) {
      const int32_t ca = cols.a[i] * kBpp, cb = cols.b[i] * kBpp, wx = cols.w[i];
      for (int c = 0; c < kBpp; ++c) {
        const int32_t t = Lerp(top[ca + c], top[cb + c], wx);
        const int32_t u = Lerp(bottom[ca + c], bottom[cb + c], wx);
        out[c] = uint8_t(Lerp(t, u, wy));
      }
      if (kBpp == 4 && out[3] == 0) std::memcpy(out, &fill, 4);
    }
  }
}

}  // namespace

void ResizeBitmap24(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, const TRect& source_rect) {
  KAV_ASSERT(dest != nullptr && dest->PixelFormat() == StdFormats().R8G8B8);
  KAV_ASSERT(source != nullptr && source->PixelFormat() == StdFormats().R8G8B8);
  Resize<3>(dest, source, dest_rect, 0, source_rect);
}

void ResizeBitmap32(TSysBitmap* dest, TSysBitmap* source, const TRect& dest_rect, TColor32 fill,
                    const TRect& source_rect) {
  KAV_ASSERT(dest != nullptr && dest->PixelFormat() == StdFormats().A8R8G8B8);
  KAV_ASSERT(source != nullptr && source->PixelFormat() == StdFormats().A8R8G8B8);
  Resize<4>(dest, source, dest_rect, fill, source_rect);
}

}  // namespace kav
