#include "VoRav/Graphics/SysHSLAdjust.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

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
  const double r = red, g = green, b = blue;
  const double max = std::max({r, g, b});
  const double min = std::min({r, g, b});
  const double l = (max + min) * 0.5;
  double h = 0.0, s = 0.0;
  if (max != min) {
    const double delta = max - min;
    s = l < 128.0 ? delta * 255.0 / (max + min) : delta * 255.0 / (511.0 - max - min);
    if (r == max)
      h = (g - b) / delta;
    else if (g == max)
      h = (b - r) / delta + 2.0;
    else
      h = (r - g) / delta + 4.0;
    h *= 42.5;
    if (h < 0.0)
      h += 255.0;
    else if (h >= 255.0)
      h -= 255.0;
  }
  hue = static_cast<int32_t>(std::nearbyint(h));
  saturation = static_cast<int32_t>(std::nearbyint(s));
  lightness = static_cast<int32_t>(std::nearbyint(l));
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
