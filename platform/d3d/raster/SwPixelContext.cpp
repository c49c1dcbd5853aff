// What pixel kernels reach through TSwPixelContext: samplers and constants.
#include <algorithm>

#include "platform/d3d/raster/SwFastSpan.h"
#include "platform/d3d/raster/SwSampleSimd.h"
#include "platform/d3d/raster/SwSampler.h"

namespace kav {

namespace {

inline bool Is32Bit(const TSwSamplerView& s) {
  return s.Format == TSwFormat::A8R8G8B8 || s.Format == TSwFormat::X8R8G8B8;
}

inline TSwColorF ToColor(__m128 v) {
  alignas(16) float c[4];
  _mm_store_ps(c, v);
  return TSwColorF{c[0], c[1], c[2], c[3]};
}

}  // namespace

bool SwSamplerNeedsLod(const TSwSamplerView& s) {
  return s.Kind == TSwSamplerView::Tex2D &&
         (s.MagFilter != s.MinFilter || (s.MipFilter != TSwFilter::None && s.BaseLevel < s.Levels - 1));
}

TSwColorF TSwPixelContext::Sample(int stage, float u, float v) const {
  if (stage < 0 || stage >= kSwMaxStages) return TSwColorF{0, 0, 0, 1};
  const float* d = (derivs_ && stage < state_->TexSets) ? derivs_[stage] : nullptr;
  if (span_derivs_ && stage < state_->TexSets) d = span_derivs_ + 4 * stage;  // the span's first pixel
  const TSwSamplerView& s = state_->Samplers[stage];
  if (fast_ && s.Kind == TSwSamplerView::Tex2D)
    return ToColor(SwSample2D4(s, u, v, d, s.Format == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u));
  return SwSample2D(s, u, v, d);
}

TSwColorF TSwPixelContext::Sample3D(int stage, float u, float v, float w) const {
  if (stage < 0 || stage >= kSwMaxStages) return TSwColorF{0, 0, 0, 1};
  return SwSample3D(state_->Samplers[stage], u, v, w);
}

bool TSwPixelContext::TexelView(int stage, TSwTexelView& out) const {
  if (stage < 0 || stage >= kSwMaxStages) return false;
  const TSwSamplerView& s = state_->Samplers[stage];
  if (s.Kind != TSwSamplerView::Tex2D || SwSamplerNeedsLod(s)) return false;
  // Without a footprint dependence every pixel samples the base level with
  // the magnification filter (the minification filter is the same).
  const TSwLevelView& lv = s.Level[s.BaseLevel];
  out = TSwTexelView{lv.Bits, lv.Pitch, lv.Width, lv.Height, s.Format, s.MagFilter, s.AddressU, s.AddressV};
  return lv.Bits != nullptr && lv.Width > 0 && lv.Height > 0;
}

const float* TSwPixelContext::Constant(int i) const {
  static const float kZero[4] = {0, 0, 0, 0};
  return (i >= 0 && i < kSwPixelConstants) ? state_->Constants[i] : kZero;
}

void TSwPixelContext::SampleSpan(int stage, const float* u, const float* v, int32_t count, TSwColorF* out) const {
  if (stage < 0 || stage >= kSwMaxStages || state_->Samplers[stage].Kind != TSwSamplerView::Tex2D) {
    for (int32_t i = 0; i < count; ++i) out[i] = TSwColorF{0, 0, 0, 1};
    return;
  }
  const TSwSamplerView& s = state_->Samplers[stage];
  const bool needs_lod = SwSamplerNeedsLod(s);
  int32_t i = 0;
  if (fast_ && !needs_lod && (Is32Bit(s) || s.Format == TSwFormat::L8)) {
    i = SwSampleSpanAvx2(s, u, v, count, out);
    if (i < count && count - i < 8) {
      // The last one to seven pairs as a group of eight padded with the last.
      float tu[8], tv[8];
      TSwColorF t[8];
      for (int32_t j = 0; j < 8; ++j) {
        tu[j] = u[std::min(i + j, count - 1)];
        tv[j] = v[std::min(i + j, count - 1)];
      }
      if (SwSampleSpanAvx2(s, tu, tv, 8, t) == 8) {
        std::copy_n(t, count - i, out + i);
        i = count;
      }
    }
  }
  const uint32_t or_mask = s.Format == TSwFormat::X8R8G8B8 ? 0xFF000000u : 0u;
  const bool has_set = stage < state_->TexSets;
  for (; i < count; ++i) {
    const float* d = nullptr;
    if (has_set) d = span_derivs_ ? span_derivs_ + (size_t(i) * kSwMaxTexCoords + size_t(stage)) * 4
                                  : (derivs_ ? derivs_[stage] : nullptr);
    out[i] = fast_ ? ToColor(SwSample2D4(s, u[i], v[i], d, or_mask)) : SwSample2D(s, u[i], v[i], d);
  }
}

void TSwPixelContext::Sample3DSpan(int stage, const float* u, const float* v, const float* w, int32_t count,
                                   TSwColorF* out) const {
  int32_t i = 0;
  if (fast_ && stage >= 0 && stage < kSwMaxStages) i = SwSample3DSpanAvx2(state_->Samplers[stage], u, v, w, count, out);
  for (; i < count; ++i) out[i] = Sample3D(stage, u[i], v[i], w[i]);
}

}  // namespace kav
