#include <gtest/gtest.h>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysPixelKernels.h"

using namespace kav;
using namespace kav::test;

namespace {

// The 1-2-1 kernel straight from its definition, clamping every tap.
Ref<TSysBitmap> NaiveHalve(TSysBitmap* s, int32_t dw, int32_t dh) {
  const int32_t bpp = s->BytesPerPixel();
  Ref<TSysBitmap> d = Sys(dw, dh, s->PixelFormat());
  const int w[3] = {1, 2, 1};
  for (int32_t y = 0; y < dh; ++y)
    for (int32_t x = 0; x < dw; ++x)
      for (int32_t c = 0; c < bpp; ++c) {
        uint32_t sum = 0;
        for (int j = 0; j < 3; ++j)
          for (int i = 0; i < 3; ++i) {
            const int32_t sx = std::clamp(2 * x + i - 1, 0, s->Width() - 1);
            const int32_t sy = std::clamp(2 * y + j - 1, 0, s->Height() - 1);
            sum += s->PixelAddress(sx, sy)[c] * uint32_t(w[i] * w[j]);
          }
        d->PixelAddress(x, y)[c] = uint8_t(sum >> 4);
      }
  return d;
}

struct TStopAfter {
  int left;
  int calls = 0;
  bool OnProgress(float) {
    ++calls;
    return left-- > 0;
  }
  TProgressHandler Handler() { return TProgressHandler::Bind<&TStopAfter::OnProgress>(this); }
};

}  // namespace

TEST(Halving, MatchesTheKernelAtEveryEdge) {
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 3}, {4, 5}, {37, 23}, {64, 3}};
  for (TPixelFormat* f : {F().R8G8B8, F().A8R8G8B8}) {
    for (auto [w, h] : sizes) {
      Ref<TSysBitmap> s = Sys(w, h, f);
      FillRandom(s.get(), uint32_t(w * 100 + h));
      const int32_t dw = (w + 1) / 2, dh = (h + 1) / 2;
      Ref<TSysBitmap> d = Sys(dw, dh, f);
      ASSERT_TRUE(f == F().R8G8B8 ? HalveBitmap24(s.get(), d.get()) : HalveBitmap32(s.get(), d.get()));
      EXPECT_TRUE(SamePixels(d.get(), NaiveHalve(s.get(), dw, dh).get())) << w << "x" << h;
    }
  }
  // 3 x 3 into 2 x 2: pixel (1, 1) weighs the bottom-right source pixel 9 / 16.
  Ref<TSysBitmap> s = Sys(3, 3, F().R8G8B8);
  Set24(s.get(), 2, 2, 0x000010);
  Ref<TSysBitmap> d = Sys(2, 2, F().R8G8B8);
  HalveBitmap24(s.get(), d.get());
  EXPECT_EQ(Get24(d.get(), 1, 1), 9u);
  s->FillRect(TRect{0, 0, 3, 3}, 0xFFFFFFFF);
  HalveBitmap24(s.get(), d.get());
  EXPECT_EQ(Get24(d.get(), 0, 0), 0xFFFFFFu);
}

TEST(Halving, StopsWhenProgressSaysSo) {
  Ref<TSysBitmap> s = Sys(20, 20, F().A8R8G8B8);
  Ref<TSysBitmap> d = Sys(10, 10, F().A8R8G8B8);
  TStopAfter stop{3};
  s->SetOnProgress(stop.Handler());
  EXPECT_FALSE(HalveBitmap32(s.get(), d.get()));
  EXPECT_EQ(stop.calls, 4);
  TStopAfter go{1000};
  s->SetOnProgress(go.Handler());
  EXPECT_TRUE(HalveBitmap32(s.get(), d.get()));
  EXPECT_EQ(go.calls, 10 + 10 + 1);  // destination rows + h' + the final 1.0
}

