// Pictures shared by the drawing tests.
#pragma once

#include <algorithm>
#include <cmath>

#include "GraphicsTestUtil.h"

namespace kav::test {

// Smoothly varying colours (waves in blue and green, a diagonal wave in
// red); a 32-bit picture gets alpha 0 in its left third and 255 elsewhere.
inline Ref<TSysBitmap> SmoothPicture(int32_t w, int32_t h, TPixelFormat* f) {
  Ref<TSysBitmap> b = Sys(w, h, f);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = b->PixelAddress(x, y);
      p[0] = uint8_t(128 + 120 * std::sin(x * 0.5));
      p[1] = uint8_t(128 + 120 * std::cos(y * 0.7));
      p[2] = uint8_t(128 + 100 * std::sin((x + y) * 0.3));
      if (f->BytesPerPixel() == 4) p[3] = uint8_t(x < w / 3 ? 0 : 255);
    }
  return b;
}

// An "R8G8B8" bitmap of one colour.
inline Ref<TSysBitmap> Canvas24(int32_t w, int32_t h, uint32_t colour) {
  Ref<TSysBitmap> b = Sys(w, h, F().R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) Set24(b.get(), x, y, colour);
  return b;
}

}  // namespace kav::test
