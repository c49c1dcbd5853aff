// Output merging of the reference pipeline: blend factors, blend operations
// and the conversion to 8-bit channels. Factors are formed as k0 + k1 * x
// (x the source or destination alpha or colour) so that the vector fast paths
// reach the same floats.
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/d3d/raster/SwPixelState.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

inline float SwClamp01(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// 0..1 to a byte: clamped, times 255, plus 0.5, truncated.
inline uint32_t SwToByte(float v) { return uint32_t(SwClamp01(v) * 255.0f + 0.5f); }

inline uint32_t SwPackArgb(const TSwColorF& c) {
  return SwToByte(c.b) | SwToByte(c.g) << 8 | SwToByte(c.r) << 16 | SwToByte(c.a) << 24;
}

// Factor of `f` for one channel: s and d are the channel's source and
// destination values, sa and da the alphas.
inline float SwBlendFactor(TSwBlend f, float s, float d, float sa, float da) {
  switch (f) {
    case TSwBlend::Zero: return 0.0f;
    case TSwBlend::One: return 1.0f;
    case TSwBlend::SrcColor: return 0.0f + 1.0f * s;
    case TSwBlend::InvSrcColor: return 1.0f + -1.0f * s;
    case TSwBlend::SrcAlpha: return 0.0f + 1.0f * sa;
    case TSwBlend::InvSrcAlpha: return 1.0f + -1.0f * sa;
    case TSwBlend::DestAlpha: return 0.0f + 1.0f * da;
    case TSwBlend::InvDestAlpha: return 1.0f + -1.0f * da;
    case TSwBlend::DestColor: return 0.0f + 1.0f * d;
    case TSwBlend::InvDestColor: return 1.0f + -1.0f * d;
  }
  return 0.0f;
}

inline float SwBlendOp(TSwBlendOp op, float s, float d, float sf, float df) {
  switch (op) {
    case TSwBlendOp::Add: return s * sf + d * df;
    case TSwBlendOp::Subtract: return s * sf - d * df;
    case TSwBlendOp::RevSubtract: return d * df - s * sf;
    case TSwBlendOp::Min: return std::min(s, d);  // factors do not apply to min and max
    case TSwBlendOp::Max: return std::max(s, d);
  }
  return s;
}

// Blends source colour `s` (already clamped) over the destination pixel.
inline TSwColorF SwBlendColor(const TSwBlendState& b, const TSwColorF& s, const TSwColorF& d) {
  auto chan = [&](float sv, float dv) {
    return SwBlendOp(b.Op, sv, dv, SwBlendFactor(b.Src, sv, dv, s.a, d.a), SwBlendFactor(b.Dest, sv, dv, s.a, d.a));
  };
  return TSwColorF{chan(s.b, d.b), chan(s.g, d.g), chan(s.r, d.r),
                   SwBlendOp(b.OpAlpha, s.a, d.a, SwBlendFactor(b.SrcAlpha, s.a, d.a, s.a, d.a),
                             SwBlendFactor(b.DestAlpha, s.a, d.a, s.a, d.a))};
}

// Blends (when enabled) and writes one pixel of the render target.
inline void SwWritePixel(const TSwPixelState& ps, int32_t x, int32_t y, const TSwColorF& c) {
  uint32_t* p = reinterpret_cast<uint32_t*>(ps.Target + int64_t(y) * ps.TargetPitch) + x;
  TSwColorF s{SwClamp01(c.b), SwClamp01(c.g), SwClamp01(c.r), SwClamp01(c.a)};
  const bool x8 = ps.TargetFormat == TSwFormat::X8R8G8B8;
  if (ps.Blend.Enable) {
    uint32_t dv = *p;
    if (x8) dv |= 0xFF000000u;
    s = SwBlendColor(ps.Blend, s, SwColorFromArgb(dv));
  }
  uint32_t out = SwPackArgb(s);
  *p = x8 ? out | 0xFF000000u : out;
}

}  // namespace kav
