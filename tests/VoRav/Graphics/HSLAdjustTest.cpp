#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysHSLAdjust.h"
#include "VoRav/wpLoadCallBack.h"

using namespace kav;
using namespace kav::test;

namespace {
std::array<int32_t, 3> ToHSL(int32_t r, int32_t g, int32_t b) {
  std::array<int32_t, 3> v;
  RGBToHSL(r, g, b, v[0], v[1], v[2]);
  return v;
}
std::array<int32_t, 3> ToRGB(int32_t h, int32_t s, int32_t l) {
  std::array<int32_t, 3> v;
  HSLToRGB(h, s, l, v[0], v[1], v[2]);
  return v;
}
using A = std::array<int32_t, 3>;
}  // namespace

TEST(HSL, ConversionsOnKnownColours) {
  // Worked by hand from the formulas (rounding halves to even: L 127.5 -> 128).
  EXPECT_EQ(ToHSL(255, 0, 0), (A{0, 255, 128}));
  EXPECT_EQ(ToHSL(0, 255, 0), (A{85, 255, 128}));
  EXPECT_EQ(ToHSL(0, 0, 255), (A{170, 255, 128}));
  EXPECT_EQ(ToHSL(200, 100, 50), (A{14, 153, 125}));
  EXPECT_EQ(ToHSL(100, 100, 100), (A{0, 0, 100}));
  EXPECT_EQ(ToHSL(255, 0, 1), (A{255, 255, 128}));  // hue just below a full turn
  // The 511 denominator (S 127.5), and red wins a tie for the maximum (H 42.5).
  EXPECT_EQ(ToHSL(255, 255, 254), (A{42, 128, 254}));
  EXPECT_EQ(ToRGB(0, 255, 128), (A{255, 1, 1}));
  EXPECT_EQ(ToRGB(14, 153, 125), (A{200, 99, 50}));
  EXPECT_EQ(ToRGB(0, 0, 100), (A{100, 100, 100}));
  EXPECT_EQ(ToRGB(77, 0, 255), (A{255, 255, 255}));
  // Out-of-range input still gives bytes.
  for (int32_t v : ToRGB(900, 255, 255)) EXPECT_TRUE(v >= 0 && v <= 255);

  // The two conversions are near inverses over a grid of colours.
  int worst = 0;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 7)
      for (int b = 0; b < 256; b += 11) {
        const A hsl = ToHSL(r, g, b);
        const A rgb = ToRGB(hsl[0], hsl[1], hsl[2]);
        worst = std::max({worst, std::abs(rgb[0] - r), std::abs(rgb[1] - g), std::abs(rgb[2] - b)});
      }
  EXPECT_LE(worst, 4);
}

// The conversion to HSL step by step in exact fractions, as a reference.
struct Frac {
  int64_t n, d;  // d > 0
};
Frac Add(Frac a, Frac b) { return {a.n * b.d + b.n * a.d, a.d * b.d}; }
Frac Mul(Frac a, Frac b) { return {a.n * b.n, a.d * b.d}; }
int32_t RoundEven(Frac f) {
  // floor, then compare the remainder with one half.
  int64_t q = f.n / f.d;
  if (f.n % f.d != 0 && f.n < 0) --q;
  const int64_t r2 = 2 * (f.n - q * f.d);
  return int32_t(r2 > f.d || (r2 == f.d && q % 2 != 0) ? q + 1 : q);
}
A ExactHSL(int32_t r, int32_t g, int32_t b) {
  const int32_t mx = std::max({r, g, b}), mn = std::min({r, g, b});
  const Frac l{mx + mn, 2};
  if (mx == mn) return {0, 0, RoundEven(l)};
  const int64_t d = mx - mn;
  const Frac s = l.n < 256 ? Frac{d * 255, mx + mn} : Frac{d * 255, 511 - mx - mn};
  Frac h = r == mx ? Frac{g - b, d} : g == mx ? Add({b - r, d}, {2, 1}) : Add({r - g, d}, {4, 1});
  h = Mul(h, {85, 2});
  if (h.n < 0) h = Add(h, {255, 1});
  else if (h.n >= 255 * h.d) h = Add(h, {-255, 1});
  return {RoundEven(h), RoundEven(s), RoundEven(l)};
}

TEST(HSL, EveryColourRoundsExactly) {
  // Halves round to even on the exact value: rgb(0, 17, 1) has hue 87.5.
  EXPECT_EQ(ToHSL(0, 17, 1), (A{88, 255, 8}));
  int32_t wrong = 0;
  for (int32_t c = 0; c < (1 << 24); ++c) {
    const int32_t r = c >> 16, g = (c >> 8) & 255, b = c & 255;
    if (ToHSL(r, g, b) != ExactHSL(r, g, b) && ++wrong <= 5) ADD_FAILURE() << r << "," << g << "," << b;
  }
  EXPECT_EQ(wrong, 0);
  // Out-of-range input is taken as the nearest byte.
  EXPECT_EQ(ToHSL(300, -4, 0), ToHSL(255, 0, 0));
}

