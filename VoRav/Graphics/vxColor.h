// 32-bit colours, their text form and single-pixel blending.
//
// A colour lies in memory as the bytes blue, green, red, alpha, i.e. the
// integer 0xAARRGGBB. Alpha 0 is fully transparent, 255 opaque; colours are
// straight (not premultiplied). A Windows COLORREF is 0x00BBGGRR.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kav {

using TColor32 = uint32_t;
using TColorRef = uint32_t;

// A 3-byte pixel of the main 24-bit format: blue, green, red in memory.
struct TRGBTriple {
  uint8_t b = 0;
  uint8_t g = 0;
  uint8_t r = 0;
  friend bool operator==(const TRGBTriple&, const TRGBTriple&) = default;
};
static_assert(sizeof(TRGBTriple) == 3);

// Fully transparent black; the default of the colour-text parser and what
// premultiplying converters write for alpha-0 pixels.
constexpr TColor32 kTransparentColor = 0x00000000;

// Colour text: "#RRGGBB" or a decimal COLORREF, optionally ",alpha"; or
// "red,green,blue" with an optional ",alpha". See ParseColorText.
TColor32 ColorFromText(std::u16string_view text);
TColor32 ColorFromTextDef(std::string_view text);
// Never raises: malformed text answers `def`.
TColor32 ParseColorText(std::string_view text, TColor32 def);

constexpr TColor32 ColorRGBA(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return (TColor32(a) << 24) | (TColor32(r) << 16) | (TColor32(g) << 8) | TColor32(b);
}
constexpr uint8_t ColorBlue(TColor32 c) { return uint8_t(c); }
constexpr uint8_t ColorGreen(TColor32 c) { return uint8_t(c >> 8); }
constexpr uint8_t ColorRed(TColor32 c) { return uint8_t(c >> 16); }
constexpr uint8_t ColorAlpha(TColor32 c) { return uint8_t(c >> 24); }

inline void SetBGR(TRGBTriple& p, uint8_t r, uint8_t g, uint8_t b) { p = TRGBTriple{b, g, r}; }
constexpr TColor32 ColorSetAlpha(TColor32 c, uint8_t a) { return (c & 0x00FFFFFF) | (TColor32(a) << 24); }
constexpr TColor32 ColorClearAlpha(TColor32 c) { return c & 0x00FFFFFF; }
// Swaps the first and third bytes of a 24-bit value (the fourth byte is dropped).
constexpr uint32_t ColorSwapRB(uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }
// COLORREF 0x00BBGGRR to the pixel bytes blue, green, red.
constexpr TRGBTriple ColorToRGBTriple(TColorRef c) {
  return TRGBTriple{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)};
}
constexpr TColor32 ColorFromColorRef(TColorRef c, uint8_t alpha) {
  return ColorRGBA(uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), alpha);
}
// Per byte (a + b) >> 1.
TColor32 ColorAverage(TColor32 a, TColor32 b);
// Per byte a + (b - a) * w / 256, truncating toward zero; w in 0..256.
TColor32 ColorLerp(TColor32 a, TColor32 b, int32_t w);
// Straight-alpha "over": the colour `s` composited onto the pixel `d`.
//   sa = 0: d unchanged; sa = 255 or da = 0: s;
//   da = 255: each colour channel d + floor((s - d) * sa / 256), alpha 255;
//   otherwise ra = sa + da - (sa * da >> 8), k = 65536 / ra and each channel
//   ((d * da) + (s - (d * da >> 8)) * sa) * k >> 16, alpha ra (255 from 256 on).
inline TColor32 BlendPixelOver(TColor32 d, TColor32 s) {
  const uint32_t sa = s >> 24;
  const uint32_t da = d >> 24;
  if (sa == 0) return d;
  if (sa == 255 || da == 0) return s;
  TColor32 out = 0;
  if (da == 255) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int32_t dc = int32_t((d >> shift) & 0xFF);
      const int32_t sc = int32_t((s >> shift) & 0xFF);
      out |= uint32_t(dc + (((sc - dc) * int32_t(sa)) >> 8)) << shift;
    }
    return out | 0xFF000000u;
  }
  const int32_t ra = int32_t(sa + da - ((sa * da) >> 8));
  const int32_t k = 65536 / ra;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t dd = int32_t((d >> shift) & 0xFF) * int32_t(da);
    const int32_t sc = int32_t((s >> shift) & 0xFF);
    int32_t v = int32_t((int64_t(dd + (sc - (dd >> 8)) * int32_t(sa)) * k) >> 16);
    v = v < 0 ? 0 : (v > 255 ? 255 : v);
    out |= uint32_t(v) << shift;
  }
  return out | (uint32_t(ra >= 256 ? 255 : ra) << 24);
}
// Composites `c` (straight alpha) over the pixel `dst` in place.
inline void BlendColorOver(TColor32& dst, TColor32 c) { dst = BlendPixelOver(dst, c); }
// Blue, green and red equal; alpha ignored.
constexpr bool RGBEqual(TColor32 a, TColor32 b) { return ((a ^ b) & 0x00FFFFFF) == 0; }
// Equal values; with `transparent_equal` two alpha-0 colours are equal too.
constexpr bool ColorEqual(TColor32 a, TColor32 b, bool transparent_equal) {
  return a == b || (transparent_equal && ColorAlpha(a) == 0 && ColorAlpha(b) == 0);
}

}  // namespace kav
