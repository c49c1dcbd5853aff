#include "VoRav/Graphics/SysHSLAdjust.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

// n / d (n >= 0, d > 0) rounded to the nearest integer, halves to even.
int32_t RoundHalfEven(int64_t n, int64_t d) {
  const int64_t q = n / d, twice = 2 * (n % d);
  return int32_t(twice > d || (twice == d && (q & 1) != 0) ? q + 1 : q);
}

int32_t RoundByte(double v) { return std::clamp(static_cast<int32_t>(std::nearbyint(v)), 0, 255); }

// One channel of HSLToRGB at hue position h (0..255 scale, wrapped once).
double HueChannel(double m1, double m2, double h) {
  if (h >= 255.0) h -= 255.0;
  if (h < 0.0) h += 255.0;
  if (h < 42.5) return m1 + (m2 - m1) * h / 42.5;
  if (h < 127.5) return m2;
  if (h < 170.0) return m1 + (m2 - m1) * (170.0 - h) / 42.5;
  return m1;
}

// Rows of the bitmaps whose pixels can be written in place; null otherwise.
uint8_t* WritableRow(TBitmap* bitmap, int32_t y) {
  if (TSysBitmap* sys = AsSysBitmap(bitmap)) return sys->Row(y);
  if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap)) return direct->Row(y);
  return nullptr;
}

}  // namespace

void RGBToHSL(int32_t red, int32_t green, int32_t blue, int32_t& hue, int32_t& saturation, int32_t& lightness) {
  // Every component is a fraction of small integers, rounded exactly (halves
  // to even): in floating point the hue's x 42.5 and + 255 steps round first
  // and put some colours one step off.
  // Components outside 0..255 are taken as the nearest byte (the 511
  // denominator would reach 0 past it).
  red = std::clamp(red, 0, 255);
  green = std::clamp(green, 0, 255);
  blue = std::clamp(blue, 0, 255);
  const int64_t max = std::max({red, green, blue});
  const int64_t min = std::min({red, green, blue});
  lightness = RoundHalfEven(max + min, 2);
  if (max == min) {
    hue = saturation = 0;
    return;
  }
  const int64_t delta = max - min;
  // L < 128 is max + min < 256.
  saturation = RoundHalfEven(delta * 255, max + min < 256 ? max + min : 511 - max - min);
  // H = (sector x delta + difference) / delta x 42.5 = 85 x (...) / (2 delta).
  int64_t sixths;
  if (red == max)
    sixths = green - blue;
  else if (green == max)
    sixths = blue - red + 2 * delta;
  else
    sixths = red - green + 4 * delta;
  int64_t numerator = 85 * sixths;
  const int64_t denominator = 2 * delta;
  if (numerator < 0) numerator += 255 * denominator;
  else if (numerator >= 255 * denominator) numerator -= 255 * denominator;
  hue = RoundHalfEven(numerator, denominator);
}

void HSLToRGB(int32_t hue, int32_t saturation, int32_t lightness, int32_t& red, int32_t& green, int32_t& blue) {
  const double h = hue, s = saturation, l = lightness;
  if (saturation == 0) {
    red = green = blue = RoundByte(l);
    return;
  }
  const double m2 = l >= 128.0 ? (l + s - l * s / 255.0) / 255.0 : (255.0 + s) * l / 65025.0;
  const double m1 = l / 127.5 - m2;
  red = RoundByte(HueChannel(m1, m2, h + 85.0) * 255.0);
  green = RoundByte(HueChannel(m1, m2, h) * 255.0);
  blue = RoundByte(HueChannel(m1, m2, h - 85.0) * 255.0);
}

void ShiftPixelHSL(uint8_t* bgr, int32_t hue_shift, int32_t saturation_shift, int32_t lightness_shift) {
  int32_t h, s, l;
  RGBToHSL(bgr[2], bgr[1], bgr[0], h, s, l);
  // Wrapping into 0..255 is one step of 256 for any hue up to a full turn;
  // larger hues wrap as many turns as they hold.
  h = ((h + hue_shift) % 256 + 256) % 256;
  s = std::clamp(s + saturation_shift, 0, 255);
  l = std::clamp(l + lightness_shift, 0, 255);
  int32_t r, g, b;
  HSLToRGB(h, s, l, r, g, b);
  bgr[0] = uint8_t(b);
  bgr[1] = uint8_t(g);
  bgr[2] = uint8_t(r);
}

void HSLAdjustPixels(TBitmap* bitmap, const TRect& rect, TRefObject* sender, int32_t lightness,
                     int32_t saturation, int32_t hue) {
  if (lightness == 0 && saturation == 0 && hue == 0) return;
  if (bitmap == nullptr || bitmap->PixelFormat() != StdFormats().A8R8G8B8) return;
  if (WritableRow(bitmap, 0) == nullptr) return;
  TRect area;
  if (!IntersectRect(area, rect, TRect{0, 0, bitmap->Width(), bitmap->Height()})) return;

  // Steps on the 0..255 scale, by integer division.
  const int32_t dh = hue * 256 / 360;
  const int32_t ds = saturation * 256 / 100;
  const int32_t dl = lightness * 256 / 100;
  for (int32_t y = area.Top; y < area.Bottom; ++y) {
    uint8_t* p = WritableRow(bitmap, y) + int64_t(area.Left) * 4;
    for (int32_t x = area.Left; x < area.Right; ++x, p += 4) {
      ShiftPixelHSL(p, dh, ds, dl);
    }
    if (!CallLoadCallback(sender)) return;
  }
}

TRGBTriple BlendRGB24(std::span<const TRGBTriple> row, const TBlendIndex& blend) {
  KAV_ASSERT(blend.A >= 0 && size_t(blend.A) < row.size() && blend.B >= 0 && size_t(blend.B) < row.size());
  const TRGBTriple& a = row[size_t(blend.A)];
  const TRGBTriple& b = row[size_t(blend.B)];
  const auto mix = [&](uint8_t ca, uint8_t cb) {
    return uint8_t(int64_t(ca) + (int64_t(int32_t(cb) - int32_t(ca)) * blend.Weight) / 65536);
  };
  return TRGBTriple{mix(a.b, b.b), mix(a.g, b.g), mix(a.r, b.r)};
}

}  // namespace kav