TEST(HSL, AdjustPixels) {
  Ref<TSysBitmap> bmp = Sys(3, 2, F().A8R8G8B8);
  const auto fill = [&] {
    Set32(bmp.get(), 0, 0, 0x80646464);  // grey, half transparent
    Set32(bmp.get(), 1, 0, 0xFFC86432);  // (200, 100, 50)
    Set32(bmp.get(), 2, 0, 0xFFFF0000);
    Set32(bmp.get(), 0, 1, 0xFF0000FF);
    Set32(bmp.get(), 1, 1, 0xFF00FF00);
    Set32(bmp.get(), 2, 1, 0xFF123456);
  };
  fill();
  Ref<TSysBitmap> before = Sys(3, 2, F().A8R8G8B8);
  before->CopyFrom(bmp.get());

  HSLAdjustPixels(bmp.get(), TRect{0, 0, 3, 2}, nullptr, 0, 0, 0);
  EXPECT_TRUE(SamePixels(bmp.get(), before.get()));

  // Lightness +100 % turns grey white and keeps alpha; clipping keeps it in
  // the bitmap.
  HSLAdjustPixels(bmp.get(), TRect{-5, -5, 1, 1}, nullptr, 100, 0, 0);
  EXPECT_EQ(Get32(bmp.get(), 0, 0), 0x80FFFFFFu);
  EXPECT_EQ(Get32(bmp.get(), 1, 0), 0xFFC86432u);

  // A full turn of hue leaves only the conversion's own rounding.
  fill();
  HSLAdjustPixels(bmp.get(), TRect{0, 0, 3, 2}, nullptr, 0, 0, 360);
  EXPECT_EQ(Get32(bmp.get(), 1, 0), 0xFFC86332u);  // (200, 99, 50)
  EXPECT_EQ(Get32(bmp.get(), 2, 0), 0xFFFF0101u);
  EXPECT_EQ(Get32(bmp.get(), 0, 0), 0x80646464u);  // grey keeps hue 0, saturation 0

  // Hue +120 degrees (85 steps) turns red into green; -100 % saturation greys.
  fill();
  HSLAdjustPixels(bmp.get(), TRect{2, 0, 3, 1}, nullptr, 0, 0, 120);
  EXPECT_EQ(Get32(bmp.get(), 2, 0), 0xFF01FF01u);
  HSLAdjustPixels(bmp.get(), TRect{0, 1, 1, 2}, nullptr, 0, -100, 0);
  EXPECT_EQ(Get32(bmp.get(), 0, 1), 0xFF808080u);

  // Another pixel format is left alone.
  Ref<TSysBitmap> rgb = Sys(1, 1, F().R8G8B8);
  Set24(rgb.get(), 0, 0, 0x646464);
  HSLAdjustPixels(rgb.get(), TRect{0, 0, 1, 1}, nullptr, 100, 0, 0);
  EXPECT_EQ(Get24(rgb.get(), 0, 0), 0x646464u);

  // A stopping loading callback ends the work after the first row.
  fill();
  SetLoadCallbackMode(3);
  HSLAdjustPixels(bmp.get(), TRect{0, 0, 3, 2}, nullptr, 100, 0, 0);
  SetLoadCallbackMode(0);
  EXPECT_EQ(Get32(bmp.get(), 2, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(bmp.get(), 2, 1), 0xFF123456u);
}

TEST(HSL, BlendRGB24TruncatesTowardZero) {
  const std::array<TRGBTriple, 2> row{TRGBTriple{0, 255, 10}, TRGBTriple{255, 0, 10}};
  EXPECT_EQ(BlendRGB24(row, {0, 1, 0}), row[0]);
  EXPECT_EQ(BlendRGB24(row, {0, 1, 65536}), row[1]);
  // (255 * 32769) / 65536 = 127.5: +127 upward, -127 (not -128) downward.
  EXPECT_EQ(BlendRGB24(row, {0, 1, 32769}), (TRGBTriple{127, 128, 10}));
  // Weights beyond one keep the low 8 bits.
  EXPECT_EQ(BlendRGB24(row, {0, 1, 2 * 65536}).b, uint8_t(510));
  EXPECT_ABORT_WITH(BlendRGB24(row, {0, 2, 0}), "Assertion");
}
