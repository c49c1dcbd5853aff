#include "platform/d3d/SwDevice.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/d3d/raster/SwWorkerPool.h"

namespace kav {

using Guard = std::lock_guard<std::recursive_mutex>;

TSwDevice::TSwDevice(Ref<TSwDirect3D> d3d, uint32_t adapter, TSwWindow focus)
    : d3d_(std::move(d3d)), adapter_(adapter), focus_(focus) {
  memory_ = Ref<TSwVideoMemory>(d3d_->VideoMemory(adapter));
  counter_ = MakeRef<TSwDefaultPoolCounter>();
  threads_ = d3d_->Config().RasterThreads;
  d3d_->AttachDevice(this);
  ResetState();
  if (d3d_->Config().Backend) backend_ = d3d_->Config().Backend->NewDevice(*this);
}

void TSwDevice::Dispose() {
  d3d_->DetachDevice(this);
  {
    Guard g(lock_);
    if (backend_) backend_->DeviceGone(*this);
    backend_ = nullptr;
    st_ = TState{};
    if (chain_) chain_->device_ = nullptr;  // a chain the caller still holds presents nothing now
    chain_ = nullptr;
  }
  d3d_ = nullptr;
  TRefObject::Dispose();
}

void TSwDevice::ResetState() {
  st_ = TState{};
  auto rs = [&](TSwRenderState s, uint32_t v) { st_.Render[size_t(s)] = v; };
  rs(TSwRenderState::ZEnable, 0);
  rs(TSwRenderState::ZWriteEnable, 1);
  rs(TSwRenderState::FillMode, uint32_t(TSwFill::Solid));
  rs(TSwRenderState::ShadeMode, uint32_t(TSwShade::Gouraud));
  rs(TSwRenderState::CullMode, uint32_t(TSwCull::CCW));
  rs(TSwRenderState::Lighting, 1);
  rs(TSwRenderState::AlphaBlendEnable, 0);
  rs(TSwRenderState::SrcBlend, uint32_t(TSwBlend::One));
  rs(TSwRenderState::DestBlend, uint32_t(TSwBlend::Zero));
  rs(TSwRenderState::BlendOp, uint32_t(TSwBlendOp::Add));
  rs(TSwRenderState::SeparateAlphaBlendEnable, 0);
  rs(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
  rs(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::Zero));
  rs(TSwRenderState::BlendOpAlpha, uint32_t(TSwBlendOp::Add));
  rs(TSwRenderState::ScissorTestEnable, 0);
  for (int s = 0; s < kSwMaxStages; ++s) {
    uint32_t* t = st_.Stage[s];
    t[size_t(TSwStageState::ColorOp)] = uint32_t(s == 0 ? TSwTextureOp::Modulate : TSwTextureOp::Disable);
    t[size_t(TSwStageState::AlphaOp)] = uint32_t(s == 0 ? TSwTextureOp::SelectArg1 : TSwTextureOp::Disable);
    t[size_t(TSwStageState::ColorArg1)] = t[size_t(TSwStageState::AlphaArg1)] = uint32_t(TSwTextureArg::Texture);
    t[size_t(TSwStageState::ColorArg2)] = t[size_t(TSwStageState::AlphaArg2)] = uint32_t(TSwTextureArg::Current);
    t[size_t(TSwStageState::TexCoordIndex)] = uint32_t(s);
    uint32_t* m = st_.Sampler[s];
    m[size_t(TSwSamplerState::AddressU)] = m[size_t(TSwSamplerState::AddressV)] =
        m[size_t(TSwSamplerState::AddressW)] = uint32_t(TSwAddress::Wrap);
    m[size_t(TSwSamplerState::MagFilter)] = m[size_t(TSwSamplerState::MinFilter)] = uint32_t(TSwFilter::Point);
    m[size_t(TSwSamplerState::MipFilter)] = uint32_t(TSwFilter::None);
    m[size_t(TSwSamplerState::MipMapLodBias)] = 0;
    m[size_t(TSwSamplerState::MaxMipLevel)] = 0;
    m[size_t(TSwSamplerState::MaxAnisotropy)] = 1;
  }
  if (chain_) {
    st_.Target = Ref<TSwSurface>(chain_->BackBuffer());
    st_.Viewport = TSwViewport{0, 0, st_.Target->Width(), st_.Target->Height(), 0.0f, 1.0f};
    st_.Scissor = st_.Target->Bounds();
  }
  in_scene_ = false;
}

TSwResult TSwDevice::CreateChain(TSwPresentParams& params, TSwWindow fallback, bool counted,
                                 Ref<TSwSwapChain>& out) {
  out = nullptr;
  if (params.EnableAutoDepthStencil) return TSwResult::NotAvailable;
  if (params.BackBufferFormat == TSwFormat::Unknown) params.BackBufferFormat = TSwFormat::X8R8G8B8;
  if (params.BackBufferFormat != TSwFormat::X8R8G8B8 && params.BackBufferFormat != TSwFormat::A8R8G8B8)
    return TSwResult::InvalidCall;
  if (params.BackBufferCount > 3) return TSwResult::InvalidCall;
  if (params.BackBufferCount == 0) params.BackBufferCount = 1;
  TSwWindow window = params.DeviceWindow ? params.DeviceWindow : fallback;
  if (!params.Windowed) {
    // Exclusive full screen: the back buffer is the adapter's display mode.
    TSwDisplayMode mode;
    d3d_->GetAdapterDisplayMode(adapter_, mode);
    if (params.BackBufferWidth == 0) params.BackBufferWidth = mode.Width;
    if (params.BackBufferHeight == 0) params.BackBufferHeight = mode.Height;
    if (params.BackBufferWidth != mode.Width || params.BackBufferHeight != mode.Height) return TSwResult::InvalidCall;
  }
  if (params.BackBufferWidth == 0 || params.BackBufferHeight == 0) {
    uint32_t w = 0, h = 0;
    const Ref<TSwPresentSink>& sink = d3d_->Config().Sink;
    if (!sink || !sink->ClientSize(window, w, h) || w == 0 || h == 0) return TSwResult::InvalidCall;
    if (params.BackBufferWidth == 0) params.BackBufferWidth = w;
    if (params.BackBufferHeight == 0) params.BackBufferHeight = h;
  }
  TSwSurfaceDesc desc{params.BackBufferFormat, TSwPool::Default, SwUsageRenderTarget, params.BackBufferWidth,
                      params.BackBufferHeight};
  Ref<TSwSurface> back;
  TSwResult r = TSwSurface::Create(desc, memory_.get(), counted ? counter_.get() : nullptr, back, !backend_);
  if (!SwOk(r)) return r;
  Ref<TSwSwapChain> c = Ref<TSwSwapChain>::Adopt(new TSwSwapChain());
  c->device_ = this;
  c->params_ = params;
  c->window_ = window;
  c->back_ = std::move(back);
  out = std::move(c);
  return TSwResult::Ok;
}

TSwResult TSwDevice::InitSwapChain(TSwPresentParams& params) {
  Guard g(lock_);
  TSwResult r = CreateChain(params, focus_, false, chain_);
  if (SwOk(r)) ResetState();
  return r;
}

TSwResult TSwDevice::TestCooperativeLevel() const {
  return LostNow() ? LostResult() : TSwResult::Ok;
}

TSwResult TSwDevice::Reset(TSwPresentParams& params) {
  Guard g(lock_);
  if (loss_.load() == TLoss::Lost) return TSwResult::DeviceLost;
  if (backend_) backend_->Sweep(*this);
  if (counter_->Count() > 0) return TSwResult::InvalidCall;
  st_ = TState{};  // drop references to the old back buffer first
  Ref<TSwSwapChain> old = std::move(chain_);
  Ref<TSwSwapChain> fresh;
  TSwResult r = CreateChain(params, focus_, false, fresh);
  if (!SwOk(r)) {
    chain_ = std::move(old);
    ResetState();
    return r;
  }
  old->device_ = nullptr;
  old = nullptr;
  chain_ = std::move(fresh);
  ResetState();
  loss_.store(TLoss::None);
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetSwapChain(uint32_t index, Ref<TSwSwapChain>& out) const {
  Guard g(lock_);
  out = nullptr;
  if (index != 0 || !chain_) return TSwResult::InvalidCall;
  out = chain_;
  return TSwResult::Ok;
}

TSwResult TSwDevice::CreateAdditionalSwapChain(TSwPresentParams& params, Ref<TSwSwapChain>& out) {
  Guard g(lock_);
  out = nullptr;
  if (LostNow()) return LostResult();
  TSwResult r = CreateChain(params, 0, true, out);
  if (SwOk(r)) out->keep_ = Ref<TSwDevice>(this);
  return r;
}

TSwResult TSwDevice::GetBackBuffer(uint32_t chain, uint32_t index, Ref<TSwSurface>& out) const {
  Guard g(lock_);
  out = nullptr;
  if (chain != 0 || !chain_) return TSwResult::InvalidCall;
  return chain_->GetBackBuffer(index, out);
}

TSwResult TSwDevice::Present(const TSwRect* src, const TSwRect* dst, TSwWindow window) {
  Ref<TSwSwapChain> c;
  {
    Guard g(lock_);
    c = chain_;
  }
  if (!c) return TSwResult::InvalidCall;
  return PresentChain(*c, src, dst, window);
}

TSwResult TSwDevice::BeginScene() {
  Guard g(lock_);
  if (in_scene_) return TSwResult::InvalidCall;
  in_scene_ = true;
  // The scene's draws follow at once: workers woken now are watching by the
  // time the first large draw is shared out.
  TSwWorkerPool::Shared().Prime(threads_ > 0 ? threads_ : TSwWorkerPool::Shared().MaxThreads());
  return TSwResult::Ok;
}

TSwResult TSwDevice::EndScene() {
  Guard g(lock_);
  if (!in_scene_) return TSwResult::InvalidCall;
  in_scene_ = false;
  return TSwResult::Ok;
}

TSwResult TSwDevice::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                                   TSwFormat format, TSwPool pool, Ref<TSwTexture>& out) {
  out = nullptr;
  if (LostNow()) return LostResult();
  if (width > kSwMaxTextureSize || height > kSwMaxTextureSize) return TSwResult::InvalidCall;
  return TSwTexture::Create(width, height, levels, usage, format, pool, memory_.get(), counter_.get(), out,
                            !backend_);
}

TSwResult TSwDevice::CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels,
                                         uint32_t usage, TSwFormat format, TSwPool pool,
                                         Ref<TSwVolumeTexture>& out) {
  out = nullptr;
  if (LostNow()) return LostResult();
  if (usage & (SwUsageRenderTarget | SwUsageDepthStencil)) return TSwResult::InvalidCall;
  return TSwVolumeTexture::Create(width, height, depth, levels, format, pool, memory_.get(), counter_.get(), out);
}