TEST(Halving, FastRowsMatchTheScalarRow) {
  const TPixelKernels* scalar = PixelKernelsFor(TSimdLevel::Scalar);
  const size_t width = 301;
  std::vector<uint8_t> r0 = RandomBytes(width * 4, 1), r1 = RandomBytes(width * 4, 2), r2 = RandomBytes(width * 4, 3);
  for (TSimdLevel level : {TSimdLevel::SSE2, TSimdLevel::AVX2}) {
    const TPixelKernels* k = PixelKernelsFor(level);
    if (!k) continue;
    for (size_t x0 : {size_t(1), size_t(2), size_t(5)}) {
      for (size_t n = 0; 2 * (x0 + n) + 1 <= width; n += (n < 12 ? 1 : 37)) {
        for (int bpp : {3, 4}) {
          // Rows and destination exactly as long as the taps need, so that
          // the sanitizer catches reads and writes past them.
          const size_t used = 2 * (x0 + n) * size_t(bpp);
          std::vector<uint8_t> s0(r0.begin(), r0.begin() + used), s1(r1.begin(), r1.begin() + used),
              s2(r2.begin(), r2.begin() + used);
          std::vector<uint8_t> a(n * size_t(bpp), 0), b(n * size_t(bpp), 0);
          (bpp == 4 ? scalar->HalveRow32 : scalar->HalveRow24)(a.data(), s0.data(), s1.data(), s2.data(), x0, n);
          (bpp == 4 ? k->HalveRow32 : k->HalveRow24)(b.data(), s0.data(), s1.data(), s2.data(), x0, n);
          ASSERT_EQ(a, b) << "level " << int(level) << " x0=" << x0 << " n=" << n << " bpp=" << bpp;
        }
      }
    }
  }
}

TEST(Stretch, BilinearWeightsAndEdges) {
  Ref<TSysBitmap> one = Sys(1, 1, F().A8R8G8B8);
  Set32(one.get(), 0, 0, 0x80402010);
  Ref<TSysBitmap> four = Sys(4, 4, F().A8R8G8B8);
  StretchBilinear32(one.get(), four.get());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Get32(four.get(), x, y), 0x80402010u);
  Ref<TSysBitmap> two = Sys(2, 1, F().R8G8B8);
  Set24(two.get(), 1, 0, 0xFFFFFF);
  Ref<TSysBitmap> row = Sys(4, 1, F().R8G8B8);
  StretchBilinear24(two.get(), row.get());
  EXPECT_EQ(Get24(row.get(), 0, 0), 0x7F7F7Fu);
  EXPECT_EQ(Get24(row.get(), 1, 0), 0xBFBFBFu);
  EXPECT_EQ(Get24(row.get(), 2, 0), 0xFFFFFFu);
  EXPECT_EQ(Get24(row.get(), 3, 0), 0xFFFFFFu);
  // Uniform pictures stay uniform at any ratio, up or down.
  Ref<TSysBitmap> src = Sys(13, 7, F().A8R8G8B8);
  src->FillRect(TRect{0, 0, 13, 7}, 0xFFFEFDFC);
  for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {13, 7}, {40, 29}, {2, 100}}) {
    Ref<TSysBitmap> d = Sys(w, h, F().A8R8G8B8);
    StretchBilinear32(src.get(), d.get());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(Get32(d.get(), x, y), 0xFFFEFDFCu) << w << "x" << h;
  }
}

TEST(Compositing, TableAndFormulaPaths) {
  Ref<TSysBitmap> d = Sys(3, 1, F().A8R8G8B8);
  Ref<TSysBitmap> s = Sys(3, 1, F().A8R8G8B8);
  Set32(d.get(), 0, 0, ColorRGBA(10, 20, 30, 128));
  Set32(s.get(), 0, 0, ColorRGBA(200, 100, 50, 128));
  Set32(d.get(), 1, 0, ColorRGBA(10, 20, 30, 40));
  Set32(s.get(), 1, 0, ColorRGBA(200, 100, 50, 0));
  Set32(d.get(), 2, 0, ColorRGBA(10, 20, 30, 0));
  Set32(s.get(), 2, 0, ColorRGBA(200, 100, 50, 9));
  AlphaCompositeRect32(d.get(), TPoint{0, 0}, s.get(), TPoint{0, 0}, 3, 1);
  EXPECT_EQ(ColorAlpha(Get32(d.get(), 0, 0)), 192);
  EXPECT_EQ(Get32(d.get(), 1, 0), ColorRGBA(10, 20, 30, 40));
  EXPECT_EQ(Get32(d.get(), 2, 0), ColorRGBA(200, 100, 50, 9));

  // Both "over" implementations stay close to the exact straight-alpha
  // formula wherever the destination is not nearly transparent.
  Ref<TSysBitmap> a = Sys(64, 64, F().A8R8G8B8), b = Sys(64, 64, F().A8R8G8B8), src = Sys(64, 64, F().A8R8G8B8);
  FillRandom(a.get(), 1);
  FillRandom(src.get(), 2);
  FillAlphaRect(a.get(), TRect{0, 0, 64, 64}, 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) a->PixelAddress(x, y)[3] = uint8_t(64 + (x * 3 + y) % 192);
  b->CopyFrom(a.get());
  Ref<TSysBitmap> before = Sys(64, 64, F().A8R8G8B8);
  before->CopyFrom(a.get());
  AlphaCompositeRect32(a.get(), TPoint{0, 0}, src.get(), TPoint{0, 0}, 64, 64);
  AlphaCompositeRect32Int(b.get(), src.get(), TRect{0, 0, 64, 64}, TPoint{0, 0});
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint8_t* d = before->PixelAddress(x, y);
      const uint8_t* s = src->PixelAddress(x, y);
      const double sa = s[3] / 255.0, da = d[3] / 255.0, ra = sa + da * (1 - sa);
      EXPECT_NEAR(a->PixelAddress(x, y)[3], ra * 255, 1.0);
      EXPECT_NEAR(b->PixelAddress(x, y)[3], ra * 255, 2.0);  // sa * da >> 8 rounds up
      for (int c = 0; c < 3; ++c) {
        const double exact = (s[c] * sa + d[c] * da * (1 - sa)) / ra;
        ASSERT_NEAR(a->PixelAddress(x, y)[c], exact, 5.0) << x << "," << y;
        ASSERT_NEAR(b->PixelAddress(x, y)[c], exact, 5.0) << x << "," << y;
      }
    }
}

