// Tile filling: the span-copying fill against the pixel-by-pixel one, on
// seeded pictures, for tiles inside, across and wholly beyond every edge, from
// plain, cropped and cell-grid sources.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "VoRav/3DBasics/TileBitmap.h"
#include "VoRav/3DBasics/TileFill.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {
namespace {

Ref<TSysBitmap> Seeded(int32_t w, int32_t h, uint32_t seed) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = uint32_t(rng());
  return b;
}

// Fills a tile both ways (the rest of the tile keeps a marker) and compares
// every byte, the marker included.
void ExpectSameFill(TBitmap* src, int32_t ox, int32_t oy, int32_t w, int32_t h) {
  Ref<TSysBitmap> a = CreateSysBitmap(w + 3, h + 2, StdFormats().A8R8G8B8);
  Ref<TSysBitmap> b = CreateSysBitmap(w + 3, h + 2, StdFormats().A8R8G8B8);
  a->FillRect(TRect{0, 0, w + 3, h + 2}, 0x12345678u);
  b->FillRect(TRect{0, 0, w + 3, h + 2}, 0x12345678u);
  TileFillPlain(src, ox, oy, w, h, a.get());
  TileFill(src, ox, oy, w, h, b.get());
  for (int32_t y = 0; y < h + 2; ++y)
    ASSERT_EQ(std::memcmp(a->Row(y), b->Row(y), size_t(w + 3) * 4), 0)
        << "origin " << ox << "," << oy << " size " << w << "x" << h << " row " << y;
}

TEST(TileFill, SpanFillEqualsPlainFill) {
  Ref<TSysBitmap> pic = Seeded(37, 23, 11);
  Ref<TSysBitmap> crop = MakeRef<TCropBitmap>(TRect{5, 3, 30, 20}, false, pic.get());
  Ref<TBitmap> grid = MakeRef<TTileBitmap>(pic.get(), 3, 2, false);
  for (TBitmap* src : {static_cast<TBitmap*>(pic.get()), static_cast<TBitmap*>(crop.get()), grid.get()}) {
    const int32_t sw = src->Width(), sh = src->Height();
    // Origins before, on and past each edge; sizes smaller and larger than
    // the source.
    for (int32_t ox : {-40, -5, -1, 0, 1, sw / 2, sw - 2, sw - 1, sw, sw + 7})
      for (int32_t oy : {-30, -1, 0, 2, sh - 1, sh + 3})
        for (int32_t w : {1, 2, 9, sw, sw + 4, 64})
          for (int32_t h : {1, 5, sh + 2}) ExpectSameFill(src, ox, oy, w, h);
  }
}

TEST(TileFill, OnePixelPicture) {
  Ref<TSysBitmap> pic = Seeded(1, 1, 3);
  for (int32_t o : {-3, -1, 0, 1, 4}) ExpectSameFill(pic.get(), o, -o, 6, 4);
}

}  // namespace
}  // namespace kav
