#include "VoRav/Graphics/SysAffineDraw.h"

#include <algorithm>

namespace kav {

namespace {

// The checks come before any pixel is written, so an impossible request is
// refused as a whole rather than failing an assertion on the way.
bool CanDraw(const TAffineEdges& rec, TSysBitmap* target, TSysBitmap* source) {
  if (!target || !source) return false;
  if (target->BytesPerPixel() != 3) return false;
  if (source->BytesPerPixel() != 3 && source->BytesPerPixel() != 4) return false;
  return rec.Width >= 1 && rec.Height >= 1 && source->Width() >= rec.Width && source->Height() >= rec.Height;
}

// The source position (16.16) of a target pixel centre.
void MapCentre(const TAffineEdges& rec, double x, double y, int32_t& sx, int32_t& sy) {
  const TFrame2D& f = rec.Frame;
  const double wx = x - f.Origin.x, wy = y - f.Origin.y;
  const double u = (double(f.AxisY.y) * wx - double(f.AxisY.x) * wy) * f.InvDet;
  const double v = (double(f.AxisX.x) * wy - double(f.AxisX.y) * wx) * f.InvDet;
  sx = FloatToFixed(float(u));
  sy = FloatToFixed(float(v));
}

// Walks the placed rectangle's runs row by row and calls
// write(target pixel, source x, source y) for each target pixel whose
// mapped centre lies inside the source, from the first such pixel of the
// run until the position leaves the source.
template <class Write>
void WalkRuns(const TAffineEdges& rec, TSysBitmap* target, const TRect& clip, Write&& write) {
  int32_t ax0, ay0, ax1, ay1;
  MapCentre(rec, 0.5, 0.5, ax0, ay0);
  MapCentre(rec, 1.5, 0.5, ax1, ay1);
  const int32_t step_x = ax1 - ax0, step_y = ay1 - ay0;
  const int32_t top = std::max({rec.Bounds.Top, clip.Top, 0});
  const int32_t bottom = std::min({rec.Bounds.Bottom, clip.Bottom, target->Height()});
  const int32_t clip_left = std::max(clip.Left, 0);
  const int32_t clip_right = std::min(clip.Right, target->Width()) - 1;
  for (int32_t y = top; y < bottom; ++y) {
    int32_t left, right;
    if (!FindIntervalLine(rec, y, left, right)) continue;
    left = std::max(left, clip_left);
    right = std::min(right, clip_right);
    if (left > right) continue;
    int32_t sx, sy;
    MapCentre(rec, left + 0.5, y + 0.5, sx, sy);
    int64_t px = sx, py = sy;
    auto inside = [&] {
      const int64_t ix = px >> 16, iy = py >> 16;
      return ix >= 0 && ix < rec.Width && iy >= 0 && iy < rec.Height;
    };
    int32_t x = left;
    while (x <= right && !inside()) {
      ++x;
      px += step_x;
      py += step_y;
    }
    uint8_t* d = target->PixelAddress(x, y);
    for (; x <= right && inside(); ++x, d += 3) {
      write(d, int32_t(px), int32_t(py));
      px += step_x;
      py += step_y;
    }
  }
}

inline void BlendChannel(uint8_t& d, int32_t s, int32_t opacity) { d = uint8_t(d + ((s - d) * opacity) / 256); }

// The 24-bit target pixel `d` receives the colour c (blue, green, red) with
// alpha a at the opacity.
inline void WriteAlpha(uint8_t* d, const int32_t* c, int32_t a, int32_t opacity) {
  if (a >= 255) {
    if (opacity >= 255)
      for (int k = 0; k < 3; ++k) d[k] = uint8_t(c[k]);
    else
      for (int k = 0; k < 3; ++k) BlendChannel(d[k], c[k], opacity);
    return;
  }
  const int32_t w = opacity >= 255 ? a * 256 : a * opacity;
  for (int k = 0; k < 3; ++k) d[k] = uint8_t(d[k] + (int64_t(c[k] - d[k]) * w) / 65536);
}

}  // namespace

bool AffineDrawNearest(const TAffineEdges& rec, TSysBitmap* target, TSysBitmap* source, int32_t opacity,
                       const TRect& clip) {
  if (!CanDraw(rec, target, source)) return false;
  if (opacity < 1) return true;
  opacity = std::min(opacity, 255);
  const int32_t bpp = source->BytesPerPixel();
  WalkRuns(rec, target, clip, [&](uint8_t* d, int32_t sx, int32_t sy) {
    const uint8_t* s = source->PixelAddress(sx >> 16, sy >> 16);
    const int32_t c[3] = {s[0], s[1], s[2]};
    WriteAlpha(d, c, bpp == 4 ? s[3] : 255, opacity);
  });
  return true;
}

bool AffineDrawBilinear(const TAffineEdges& rec, TSysBitmap* target, TSysBitmap* source, int32_t opacity,
                        const TRect& clip) {
  if (!CanDraw(rec, target, source)) return false;
  if (opacity < 1) return true;
  opacity = std::min(opacity, 255);
  const int32_t bpp = source->BytesPerPixel();
  const bool premultiplied = bpp == 4 && source->PixelFormat()->IsPremultiplied();
  const int32_t last_x = rec.Width - 1, last_y = rec.Height - 1;
  WalkRuns(rec, target, clip, [&](uint8_t* d, int32_t sx, int32_t sy) {
    const int32_t px = sx - 32768, py = sy - 32768;
    const int32_t fx = px & 0xFFFF, fy = py & 0xFFFF;
    const int32_t x0 = std::clamp(px >> 16, 0, last_x), y0 = std::clamp(py >> 16, 0, last_y);
    const int32_t x1 = std::clamp((px >> 16) + 1, 0, last_x), y1 = std::clamp((py >> 16) + 1, 0, last_y);
    const int64_t w11 = (int64_t(fx) * fy) >> 16;
    const int64_t w10 = fx - w11, w01 = fy - w11, w00 = 65536 - fx - fy + w11;
    const uint8_t* s00 = source->PixelAddress(x0, y0);
    const uint8_t* s10 = source->PixelAddress(x1, y0);
    const uint8_t* s01 = source->PixelAddress(x0, y1);
    const uint8_t* s11 = source->PixelAddress(x1, y1);
    int32_t c[4];
    for (int k = 0; k < bpp; ++k)
      c[k] = int32_t((s00[k] * w00 + s10[k] * w10 + s01[k] * w01 + s11[k] * w11) >> 16);
    if (!premultiplied) {
      WriteAlpha(d, c, bpp == 4 ? c[3] : 255, opacity);
      return;
    }
    const int32_t a = c[3] * opacity / 255;
    for (int k = 0; k < 3; ++k) d[k] = uint8_t(std::min(255, c[k] * opacity / 255 + d[k] * (255 - a) / 255));
  });
  return true;
}

}  // namespace kav