TEST(Compositing, OntoTwentyFourBits) {
  Ref<TSysBitmap> d = Sys(2, 1, F().R8G8B8);
  Set24(d.get(), 0, 0, 0x646464);
  Set24(d.get(), 1, 0, 0x646464);
  Ref<TSysBitmap> s = Sys(2, 1, F().A8R8G8B8);
  Set32(s.get(), 0, 0, ColorRGBA(0, 200, 100, 128));
  Set32(s.get(), 1, 0, ColorRGBA(0, 200, 100, 128));
  AlphaBlendRect32On24(d.get(), s.get(), TRect{0, 0, 1, 1}, TPoint{0, 0});
  EXPECT_EQ(Get24(d.get(), 0, 0), 0x329664u);  // 100 + (s - 100) * 128 / 256, toward zero
  EXPECT_EQ(Get24(d.get(), 1, 0), 0x646464u);
  Set24(d.get(), 0, 0, 0x646464);
  Set32(s.get(), 1, 0, ColorRGBA(50, 60, 70, 64));
  BlendPremulRect32On24(d.get(), s.get(), TRect{-1, 0, 1, 1}, TPoint{0, 0});
  // The source point moves with the clipped left edge: pixel 1 lands on 0.
  EXPECT_EQ(Get24(d.get(), 0, 0), uint32_t(((100 * 191 / 256 + 50) << 16) | ((100 * 191 / 256 + 60) << 8) |
                                           (100 * 191 / 256 + 70)));
}

TEST(AlphaOps, ExtractGreyscaleOpacityAndFill) {
  Ref<TSysBitmap> b = Sys(3, 1, F().A8R8G8B8);
  Set32(b.get(), 0, 0, ColorRGBA(255, 0, 0, 0));
  Set32(b.get(), 1, 0, ColorRGBA(128, 128, 128, 0));
  Set32(b.get(), 2, 0, ColorRGBA(100, 50, 0, 0));
  EXPECT_TRUE(ExtractAlphaFromColor(b.get()));
  EXPECT_EQ(Get32(b.get(), 0, 0), ColorRGBA(255, 0, 0, 255));
  EXPECT_EQ(Get32(b.get(), 1, 0), ColorRGBA(255, 255, 255, 128));
  EXPECT_EQ(ColorAlpha(Get32(b.get(), 2, 0)), 100);
  EXPECT_ABORT_WITH(ExtractAlphaFromColor(Sys(1, 1, F().A8B8G8R8).get()), "Assertion failure");

  Set32(b.get(), 0, 0, ColorRGBA(10, 20, 30, 255));
  GrayscaleDimBitmap(b.get());
  EXPECT_EQ(Get32(b.get(), 0, 0), ColorRGBA(20, 20, 20, 63));
  GrayscaleDimBitmap(nullptr);

  Ref<TSysBitmap> o = Sys(2, 2, F().A8R8G8B8);
  EXPECT_FALSE(BitmapIsOpaque(o.get()));
  FillAlphaRect(o.get(), TRect{-5, -5, 5, 5}, 255);
  EXPECT_TRUE(BitmapIsOpaque(o.get()));
  FillAlphaRect(o.get(), TRect{1, 1, 2, 2}, 254);
  EXPECT_FALSE(BitmapIsOpaque(o.get()));
  EXPECT_FALSE(BitmapIsOpaque(nullptr));
  EXPECT_TRUE(BitmapIsOpaque(Sys(2, 2, F().R8G8B8).get()));
  Ref<TSysBitmap> a1 = Sys(2, 1, PixelFormatByName("A1R5G5B5"));
  a1->FillRect(TRect{0, 0, 2, 1}, 0xFF000000);
  EXPECT_TRUE(BitmapIsOpaque(a1.get()));
  a1->Row(0)[3] = 0x7F;
  EXPECT_FALSE(BitmapIsOpaque(a1.get()));
}