TSwResult TSwDevice::CreateOffscreenPlainSurface(uint32_t width, uint32_t height, TSwFormat format, TSwPool pool,
                                                 Ref<TSwSurface>& out) {
  out = nullptr;
  if (LostNow()) return LostResult();
  if (pool == TSwPool::Managed) return TSwResult::InvalidCall;
  return TSwSurface::Create(TSwSurfaceDesc{format, pool, 0, width, height}, memory_.get(), counter_.get(), out);
}

TSwResult TSwDevice::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, TSwPool pool,
                                        Ref<TSwVertexBuffer>& out) {
  out = nullptr;
  if (LostNow()) return LostResult();
  return TSwVertexBuffer::Create(length, usage, fvf, pool, memory_.get(), counter_.get(), out);
}

TSwResult TSwDevice::CreatePixelShader(const void* blob, size_t size, Ref<TSwPixelShader>& out) {
  out = nullptr;
  if (LostNow()) return LostResult();
  std::string name;
  TSwResult r = SwParsePixelShaderBlob(blob, size, name);
  if (!SwOk(r)) return r;
  if (d3d_->Config().Shaders == TSwShaderProfile::Level0) return TSwResult::NotAvailable;
  TSwSpanKernel span = nullptr;
  TSwStageForm stage = nullptr;
  TSwPixelKernel k = SwFindPixelKernel(name, &span, &stage);
  if (!k) return TSwResult::NotAvailable;
  out = MakeRef<TSwPixelShader>(name, k, span, stage);
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetRenderTarget(uint32_t index, TSwSurface* surface) {
  Guard g(lock_);
  if (index != 0 || !surface || !(surface->GetDesc().Usage & SwUsageRenderTarget)) return TSwResult::InvalidCall;
  st_.Target = Ref<TSwSurface>(surface);
  st_.Viewport = TSwViewport{0, 0, surface->Width(), surface->Height(), 0.0f, 1.0f};
  st_.Scissor = surface->Bounds();
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetScissorRect(const TSwRect& rect) {
  Guard g(lock_);
  if (!st_.Target || rect.left < 0 || rect.top < 0 || rect.right < rect.left || rect.bottom < rect.top ||
      uint32_t(rect.right) > st_.Target->Width() || uint32_t(rect.bottom) > st_.Target->Height())
    return TSwResult::InvalidCall;
  st_.Scissor = rect;
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetScissorRect(TSwRect& rect) const {
  Guard g(lock_);
  rect = st_.Scissor;
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetRenderTarget(uint32_t index, Ref<TSwSurface>& out) const {
  Guard g(lock_);
  out = nullptr;
  if (index != 0 || !st_.Target) return TSwResult::InvalidCall;
  out = st_.Target;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetViewport(const TSwViewport& vp) {
  Guard g(lock_);
  if (!st_.Target) return TSwResult::InvalidCall;
  uint64_t r = uint64_t(vp.X) + vp.Width, b = uint64_t(vp.Y) + vp.Height;
  if (vp.Width == 0 || vp.Height == 0 || r > st_.Target->Width() || b > st_.Target->Height())
    return TSwResult::InvalidCall;
  st_.Viewport = vp;
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetViewport(TSwViewport& vp) const {
  Guard g(lock_);
  vp = st_.Viewport;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetTransform(TSwTransform which, const TSwMatrix& m) {
  if (uint32_t(which) > 2) return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Transforms[size_t(which)] = m;
  return TSwResult::Ok;
}

TSwResult TSwDevice::GetTransform(TSwTransform which, TSwMatrix& m) const {
  if (uint32_t(which) > 2) return TSwResult::InvalidCall;
  Guard g(lock_);
  m = st_.Transforms[size_t(which)];
  return TSwResult::Ok;
}

namespace {

bool ValidRenderValue(TSwRenderState s, uint32_t v) {
  switch (s) {
    case TSwRenderState::FillMode: return v >= 1 && v <= 3;
    case TSwRenderState::ShadeMode: return v >= 1 && v <= 2;
    case TSwRenderState::CullMode: return v >= 1 && v <= 3;
    case TSwRenderState::SrcBlend:
    case TSwRenderState::DestBlend:
    case TSwRenderState::SrcBlendAlpha:
    case TSwRenderState::DestBlendAlpha: return v >= 1 && v <= 10;
    case TSwRenderState::BlendOp:
    case TSwRenderState::BlendOpAlpha: return v >= 1 && v <= 5;
    case TSwRenderState::ScissorTestEnable: return v <= 1;
    default: return true;
  }
}

bool ValidStageValue(TSwStageState s, uint32_t v) {
  switch (s) {
    case TSwStageState::ColorOp:
    case TSwStageState::AlphaOp: return v >= 1 && v <= 4;
    case TSwStageState::TexCoordIndex: return v < kSwMaxTexCoords;
    default: return v == 0 || v == 1 || v == 2 || v == 4;
  }
}

bool ValidSamplerValue(TSwSamplerState s, uint32_t v) {
  switch (s) {
    case TSwSamplerState::AddressU:
    case TSwSamplerState::AddressV:
    case TSwSamplerState::AddressW: return v >= 1 && v <= 3;
    case TSwSamplerState::MagFilter:
    case TSwSamplerState::MinFilter:
    case TSwSamplerState::MipFilter: return v <= 3;
    case TSwSamplerState::MipMapLodBias: return std::isfinite(std::bit_cast<float>(v));
    default: return true;
  }
}

}  // namespace

TSwResult TSwDevice::SetRenderState(TSwRenderState state, uint32_t value) {
  if (size_t(state) >= size_t(TSwRenderState::Count) || !ValidRenderValue(state, value))
    return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Render[size_t(state)] = value;
  return TSwResult::Ok;
}

uint32_t TSwDevice::GetRenderState(TSwRenderState state) const {
  if (size_t(state) >= size_t(TSwRenderState::Count)) return 0;
  Guard g(lock_);
  return st_.Render[size_t(state)];
}

TSwResult TSwDevice::SetTextureStageState(uint32_t stage, TSwStageState state, uint32_t value) {
  if (stage >= kSwMaxStages || size_t(state) >= size_t(TSwStageState::Count) || !ValidStageValue(state, value))
    return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Stage[stage][size_t(state)] = value;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetSamplerState(uint32_t sampler, TSwSamplerState state, uint32_t value) {
  if (sampler >= kSwMaxStages || size_t(state) >= size_t(TSwSamplerState::Count) ||
      !ValidSamplerValue(state, value))
    return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Sampler[sampler][size_t(state)] = value;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetTexture(uint32_t stage, TSwBaseTexture* texture) {
  if (stage >= kSwMaxStages) return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Textures[stage] = Ref<TSwBaseTexture>(texture);
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetFVF(uint32_t fvf) {
  if (SwFvfStride(fvf) == 0) return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Fvf = fvf;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetStreamSource(uint32_t stream, TSwVertexBuffer* vb, uint32_t offset, uint32_t stride) {
  if (stream != 0) return TSwResult::InvalidCall;
  Guard g(lock_);
  st_.Stream = Ref<TSwVertexBuffer>(vb);
  st_.StreamOffset = offset;
  st_.StreamStride = stride;
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetPixelShader(TSwPixelShader* shader) {
  Guard g(lock_);
  st_.Shader = Ref<TSwPixelShader>(shader);
  return TSwResult::Ok;
}

TSwResult TSwDevice::SetPixelShaderConstantF(uint32_t first, const float* values, uint32_t count) {
  if (!values || first > kSwPixelConstants || count > kSwPixelConstants - first) return TSwResult::InvalidCall;
  Guard g(lock_);
  std::memcpy(st_.Constants[first], values, sizeof(float) * 4 * count);
  return TSwResult::Ok;
}

void TSwDevice::InjectLoss() { loss_.store(TLoss::Lost); }

void TSwDevice::EndLoss() {
  TLoss expected = TLoss::Lost;
  loss_.compare_exchange_strong(expected, TLoss::NotReset);
}

void TSwDevice::SetRasterThreads(int32_t threads) {
  Guard g(lock_);
  threads_ = threads;
}

void TSwDevice::SetFastPaths(bool on) {
  Guard g(lock_);
  fast_paths_ = on;
}

}  // namespace kav
