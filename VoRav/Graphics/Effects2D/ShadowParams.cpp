#include "VoRav/Graphics/Effects2D/ShadowParams.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "VoRav/vxByteStringUtils.h"
#include "VoRav/vxConvert.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

// Key fields are plain ASCII numbers; any other character makes the field
// fail to convert.
std::string Narrow(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '\x7F');
  return out;
}

float FieldFloat(std::u16string_view s) {
  const double v = ByteStringToFloatDef(Narrow(s), 0.0);
  // A value beyond the float range reads as the default like any other
  // malformed number.
  return std::isfinite(float(v)) ? float(v) : 0.0f;
}

int32_t FieldInt(std::u16string_view s, int32_t def) { return ByteStringToIntDef(Narrow(s), def); }

}  // namespace

bool ShadowParamsEqual(const TShadowParams& a, const TShadowParams& b) {
  return a.Rect.Left == b.Rect.Left && a.Rect.Top == b.Rect.Top && a.Rect.Right == b.Rect.Right &&
         a.Rect.Bottom == b.Rect.Bottom && a.Margin.x == b.Margin.x && a.Margin.y == b.Margin.y &&
         a.FillAlpha == b.FillAlpha && a.Contour == b.Contour && a.StartAlpha == b.StartAlpha &&
         a.EndAlpha == b.EndAlpha && a.Gradient == b.Gradient && a.MipLevel == b.MipLevel &&
         a.RectOnly == b.RectOnly && std::fabs(double(a.Blur) - double(b.Blur)) <= 0.001;
}

std::u16string MakeShadowKey(const TShadowParams& p) {
  std::u16string k(kShadowKeyPrefix);
  for (float v : {p.Rect.Left, p.Rect.Top, p.Rect.Right, p.Rect.Bottom, p.Margin.x, p.Margin.y}) {
    k += FloatToStrTrim(2, v);
    k += u':';
  }
  k += IntToStr(p.FillAlpha) + u':';
  k += FloatToStrTrim(16, p.Blur) + u':';
  for (int32_t v : {p.Contour, int32_t(p.Gradient), int32_t(p.StartAlpha), int32_t(p.EndAlpha), p.MipLevel}) {
    k += IntToStr(v);
    k += u':';
  }
  k += p.ImageName;
  return k;
}

void DrawShadowToBitmap(std::u16string_view key, TShadowParams& p) {
  std::u16string text(key);
  text += u':';
  std::vector<std::u16string_view> f;
  size_t pos = std::min<size_t>(8, text.size());
  while (f.size() < 13) {
    const size_t colon = text.find(u':', pos);
    if (colon == std::u16string::npos) break;
    f.push_back(std::u16string_view(text).substr(pos, colon - pos));
    pos = colon + 1;
  }
  // The name: everything up to the appended ":".
  std::u16string name = pos < text.size() ? text.substr(pos, text.size() - 1 - pos) : std::u16string();
  f.resize(13);
  p.Rect = FloatRect(FieldFloat(f[0]), FieldFloat(f[1]), FieldFloat(f[2]), FieldFloat(f[3]));
  p.Margin = FloatPoint(FieldFloat(f[4]), FieldFloat(f[5]));
  p.FillAlpha = FieldInt(f[6], 255);
  p.Blur = FieldFloat(f[7]);
  p.Contour = FieldInt(f[8], 0);
  p.Gradient = uint8_t(FieldInt(f[9], 8));
  p.StartAlpha = uint8_t(FieldInt(f[10], 0));
  p.EndAlpha = uint8_t(FieldInt(f[11], 0));
  p.MipLevel = FieldInt(f[12], 0);
  p.ImageName = std::move(name);
}

void NormalizeShadowParams(TShadowParams& p) {
  KAV_ASSERT(p.Rect.Left == 0.0f);
  KAV_ASSERT(p.Rect.Top == 0.0f);
  const double area = (double(p.Rect.Right) + 2.0 * p.Margin.x) * (double(p.Rect.Bottom) + 2.0 * p.Margin.y);
  // An empty or broken area has no scale to take; the record stays as it is
  // instead of turning into infinities.
  if (!(area > 0.0) || !std::isfinite(area)) return;
  const double f = std::sqrt(40000.0 / area);
  p.Rect.Right = float(std::nearbyint(p.Rect.Right * f));
  p.Rect.Bottom = float(std::nearbyint(p.Rect.Bottom * f));
  p.Margin.x = float(std::nearbyint(p.Margin.x * f));
  p.Margin.y = float(std::nearbyint(p.Margin.y * f));
}

float FitShadowSize(float& width, float& height) {
  // A size that is not a finite positive number would never shrink below
  // the limits (infinity halves to itself): it is left for the caller to refuse.
  if (!(width > 0.0f) || !(height > 0.0f) || !std::isfinite(width) || !std::isfinite(height)) return 1.0f;
  int n = 0;
  while (double(width) * double(height) > 700000.0) {
    width *= 0.5f;
    height *= 0.5f;
    ++n;
  }
  while (width > 10000.0f || height > 10000.0f) {
    width *= 0.5f;
    height *= 0.5f;
    ++n;
  }
  return std::ldexp(1.0f, n);
}

void FillShadowGradient(TSysBitmap* bitmap, uint8_t start_alpha, uint8_t end_alpha, uint8_t direction) {
  KAV_ASSERT(bitmap != nullptr && bitmap->BytesPerPixel() == 4);
  const int32_t w = bitmap->Width(), h = bitmap->Height(), s = w + h;
  const int32_t diff = int32_t(end_alpha) - int32_t(start_alpha);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = bitmap->Row(h - 1 - y);
    for (int32_t x = 0; x < w; ++x) {
      int32_t t = 0, d = 1;
      switch (direction) {
        case 0: t = h + x - y - 1; d = s; break;
        case 1: t = s - x - y - 2; d = s; break;
        case 2: t = w - x - 1 + y; d = s; break;
        case 3: t = x + y; d = s; break;
        case 4: t = y; d = h; break;
        case 5: t = h - y - 1; d = h; break;
        case 6: t = x; d = w; break;
        case 7: t = w - x - 1; d = w; break;
        default: t = 0; d = 1; break;  // even fill
      }
      const uint32_t a = uint32_t(int32_t(start_alpha) + diff * t / d) & 0xFF;
      const uint32_t px = a << 24;
      std::memcpy(row + size_t(x) * 4, &px, 4);
    }
    if (!CallLoadCallback(bitmap)) return;
  }
}

}  // namespace kav
