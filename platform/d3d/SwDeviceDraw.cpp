// The drawing half of TSwDevice: clears, draws, copies and presentation.
#include <algorithm>
#include <bit>

#include "platform/d3d/SwDevice.h"
#include "platform/d3d/raster/SwBands.inl"
#include "platform/d3d/raster/SwBlit.h"
#include "platform/d3d/raster/SwPixelState.h"

namespace kav {

using Guard = std::lock_guard<std::recursive_mutex>;

namespace {

TSwRect ViewportRect(const TSwViewport& vp) {
  return TSwRect{int32_t(vp.X), int32_t(vp.Y), int32_t(vp.X + vp.Width), int32_t(vp.Y + vp.Height)};
}

bool InsideSurface(const TSwRect& r, const TSwSurface& s) {
  return r.left >= 0 && r.top >= 0 && !r.Empty() && uint32_t(r.right) <= s.Width() && uint32_t(r.bottom) <= s.Height();
}

void FillSampler(TSwSamplerView& v, const TSwBaseTexture* t, const uint32_t* st) {
  v = TSwSamplerView{};
  v.AddressU = TSwAddress(st[size_t(TSwSamplerState::AddressU)]);
  v.AddressV = TSwAddress(st[size_t(TSwSamplerState::AddressV)]);
  v.AddressW = TSwAddress(st[size_t(TSwSamplerState::AddressW)]);
  v.MagFilter = TSwFilter(st[size_t(TSwSamplerState::MagFilter)]);
  v.MinFilter = TSwFilter(st[size_t(TSwSamplerState::MinFilter)]);
  v.MipFilter = TSwFilter(st[size_t(TSwSamplerState::MipFilter)]);
  v.LodBias = std::bit_cast<float>(st[size_t(TSwSamplerState::MipMapLodBias)]);
  if (!t) return;
  v.Format = t->Format();
  if (t->Type() == TSwResourceType::Texture) {
    const auto* tex = static_cast<const TSwTexture*>(t);
    v.Kind = TSwSamplerView::Tex2D;
    v.Levels = int32_t(std::min<uint32_t>(tex->GetLevelCount(), kSwMaxLevels));
    for (int32_t i = 0; i < v.Levels; ++i) {
      const TSwSurface* s = tex->Level(uint32_t(i));
      v.Level[i] = TSwLevelView{s->Bits(), s->Pitch(), int32_t(s->Width()), int32_t(s->Height())};
    }
    v.BaseLevel = int32_t(std::min<uint32_t>(st[size_t(TSwSamplerState::MaxMipLevel)], uint32_t(v.Levels - 1)));
  } else {
    const auto* vol = static_cast<const TSwVolumeTexture*>(t);
    const TSwVolumeTexture::TLevel& lv = vol->Level(0);
    v.Kind = TSwSamplerView::Volume;
    v.Levels = 1;
    v.Level[0] = TSwLevelView{lv.Block->Data(), lv.RowPitch, int32_t(lv.Desc.Width), int32_t(lv.Desc.Height)};
    v.Depth = int32_t(lv.Desc.Depth);
    v.SlicePitch = lv.SlicePitch;
  }
}

}  // namespace

TSwRect TSwDevice::DrawClip() const {
  const TSwRect clip = SwIntersect(ViewportRect(st_.Viewport), st_.Target->Bounds());
  return st_.Render[size_t(TSwRenderState::ScissorTestEnable)] ? SwIntersect(clip, st_.Scissor) : clip;
}

void TSwDevice::BuildPixelState(TSwPixelState& ps) const {
  const TSwSurface& rt = *st_.Target;
  ps.Target = rt.Bits();
  ps.TargetPitch = rt.Pitch();
  ps.TargetFormat = rt.Format();
  ps.Clip = DrawClip();
  ps.HasDiffuse = (st_.Fvf & SwFvfDiffuse) != 0;
  ps.HasSpecular = (st_.Fvf & SwFvfSpecular) != 0;
  ps.TexSets = int32_t((st_.Fvf & SwFvfTexCountMask) >> SwFvfTexCountShift);
  ps.StageCount = 0;
  for (int s = 0; s < kSwMaxStages; ++s) {
    const uint32_t* t = st_.Stage[s];
    TSwStageOps& o = ps.Stages[s];
    o.ColorOp = TSwTextureOp(t[size_t(TSwStageState::ColorOp)]);
    o.AlphaOp = TSwTextureOp(t[size_t(TSwStageState::AlphaOp)]);
    o.ColorArg1 = TSwTextureArg(t[size_t(TSwStageState::ColorArg1)]);
    o.ColorArg2 = TSwTextureArg(t[size_t(TSwStageState::ColorArg2)]);
    o.AlphaArg1 = TSwTextureArg(t[size_t(TSwStageState::AlphaArg1)]);
    o.AlphaArg2 = TSwTextureArg(t[size_t(TSwStageState::AlphaArg2)]);
    o.TexCoordIndex = int32_t(t[size_t(TSwStageState::TexCoordIndex)]);
    if (ps.StageCount == s && o.ColorOp != TSwTextureOp::Disable) ps.StageCount = s + 1;
    FillSampler(ps.Samplers[s], st_.Textures[s].get(), st_.Sampler[s]);
  }
  auto rs = [&](TSwRenderState s) { return st_.Render[size_t(s)]; };
  TSwBlendState& b = ps.Blend;
  b.Enable = rs(TSwRenderState::AlphaBlendEnable) != 0;
  b.Src = TSwBlend(rs(TSwRenderState::SrcBlend));
  b.Dest = TSwBlend(rs(TSwRenderState::DestBlend));
  b.Op = TSwBlendOp(rs(TSwRenderState::BlendOp));
  if (rs(TSwRenderState::SeparateAlphaBlendEnable)) {
    b.SrcAlpha = TSwBlend(rs(TSwRenderState::SrcBlendAlpha));
    b.DestAlpha = TSwBlend(rs(TSwRenderState::DestBlendAlpha));
    b.OpAlpha = TSwBlendOp(rs(TSwRenderState::BlendOpAlpha));
  } else {
    b.SrcAlpha = b.Src;
    b.DestAlpha = b.Dest;
    b.OpAlpha = b.Op;
  }
  ps.Kernel = st_.Shader ? st_.Shader->Kernel() : nullptr;
  ps.SpanKernel = st_.Shader ? st_.Shader->SpanKernel() : nullptr;
  ps.KernelStage = st_.Shader ? st_.Shader->StageForm() : nullptr;
  if (ps.Kernel) std::copy(&st_.Constants[0][0], &st_.Constants[0][0] + 4 * kSwPixelConstants, &ps.Constants[0][0]);
}

namespace {

// A fill shared out in bands over the raster threads: a full-screen fill is
// bound by memory, which one thread does not saturate.
void FillInBands(TSwSurface& rt, const TSwRect& r, uint32_t color, int32_t threads) {
  SwForBands(r.top, r.bottom, int64_t(r.Width()) * r.Height(), threads,
             [&](int32_t b0, int32_t b1) { SwFillRect(rt, TSwRect{r.left, b0, r.right, b1}, color); });
}

}  // namespace

TSwResult TSwDevice::Clear(uint32_t count, const TSwRect* rects, uint32_t flags, uint32_t color, float, uint32_t) {
  Guard g(lock_);
  if ((flags & (SwClearZBuffer | SwClearStencil)) || (count > 0 && !rects) || !st_.Target)
    return TSwResult::InvalidCall;
  if (LostNow() || !(flags & SwClearTarget)) return TSwResult::Ok;
  TSwSurface& rt = *st_.Target;
  const TSwRect clip = DrawClip();
  if (backend_) return backend_->Clear(*this, count, rects, color, clip);
  const uint32_t stored = rt.Format() == TSwFormat::X8R8G8B8 ? color | 0xFF000000u : color;
  TSwSurface::TUniform& u = rt.Uniform();
  const bool same = u.Known && u.Value == stored;
  const int32_t threads = threads_ > 0 ? threads_ : 1024;
  auto fill = [&](const TSwRect& r) {
    if (r.Empty()) return;
    // Pixels outside the dirty rectangle already hold the value.
    if (same) {
      TSwRect d = SwIntersect(r, u.Dirty);
      if (!d.Empty()) FillInBands(rt, d, color, threads);
      return;
    }
    FillInBands(rt, r, color, threads);
    rt.MarkDirty(r);
  };
  if (count == 0) {
    fill(clip);
  } else {
    for (uint32_t i = 0; i < count; ++i) fill(SwIntersect(rects[i], clip));
  }
  // Cleared whole: one value everywhere again.
  bool whole = count == 0 ? clip == rt.Bounds() : false;
  for (uint32_t i = 0; i < count && !whole; ++i) whole = SwIntersect(rects[i], clip) == rt.Bounds();
  if (whole) u = TSwSurface::TUniform{true, stored, TSwRect{}};
  return TSwResult::Ok;
}

TSwResult TSwDevice::DrawPrimitive(TSwPrimitive type, uint32_t start, uint32_t count) {
  Guard g(lock_);
  if (!st_.Stream) return TSwResult::InvalidCall;
  uint32_t stride = st_.StreamStride;
  uint32_t n = SwVertexCount(type, count);
  uint64_t begin = uint64_t(st_.StreamOffset) + uint64_t(start) * stride;
  uint64_t end = n ? begin + uint64_t(n - 1) * stride + SwFvfStride(st_.Fvf) : begin;
  if (end > st_.Stream->Length()) return TSwResult::InvalidCall;
  return Draw(type, count, st_.Stream->Data() + begin, stride, n);
}

TSwResult TSwDevice::DrawPrimitiveUP(TSwPrimitive type, uint32_t count, const void* data, uint32_t stride) {
  Guard g(lock_);
  if (!data && count) return TSwResult::InvalidCall;
  return Draw(type, count, static_cast<const uint8_t*>(data), stride, SwVertexCount(type, count));
}

TSwResult TSwDevice::Draw(TSwPrimitive type, uint32_t count, const uint8_t* data, uint32_t stride, uint32_t n) {
  if (!in_scene_ || !st_.Fvf || stride < SwFvfStride(st_.Fvf) || uint32_t(type) > 5 || !st_.Target)
    return TSwResult::InvalidCall;
  if (count > kSwMaxPrimitiveCount) return TSwResult::InvalidCall;
  if (count == 0 || LostNow()) return TSwResult::Ok;
  TSwPixelState ps;
  BuildPixelState(ps);
  if (backend_) return backend_->Draw(*this, type, count, data, stride, n, ps.Clip);
  TSwDrawRequest req;
  req.Type = type;
  req.PrimitiveCount = count;
  req.Vertices = TSwVertexSource{data, stride, st_.Fvf, n};
  req.Wvp = st_.Transforms[0] * st_.Transforms[1] * st_.Transforms[2];
  req.Viewport = st_.Viewport;
  req.Cull = TSwCull(st_.Render[size_t(TSwRenderState::CullMode)]);
  req.Threads = threads_ > 0 ? threads_ : 1024;
  req.FastPaths = fast_paths_;
  st_.Target->MarkDirty(SwDraw(ps, req, scratch_));
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetRenderTargetData(TSwSurface* rt, TSwSurface* dest) {
  Guard g(lock_);
  if (!rt || !dest || !(rt->GetDesc().Usage & SwUsageRenderTarget) || dest->GetDesc().Pool != TSwPool::SystemMem ||
      rt->Width() != dest->Width() || rt->Height() != dest->Height() || rt->Format() != dest->Format())
    return TSwResult::InvalidCall;
  if (LostNow()) return TSwResult::DeviceLost;
  if (backend_) return backend_->ReadRenderTarget(*this, *rt, *dest);
  SwStretchNearest(*rt, rt->Bounds(), *dest, dest->Bounds());
  return TSwResult::Ok;
}

TSwResult TSwDevice::StretchRect(TSwSurface* src, const TSwRect* src_rect, TSwSurface* dst, const TSwRect* dst_rect,
                                 TSwFilter) {
  Guard g(lock_);
  if (!src || !dst || !(dst->GetDesc().Usage & SwUsageRenderTarget)) return TSwResult::InvalidCall;
  TSwRect sr = src_rect ? *src_rect : src->Bounds();
  TSwRect dr = dst_rect ? *dst_rect : dst->Bounds();
  if (!InsideSurface(sr, *src) || !InsideSurface(dr, *dst)) return TSwResult::InvalidCall;
  if (src == dst && !SwIntersect(sr, dr).Empty()) return TSwResult::InvalidCall;
  if (LostNow()) return TSwResult::Ok;
  if (backend_) return backend_->StretchRect(*this, *src, sr, *dst, dr);
  SwStretchNearest(*src, sr, *dst, dr);
  dst->MarkDirty(dr);
  return TSwResult::Ok;
}

TSwResult TSwDevice::PresentChain(TSwSwapChain& chain, const TSwRect* src, const TSwRect* dst, TSwWindow window) {
  Guard g(lock_);
  if (LostNow()) return TSwResult::DeviceLost;
  const TSwSurface& bb = *chain.back_;
  TSwRect sr = src ? *src : bb.Bounds();
  if (!InsideSurface(sr, bb)) return TSwResult::InvalidCall;
  TSwRect dr = dst ? *dst : TSwRect{0, 0, sr.Width(), sr.Height()};
  if (dr.Empty() || dr.Width() > int32_t(kSwMaxSurfaceSize) || dr.Height() > int32_t(kSwMaxSurfaceSize))
    return TSwResult::InvalidCall;
  if (backend_) return backend_->Present(*this, chain, sr, dr, window ? window : chain.window_);
  const Ref<TSwPresentSink>& sink = d3d_->Config().Sink;
  if (!sink) return TSwResult::Ok;
  TSwFrameView view;
  view.Format = bb.Format();
  view.Width = dr.Width();
  view.Height = dr.Height();
  view.Threads = threads_ > 0 ? threads_ : 1024;
  if (sr.Width() == dr.Width() && sr.Height() == dr.Height()) {
    view.Bits = bb.Row(sr.top) + int64_t(sr.left) * 4;
    view.Pitch = bb.Pitch();
  } else {
    chain.scaled_.resize(size_t(dr.Width()) * size_t(dr.Height()) * 4);
    SwStretch32(bb.Row(0), bb.Pitch(), sr, chain.scaled_.data(), dr.Width() * 4, dr.Width(), dr.Height());
    view.Bits = chain.scaled_.data();
    view.Pitch = dr.Width() * 4;
  }
  sink->Present(window ? window : chain.window_, view, dr.left, dr.top);
  return TSwResult::Ok;
}

}  // namespace kav
