// The bilinear tile routines of TBilinearDrawer (SysAffineDrawer.h).
#include <algorithm>

#include "VoRav/Graphics/SysAffineDrawer.h"

namespace kav {

namespace {

// One target row of a tile: samples at (px, py) stepping by (dx, dy) in
// 16.16. Checked: a sample whose pixel centre lies outside the source is
// skipped and the neighbours are clamped to the source (a position left of
// or above the first pixel centre counts as that pixel); unchecked: the
// caller guarantees both neighbours exist.
template <bool kChecked, int kBpp>
void SampleRow(TSysBitmap* src, int32_t w, int32_t h, int64_t px, int64_t py, int64_t dx, int64_t dy,
               uint8_t* d, int32_t count, int32_t opacity) {
  for (int32_t n = 0; n < count; ++n, px += dx, py += dy, d += 3) {
    int64_t x0 = px >> 16, y0 = py >> 16, x1 = x0 + 1, y1 = y0 + 1;
    if constexpr (kChecked) {
      const int64_t cx = (px + 32768) >> 16, cy = (py + 32768) >> 16;
      if (cx < 0 || cx >= w || cy < 0 || cy >= h) continue;
      x0 = std::clamp<int64_t>(x0, 0, w - 1);
      y0 = std::clamp<int64_t>(y0, 0, h - 1);
      x1 = std::clamp<int64_t>(x1, 0, w - 1);
      y1 = std::clamp<int64_t>(y1, 0, h - 1);
    }
    const int64_t fx = px & 0xFFFF, fy = py & 0xFFFF;
    const int64_t w11 = (fx * fy) >> 16, w10 = fx - w11, w01 = fy - w11, w00 = 65536 - fx - fy + w11;
    const uint8_t* r0 = src->Row(int32_t(y0));
    const uint8_t* r1 = src->Row(int32_t(y1));
    const uint8_t* s00 = r0 + x0 * kBpp;
    const uint8_t* s10 = r0 + x1 * kBpp;
    const uint8_t* s01 = r1 + x0 * kBpp;
    const uint8_t* s11 = r1 + x1 * kBpp;
    int32_t c[kBpp];
    for (int k = 0; k < kBpp; ++k) c[k] = int32_t((s00[k] * w00 + s10[k] * w10 + s01[k] * w01 + s11[k] * w11) >> 16);
    int32_t weight = opacity;
    if constexpr (kBpp == 4) {
      const int32_t a = c[3];
      if (a == 0) continue;
      if (opacity >= 255) weight = a;  // 255 copies below
      else if (a < 255) weight = (a * opacity) >> 8;
    }
    if (weight >= 255) {
      for (int k = 0; k < 3; ++k) d[k] = uint8_t(c[k]);
    } else {
      for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + (((c[k] - d[k]) * weight) >> 8));
    }
  }
}

template <bool kChecked, int kBpp>
void DrawTileRows(TSysBitmap* src, const TDrawerTile& t, TSysBitmap* target, int32_t opacity, int64_t cx,
                  int64_t cy, int64_t rx, int64_t ry) {
  for (int32_t j = 0; j < t.Target.Height(); ++j)
    SampleRow<kChecked, kBpp>(src, src->Width(), src->Height(), t.FixedX + j * rx, t.FixedY + j * ry, cx, cy,
                              target->PixelAddress(t.Target.Left, t.Target.Top + j), t.Target.Width(), opacity);
}

}  // namespace

bool TBilinearDrawer::Prepare() {
  if (!image_ || image_->Width() < 1 || image_->Height() < 1) return false;
  full_ = TRect{0, 0, image_->Width(), image_->Height()};
  inner_ = TRect{0, 0, image_->Width() - 1, image_->Height() - 1};
  const bool opaque_rgb = image_->BytesPerPixel() == 3 && Opacity() >= 255;
  border_ = opaque_rgb ? inner_ : TRect{};
  return true;
}

void TBilinearDrawer::DrawTile(int32_t tile_class, const TDrawerTile& tile, TSysBitmap* target) {
  const int32_t opacity = std::min(Opacity(), 255);
  if (opacity < 1) return;
  TSysBitmap* src = image_.get();
  const bool rgb = src->BytesPerPixel() == 3;
  if (tile_class == 1) {
    if (rgb) DrawTileRows<true, 3>(src, tile, target, opacity, col_x_, col_y_, row_x_, row_y_);
    else DrawTileRows<true, 4>(src, tile, target, opacity, col_x_, col_y_, row_x_, row_y_);
  } else {
    if (rgb) DrawTileRows<false, 3>(src, tile, target, opacity, col_x_, col_y_, row_x_, row_y_);
    else DrawTileRows<false, 4>(src, tile, target, opacity, col_x_, col_y_, row_x_, row_y_);
  }
}

}  // namespace kav
