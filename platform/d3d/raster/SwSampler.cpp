#include "platform/d3d/raster/SwSampler.h"

#include <algorithm>

namespace kav {

namespace {

inline TSwColorF Lerp(const TSwColorF& a, const TSwColorF& b, float t) {
  return TSwColorF{a.b + (b.b - a.b) * t, a.g + (b.g - a.g) * t, a.r + (b.r - a.r) * t, a.a + (b.a - a.a) * t};
}

inline TSwColorF Fetch(const TSwSamplerView& s, const TSwLevelView& lv, int32_t x, int32_t y) {
  return SwColorFromArgb(SwFetchArgb(s.Format, lv, x, y));
}

}  // namespace

float SwComputeLod(const float* d, int32_t w, int32_t h, float bias) {
  float ax = d[0] * float(w), ay = d[1] * float(h);
  float bx = d[2] * float(w), by = d[3] * float(h);
  float rho2 = std::max(ax * ax + ay * ay, bx * bx + by * by);
  if (!(rho2 > 0.0f)) return -100.0f;
  return 0.5f * std::log2(rho2) + bias;
}

TSwColorF SwSampleLevel(const TSwSamplerView& s, int32_t level, TSwFilter filter, float u, float v) {
  const TSwLevelView& lv = s.Level[level];
  if (filter == TSwFilter::Point || filter == TSwFilter::None) {
    int32_t x = SwAddress(s.AddressU, SwFloorToInt(u * float(lv.Width)), lv.Width);
    int32_t y = SwAddress(s.AddressV, SwFloorToInt(v * float(lv.Height)), lv.Height);
    return Fetch(s, lv, x, y);
  }
  float fx = u * float(lv.Width) - 0.5f, fy = v * float(lv.Height) - 0.5f;
  int32_t ix = SwFloorToInt(fx), iy = SwFloorToInt(fy);
  float wx = fx - float(ix), wy = fy - float(iy);
  int32_t x0 = SwAddress(s.AddressU, ix, lv.Width), x1 = SwAddress(s.AddressU, ix + 1, lv.Width);
  int32_t y0 = SwAddress(s.AddressV, iy, lv.Height), y1 = SwAddress(s.AddressV, iy + 1, lv.Height);
  // Down each column first, then across: the fast paths do the same.
  TSwColorF left = Lerp(Fetch(s, lv, x0, y0), Fetch(s, lv, x0, y1), wy);
  TSwColorF right = Lerp(Fetch(s, lv, x1, y0), Fetch(s, lv, x1, y1), wy);
  return Lerp(left, right, wx);
}

TSwColorF SwSample2D(const TSwSamplerView& s, float u, float v, const float* d) {
  if (s.Kind != TSwSamplerView::Tex2D) return TSwColorF{0, 0, 0, 1};
  int32_t base = s.BaseLevel;
  float lod = d ? SwComputeLod(d, s.Level[base].Width, s.Level[base].Height, s.LodBias) : -100.0f;
  if (!(lod > 0.0f)) return SwSampleLevel(s, base, s.MagFilter, u, v);
  int32_t last = s.Levels - 1;
  if (s.MipFilter == TSwFilter::None || base == last) return SwSampleLevel(s, base, s.MinFilter, u, v);
  if (s.MipFilter == TSwFilter::Point) {
    int32_t l = std::min(last, base + SwFloorToInt(lod + 0.5f));
    return SwSampleLevel(s, l, s.MinFilter, u, v);
  }
  int32_t l0 = SwFloorToInt(lod);
  float f = lod - float(l0);
  l0 = std::min(last, base + l0);
  int32_t l1 = std::min(last, l0 + 1);
  TSwColorF a = SwSampleLevel(s, l0, s.MinFilter, u, v);
  if (l1 == l0) return a;
  return Lerp(a, SwSampleLevel(s, l1, s.MinFilter, u, v), f);
}

TSwColorF SwSample3D(const TSwSamplerView& s, float u, float v, float w) {
  if (s.Kind != TSwSamplerView::Volume) return TSwColorF{0, 0, 0, 1};
  const TSwLevelView& lv = s.Level[0];
  auto fetch = [&](int32_t x, int32_t y, int32_t z) {
    TSwLevelView slice{lv.Bits + int64_t(z) * s.SlicePitch, lv.Pitch, lv.Width, lv.Height};
    return Fetch(s, slice, x, y);
  };
  if (s.MagFilter != TSwFilter::Linear && s.MagFilter != TSwFilter::Anisotropic) {
    int32_t x = SwAddress(s.AddressU, SwFloorToInt(u * float(lv.Width)), lv.Width);
    int32_t y = SwAddress(s.AddressV, SwFloorToInt(v * float(lv.Height)), lv.Height);
    int32_t z = SwAddress(s.AddressW, SwFloorToInt(w * float(s.Depth)), s.Depth);
    return fetch(x, y, z);
  }
  float fx = u * float(lv.Width) - 0.5f, fy = v * float(lv.Height) - 0.5f, fz = w * float(s.Depth) - 0.5f;
  int32_t ix = SwFloorToInt(fx), iy = SwFloorToInt(fy), iz = SwFloorToInt(fz);
  float wx = fx - float(ix), wy = fy - float(iy), wz = fz - float(iz);
  int32_t x0 = SwAddress(s.AddressU, ix, lv.Width), x1 = SwAddress(s.AddressU, ix + 1, lv.Width);
  int32_t y0 = SwAddress(s.AddressV, iy, lv.Height), y1 = SwAddress(s.AddressV, iy + 1, lv.Height);
  int32_t z0 = SwAddress(s.AddressW, iz, s.Depth), z1 = SwAddress(s.AddressW, iz + 1, s.Depth);
  auto bilinear = [&](int32_t z) {
    TSwColorF left = Lerp(fetch(x0, y0, z), fetch(x0, y1, z), wy);
    TSwColorF right = Lerp(fetch(x1, y0, z), fetch(x1, y1, z), wy);
    return Lerp(left, right, wx);
  };
  return Lerp(bilinear(z0), bilinear(z1), wz);
}

}  // namespace kav