TEST(Rotation, TurnsAndRestores) {
  Ref<TSysBitmap> s = Sys(5, 3, F().R8G8B8);
  FillRandom(s.get(), 9);
  Ref<TSysBitmap> cw = Sys(3, 5, F().R8G8B8);
  EXPECT_TRUE(RotateBitmap90CWBpp24(s.get(), cw.get()));
  EXPECT_EQ(Get24(cw.get(), 0, 0), Get24(s.get(), 0, 2));  // bottom-left goes to top-left
  EXPECT_EQ(Get24(cw.get(), 2, 4), Get24(s.get(), 4, 0));
  Ref<TSysBitmap> back = Sys(5, 3, F().R8G8B8);
  RotateBitmap90CCWBpp24(cw.get(), back.get());
  EXPECT_TRUE(SamePixels(back.get(), s.get()));
  RotateBitmap180Bpp24(back.get());
  EXPECT_EQ(Get24(back.get(), 0, 0), Get24(s.get(), 4, 2));
  EXPECT_EQ(Get24(back.get(), 1, 1), Get24(s.get(), 3, 1));  // middle row reversed
  RotateBitmap180Bpp24(back.get());
  EXPECT_TRUE(SamePixels(back.get(), s.get()));
  Ref<TSysBitmap> s32 = Sys(4, 4, F().A8R8G8B8), t = Sys(4, 4, F().A8R8G8B8);
  FillRandom(s32.get(), 4);
  t->CopyFrom(s32.get());
  for (int i = 0; i < 2; ++i) RotateBitmap180Bpp32(t.get());
  EXPECT_TRUE(SamePixels(t.get(), s32.get()));
  EXPECT_ABORT_WITH(RotateBitmap90CWBpp24(s.get(), Sys(5, 3, F().R8G8B8).get()), "Assertion failure");
  EXPECT_ABORT_WITH(RotateBitmap90CWBpp32(s.get(), cw.get()), "Assertion failure");
}

TEST(Tiling, OffsetsAndPhase) {
  Ref<TSysBitmap> tile = Sys(10, 1, F().A8R8G8B8);
  for (int x = 0; x < 10; ++x) Set32(tile.get(), x, 0, 0xFF000000u | uint32_t(x));
  Ref<TSysBitmap> d = Sys(25, 2, F().A8R8G8B8);
  TileBitmap(d.get(), tile.get(), TRect{0, 0, 25, 2}, TPoint{-1, 0}, TRect{0, 0, 10, 1});
  EXPECT_EQ(Get32(d.get(), 0, 0) & 0xFF, 1u);
  EXPECT_EQ(Get32(d.get(), 9, 1) & 0xFF, 0u);
  TileBitmap(d.get(), tile.get(), TRect{0, 0, 25, 2}, TPoint{1, 0}, TRect{0, 0, 10, 1});
  EXPECT_EQ(Get32(d.get(), 0, 0) & 0xFF, 9u);
  TileBitmap(d.get(), tile.get(), TRect{0, 0, 25, 2}, TPoint{-21, 0}, TRect{0, 0, 10, 1});
  EXPECT_EQ(Get32(d.get(), 0, 0) & 0xFF, 1u);
  // Clipping keeps the phase of the whole target.
  Ref<TSysBitmap> c = Sys(25, 1, F().A8R8G8B8);
  TileBitmapClipped(c.get(), tile.get(), TRect{3, 0, 25, 1}, TRect{7, 0, 9, 1}, TRect{0, 0, 10, 1});
  EXPECT_EQ(Get32(c.get(), 7, 0), 0xFF000004u);
  EXPECT_EQ(Get32(c.get(), 9, 0), 0u);
  // A huge target over a small bitmap ends quickly.
  TileBitmap(c.get(), tile.get(), TRect{INT32_MIN, 0, INT32_MAX, 1}, TPoint{0, 0}, TRect{0, 0, 1, 1});
}

TEST(Tiling, ImageStoreCompositesAndFrames) {
  Ref<TSysBitmap> pic = Sys(2, 2, F().A8R8G8B8);
  Set32(pic.get(), 0, 0, ColorRGBA(255, 0, 0, 255));
  Set32(pic.get(), 1, 0, ColorRGBA(0, 0, 255, 0));
  Ref<TSysBitmap> d = Sys(6, 6, F().R8G8B8);
  d->FillRect(TRect{0, 0, 6, 6}, 0xFF00FF00);
  // Grid anchored at (1, 1): the picture's (0, 0) lands on odd coordinates.
  // Blending onto 24 bits weighs alpha 255 as 255 / 256.
  TileImageStore(d.get(), TRect{0, 0, 6, 6}, pic.get(), false, TPoint{1, 1});
  EXPECT_EQ(Get24(d.get(), 1, 1), 0xFE0100u);
  EXPECT_EQ(Get24(d.get(), 3, 5), 0xFE0100u);
  EXPECT_EQ(Get24(d.get(), 2, 1), 0x00FF00u);  // alpha 0 keeps the background
  TileImageStore(d.get(), TRect{0, 0, 6, 6}, pic.get(), true, TPoint{1, 1});
  EXPECT_EQ(Get24(d.get(), 2, 1), 0x0000FFu);
  // Onto a destination of another alpha format, through a work copy.
  Ref<TSysBitmap> d2 = Sys(4, 4, F().A8B8G8R8);
  TileImageStore(d2.get(), TRect{0, 0, 4, 4}, pic.get(), false, TPoint{0, 0});
  EXPECT_EQ(Get32(d2.get(), 2, 2), ColorRGBA(0, 0, 255, 255));
  // The frame touches only the outline, clipped.
  Ref<TSysBitmap> f = Sys(6, 6, F().R8G8B8);
  DrawImageFrame(f.get(), TRect{0, 0, 6, 6}, pic.get(), TRect{0, 0, 6, 5});
  EXPECT_EQ(Get24(f.get(), 0, 0), 0xFE0000u);
  EXPECT_EQ(Get24(f.get(), 0, 2), 0xFE0000u);
  EXPECT_EQ(Get24(f.get(), 2, 2), 0u);
  EXPECT_EQ(Get24(f.get(), 4, 5), 0u);  // bottom row clipped away
  EXPECT_EQ(Get24(f.get(), 5, 3), 0u);  // right column, picture pixel (1, 1): transparent
}

TEST(Stretch, FastRowsMatchTheScalarRow) {
  const TPixelKernels* scalar = PixelKernelsFor(TSimdLevel::Scalar);
  const int32_t width = 97;
  std::vector<uint8_t> top = RandomBytes(size_t(width) * 4, 5), bottom = RandomBytes(size_t(width) * 4, 6);
  std::mt19937 rng(8);
  const size_t n = 301;
  std::vector<int32_t> col(n), next(n);
  std::vector<uint32_t> frac(n);
  for (size_t i = 0; i < n; ++i) {
    col[i] = int32_t(rng() % width);
    next[i] = std::min(col[i] + 1, width - 1);
    frac[i] = i < 4 ? uint32_t(i == 0 ? 0 : 0xFFFF) : uint32_t(rng() & 0xFFFF);
  }
  for (TSimdLevel level : {TSimdLevel::SSE2, TSimdLevel::AVX2}) {
    const TPixelKernels* k = PixelKernelsFor(level);
    if (!k) continue;
    for (uint32_t fy : {0u, 1u, 0x8000u, 0xFFFFu}) {
      for (size_t count : {size_t(0), size_t(1), size_t(2), size_t(7), n}) {
        std::vector<uint8_t> a(count * 4), b(count * 4);
        scalar->StretchRow32(a.data(), top.data(), bottom.data(), col.data(), next.data(), frac.data(), fy, count);
        k->StretchRow32(b.data(), top.data(), bottom.data(), col.data(), next.data(), frac.data(), fy, count);
        ASSERT_EQ(a, b) << "level " << int(level) << " fy " << fy << " count " << count;
      }
    }
  }
}
