// The renderer of one draw device on the software device.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/vxLog.h"

namespace kav {

int64_t Pacing3DNow();
void Pacing3DSleep(uint32_t ms);

namespace {

// The process-wide time of the last present (its place on the refresh
// grid, fractional milliseconds), under its lock.
std::mutex g_present_lock;
double g_present_slot = 0;

void Log3D(const std::string& text) { LogLine(std::u16string(text.begin(), text.end())); }

TSwRect SwRect(const TRect& r) { return TSwRect{r.Left, r.Top, r.Right, r.Bottom}; }

TSwAddress SwAddressOf(uint8_t mode) {
  switch (mode) {
    case k3DAddressWrap: return TSwAddress::Wrap;
    case k3DAddressMirror: return TSwAddress::Mirror;
    default: return TSwAddress::Clamp;
  }
}

TSwFormat SwFormatOfKind(uint8_t kind) {
  switch (kind) {
    case k3DTexColorAlpha:
    case k3DTexTargetAlpha: return TSwFormat::A8R8G8B8;
    case k3DTexTarget: return TSwFormat::X8R8G8B8;
    case k3DTexLuminance: return TSwFormat::L8;
    case k3DTexColor16: return TSwFormat::R5G6B5;
    default: KAV_ASSERT_FAIL("Assertion failure"); return TSwFormat::Unknown;
  }
}

// Source-alpha blending over the target, added, one blend for all channels.
TSwResult SetDefaultBlend(TSwDevice* d) {
  const std::pair<TSwRenderState, uint32_t> states[] = {
      {TSwRenderState::AlphaBlendEnable, 1},
      {TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha)},
      {TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha)},
      {TSwRenderState::SeparateAlphaBlendEnable, 0},
      {TSwRenderState::BlendOp, uint32_t(TSwBlendOp::Add)}};
  for (auto& [st, v] : states)
    if (TSwResult r = d->SetRenderState(st, v); !SwOk(r)) return r;
  return TSwResult::Ok;
}

}  // namespace

// One renderer call: the device lock, and references to the renderer and its
// store for the length of the call, so that a lost device found inside the
// call tears the store down (and lets the screen drop the renderer) only
// when the call is over.
// The release lock comes first: a store torn down at the end of the call
// frees textures the slide loader may be filling.
struct T3DRenderer9::TCall {
  std::lock_guard<std::recursive_mutex> release;
  std::lock_guard<std::recursive_mutex> lock;
  Ref<T3DRenderer9> self;
  Ref<TDevStore> store;
  TSwDevice* dev;
  explicit TCall(T3DRenderer9* r)
      : release(Device3DReleaseLock()),
        lock(Device3DLock()),
        self(r),
        store(r->store_),
        dev(store ? store->Device() : nullptr) {
    if (!dev) r->state_ = k3DStateLost;
  }
};

T3DRenderer9::T3DRenderer9(TDrawDevice* device) : T3DRenderer(device) {}

bool T3DRenderer9::Keep(TSwResult r) {
  bool lost = false;
  last_result_ = Map3DResult(r, &lost);
  if (lost)
    state_ = k3DStateLost;
  else if (last_result_ == k3DOk && state_ == k3DStateLost)
    state_ = k3DStateUsable;
  return last_result_ == k3DOk;
}

void T3DRenderer9::CheckResult() {
  if (state_ != k3DStateLost || !store_) return;
  TDevStore* store = store_;
  TDrawDevice* dd = store->DrawDevice();
  if (dd) {
    if (auto* rw = dd->FindObject<TRectangleWrapper>()) {
      T3DEngine* engine = Engine3D();
      rw->NoExclusiveNextTime = (engine && engine->CheckDevice()) || !exclusive_;
    }
  }
  Log3D("T3DRenderer9: DEVICE LOST!");
  // The draw device gives up its reference; the call in progress holds
  // another, so the store goes (and runs its callbacks) when the call ends.
  if (dd && dd->RemoveObject(store)) store->Free();
}

void T3DRenderer9::SetBounds() {
  TDrawDevice* dd = DrawDevice();
  if (!dd) return;
  if (auto* panel = dd->FindObject<TWinPanel>()) {
    const TRect r = PanelRectOf(dd);
    Log3D("Set DxPanel bounds: " + RectText3D(r));
    panel->Place(r);
    std::lock_guard<std::recursive_mutex> g(Device3DLock());
    if (!exclusive_) present_origin_ = panel->PresentOrigin();
  }
}

bool T3DRenderer9::BeginScene() {
  TCall c(this);
  if (!c.dev) return false;
  TDrawDevice* dd = c.store->DrawDevice();
  if (dd && Get3DExclusiveAllowed()) {
    const bool front = dd->CanDraw();
    if (!front && in_front_ && full_screen_) {
      const T3DWindowOps& ops = Get3DWindowOps();
      if (ops.SetTopmost) {
        auto fn = ops.SetTopmost;
        uint64_t w = dd->Window();
        // Posted: the device lock is held here.
        if (On3DGuiThread())
          fn(w, false);
        else
          PostTo3DGui([fn, w] { fn(w, false); });
      }
      in_front_ = false;
    } else if (front && !in_front_ && full_screen_) {
      // Back in front: the whole device is rebuilt, exclusively, next frame.
      in_front_ = true;
      if (dd->RemoveObject(c.store.get())) c.store->Free();
      return false;
    } else {
      in_front_ = front;
    }
  }
  KAV_ASSERT(chain_);
  bool ok = Keep(c.dev->BeginScene());
  if (ok) {
    ok = Keep(c.dev->SetRenderTarget(0, chain_->BackBuffer()));
    if (ok) {
      Ref<T3DSurface> bb;
      if (GetBackBuffer(bb)) target_ = bb;
      ok = DrawColorQuad();
    }
  }
  CheckResult();
  return ok;
}

bool T3DRenderer9::EndScene() {
  TCall c(this);
  if (!c.dev) return false;
  bool ok = Keep(c.dev->EndScene());
  CheckResult();
  return ok;
}

bool T3DRenderer9::Present(const TRect* src, int32_t count, const TRect* dst) {
  Ref<TSwSwapChain> chain;
  TPoint origin;
  uint32_t rate;
  bool exclusive;
  {
    std::lock_guard<std::recursive_mutex> g(Device3DLock());
    chain = chain_;
    origin = present_origin_;
    rate = refresh_rate_;
    exclusive = exclusive_;
  }
  if (!chain) return false;
  TSwRect s, d;
  const bool have = count > 0 && src && dst;
  if (have) {
    s = SwRect(src[0]);
    d = SwRect(dst[0]);
  }
  uint32_t sleep;
  {
    const int64_t now = Pacing3DNow();
    std::lock_guard<std::mutex> g(g_present_lock);
    sleep = PresentSleepMs(rate, now, g_present_slot);
  }
  if (sleep > 0) Pacing3DSleep(sleep);
  TSwResult r;
  if (exclusive) {
    r = chain->Present(nullptr, nullptr, 0, 0);
  } else if (have) {
    d.left += origin.X;
    d.right += origin.X;
    d.top += origin.Y;
    d.bottom += origin.Y;
    r = chain->Present(&s, &d, 0, 0);
  } else if (origin.X != 0 || origin.Y != 0) {
    TSwSurface* bb = chain->BackBuffer();
    TSwRect whole{origin.X, origin.Y, origin.X + int32_t(bb->Width()), origin.Y + int32_t(bb->Height())};
    r = chain->Present(nullptr, &whole, 0, 0);
  } else {
    r = chain->Present(nullptr, nullptr, 0, 0);
  }
  TCall c(this);
  if (!c.dev) return false;
  bool ok = Keep(r);
  CheckResult();
  return ok;
}

bool T3DRenderer9::Clear(uint32_t flags, uint32_t color, float z, int32_t count, const TRect* rects) {
  TCall c(this);
  if (!c.dev) return false;
  // The devices have no depth buffer: only the target is cleared.
  std::vector<TSwRect> r;
  for (int32_t i = 0; i < count && rects; ++i) r.push_back(SwRect(rects[i]));
  bool ok = true;
  if (flags & 1) ok = Keep(c.dev->Clear(uint32_t(r.size()), r.empty() ? nullptr : r.data(), SwClearTarget, color, z, 0));
  CheckResult();
  return ok;
}

bool T3DRenderer9::DrawColorQuad() {
  TCall c(this);
  if (!c.dev || !quad_) return false;
  TSwDevice* d = c.dev;
  bool ok = Keep(d->SetFVF(0x42)) && Keep(d->SetStreamSource(0, quad_.get(), 0, 16));
  auto rs = [&](TSwRenderState s, uint32_t v) { if (ok) ok = Keep(d->SetRenderState(s, v)); };
  rs(TSwRenderState::Lighting, 0);
  rs(TSwRenderState::ShadeMode, uint32_t(TSwShade::Gouraud));
  rs(TSwRenderState::FillMode, uint32_t(TSwFill::Solid));
  if (ok) ok = Keep(SetDefaultBlend(d));
  // The strip is transparent: its colour comes from the vertices alone (no
  // texture stage may make it opaque).
  if (ok) ok = Keep(d->SetTexture(0, nullptr));
  if (ok) ok = Keep(d->SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1)));
  if (ok) ok = Keep(d->SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse)));
  if (ok) ok = Keep(d->SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1)));
  if (ok) ok = Keep(d->SetTextureStageState(0, TSwStageState::AlphaArg1, uint32_t(TSwTextureArg::Diffuse)));
  if (ok) ok = Keep(d->DrawPrimitive(TSwPrimitive::TriangleStrip, 0, 2));
  CheckResult();
  return ok;
}

bool T3DRenderer9::SetRenderTarget(T3DSurface* surface) {
  TCall c(this);
  if (!c.dev) return false;
  bool ok;
  if (!surface) {
    ok = Keep(c.dev->SetRenderTarget(0, nullptr));
  } else {
    auto* s9 = dynamic_cast<T3DSurface9*>(surface);
    KAV_ASSERT(s9);
    ok = Keep(c.dev->SetRenderTarget(0, s9->Surface()));
  }
  if (ok) target_ = Ref<T3DSurface>(surface);
  CheckResult();
  return ok;
}

bool T3DRenderer9::GetBackBuffer(Ref<T3DSurface>& out) {
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!chain_) return false;
  if (!back_buffer_) {
    Ref<TSwSurface> s;
    if (!SwOk(chain_->GetBackBuffer(0, s))) return false;
    back_buffer_ = MakeRef<T3DSurface9>(s, Ref<TSwDevice>(store_ ? store_->Device() : nullptr), nullptr, true);
  }
  out = back_buffer_;
  return true;
}

bool T3DRenderer9::SetViewport(const TRect& rect, float min_z, float max_z) {
  TCall c(this);
  if (!c.dev) return false;
  bool ok;
  if (rect.Left < 0 || rect.Top < 0 || rect.IsEmpty()) {
    ok = Keep(TSwResult::InvalidCall);
  } else {
    TSwViewport vp{uint32_t(rect.Left), uint32_t(rect.Top), uint32_t(rect.Width()), uint32_t(rect.Height()), min_z,
                   max_z};
    ok = Keep(c.dev->SetViewport(vp));
  }
  CheckResult();
  return ok;
}

bool T3DRenderer9::SetScissor(const TRect* rect) {
  TCall c(this);
  if (!c.dev) return false;
  bool ok = true;
  if (rect) {
    // Cut to the target, which the device asks of a scissor rectangle.
    Ref<TSwSurface> rt;
    ok = Keep(c.dev->GetRenderTarget(0, rt));
    if (ok) {
      TSwRect r = SwIntersect(SwRect(*rect), rt->Bounds());
      if (r.Empty()) r = TSwRect{0, 0, 0, 0};
      ok = Keep(c.dev->SetScissorRect(r));
    }
  }
  if (ok) ok = Keep(c.dev->SetRenderState(TSwRenderState::ScissorTestEnable, rect ? 1 : 0));
  CheckResult();
  return ok;
}

bool T3DRenderer9::DrawTextured(T3DVertexList* list, T3DTexture* const* textures, int32_t count, uint32_t flags) {
  TCall c(this);
  if (!c.dev) return false;
  auto* vl = dynamic_cast<T3DVertexList9*>(list);
  KAV_ASSERT(vl && count >= 0 && count <= kSwMaxStages);
  TSwDevice* d = c.dev;
  bool ok = Keep(d->SetFVF(vl->Fvf())) && Keep(d->SetStreamSource(0, vl->Buffer(), 0, vl->Stride()));
  auto ss = [&](uint32_t stage, TSwStageState s, uint32_t v) { if (ok) ok = Keep(d->SetTextureStageState(stage, s, v)); };
  auto sm = [&](uint32_t stage, TSwSamplerState s, uint32_t v) { if (ok) ok = Keep(d->SetSamplerState(stage, s, v)); };
  auto rs = [&](TSwRenderState s, uint32_t v) { if (ok) ok = Keep(d->SetRenderState(s, v)); };
  bool any_premul = false;
  uint32_t stages = 0;
  if (flags & k3DDrawTextures) {
    for (int32_t i = 0; i < count && ok; ++i) {
      auto* t = dynamic_cast<T3DTexture9*>(textures[i]);
      if (!t) continue;
      const uint32_t st = uint32_t(i);
      stages = st + 1;
      ok = Keep(d->SetTexture(st, t->Texture()));
      any_premul = any_premul || t->Premultiplied;
      uint8_t u, v;
      t->GetAddressMode(u, v);
      sm(st, TSwSamplerState::AddressU, uint32_t(SwAddressOf(u)));
      sm(st, TSwSamplerState::AddressV, uint32_t(SwAddressOf(v)));
      const TSwFilter f = t->GetFilter() == k3DFilterPoint ? TSwFilter::Point : TSwFilter::Linear;
      sm(st, TSwSamplerState::MinFilter, uint32_t(f));
      sm(st, TSwSamplerState::MagFilter, uint32_t(f));
      if (aniso_available_ && t->Anisotropic() && t->GetFilter() == k3DFilterLinear) {
        sm(st, TSwSamplerState::MaxAnisotropy, max_anisotropy_);
        sm(st, TSwSamplerState::MipFilter, uint32_t(TSwFilter::Linear));
        sm(st, TSwSamplerState::MinFilter, uint32_t(TSwFilter::Anisotropic));
        if (lod_bias_available_) {
          float bias = t->LodBias();
          uint32_t bits;
          std::memcpy(&bits, &bias, 4);
          sm(st, TSwSamplerState::MipMapLodBias, bits);
        }
      } else {
        sm(st, TSwSamplerState::MipFilter, uint32_t(TSwFilter::None));
      }
      if (flags & k3DDrawModulateColor) {
        ss(st, TSwStageState::ColorOp, uint32_t(TSwTextureOp::Modulate));
        ss(st, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Texture));
        ss(st, TSwStageState::ColorArg2, uint32_t(TSwTextureArg::Current));
      } else {
        ss(st, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
        ss(st, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Texture));
      }
      if (!(flags & k3DDrawModulateAlpha)) {
        ss(st, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1));
        ss(st, TSwStageState::AlphaArg1, uint32_t(TSwTextureArg::Texture));
      } else if (t->Kind == k3DTexTarget || (t->Kind == k3DTexTargetAlpha && !t->Premultiplied)) {
        ss(st, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg2));
        ss(st, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Current));
      } else {
        ss(st, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::Modulate));
        ss(st, TSwStageState::AlphaArg1, uint32_t(TSwTextureArg::Texture));
        ss(st, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Current));
      }
      ss(st, TSwStageState::TexCoordIndex, st);
    }
  }
  if (stages == 0) {
    // Without textures the vertex colour is the picture.
    ss(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
    ss(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse));
    ss(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1));
    ss(0, TSwStageState::AlphaArg1, uint32_t(TSwTextureArg::Diffuse));
    stages = 1;
  }
  // The stage after the last used one ends the chain.
  if (stages < uint32_t(kSwMaxStages)) {
    ss(stages, TSwStageState::ColorOp, uint32_t(TSwTextureOp::Disable));
    ss(stages, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::Disable));
  }
  rs(TSwRenderState::Lighting, (flags & k3DDrawLighting) ? 1 : 0);
  if (flags & k3DDrawModulateColor) {
    rs(TSwRenderState::ShadeMode, uint32_t(TSwShade::Gouraud));
    rs(TSwRenderState::FillMode, uint32_t(TSwFill::Solid));
  }
  if (ok) ok = Keep(SetDefaultBlend(d));
  auto separate_alpha = [&] {
    rs(TSwRenderState::SeparateAlphaBlendEnable, 1);
    rs(TSwRenderState::SrcBlendAlpha, uint32_t(TSwBlend::One));
    rs(TSwRenderState::DestBlendAlpha, uint32_t(TSwBlend::InvSrcAlpha));
    rs(TSwRenderState::BlendOpAlpha, uint32_t(TSwBlendOp::Add));
  };
  if (blend_mode_ == k3DBlendNormal) {
    if (any_premul) {
      rs(TSwRenderState::SrcBlend, uint32_t(TSwBlend::One));
    } else {
      auto* ts = dynamic_cast<T3DSurface9*>(target_.get());
      if (ts && ts->Owner() && ts->Owner()->Premultiplied) separate_alpha();
    }
  } else if (blend_mode_ == k3DBlendMax) {
    rs(TSwRenderState::BlendOp, uint32_t(TSwBlendOp::Max));
  } else if (blend_mode_ == k3DBlendSeparateAlpha) {
    separate_alpha();
  }
  rs(TSwRenderState::ZEnable, 0);
  if (ok) {
    static const TSwPrimitive kinds[] = {TSwPrimitive::PointList,    TSwPrimitive::LineList,
                                         TSwPrimitive::LineStrip,    TSwPrimitive::TriangleList,
                                         TSwPrimitive::TriangleStrip, TSwPrimitive::TriangleFan};
    KAV_ASSERT(vl->Primitive() <= k3DTriangleFan);
    ok = DrawInParts(d, kinds[vl->Primitive()], vl->Start(), vl->Count());
  }
  if (flags & k3DDrawTextures)
    for (int32_t i = 0; i < count; ++i)
      if (dynamic_cast<T3DTexture9*>(textures[i])) d->SetTexture(uint32_t(i), nullptr);
  CheckResult();
  return ok;
}

// A list longer than the device draws in one call (a mosaic of 256 x 256
// blocks is 131,072 triangles) is drawn in parts the device takes: the
// device refuses the whole call otherwise, and the batch would be lost.
// Lists split anywhere; a strip at an even triangle, so that every part
// keeps its winding. A fan is one call whatever its length.
bool T3DRenderer9::DrawInParts(TSwDevice* d, TSwPrimitive kind, uint32_t start, uint32_t count) {
  uint32_t most = max_primitives_;
  if (most == 0 || count <= most || kind == TSwPrimitive::TriangleFan)
    return Keep(d->DrawPrimitive(kind, start, count));
  uint32_t step = 0;  // vertices from one part's start to the next's, per primitive
  switch (kind) {
    case TSwPrimitive::PointList: step = 1; break;
    case TSwPrimitive::LineList: step = 2; break;
    case TSwPrimitive::TriangleList: step = 3; break;
    case TSwPrimitive::LineStrip: step = 1; break;
    case TSwPrimitive::TriangleStrip:
      step = 1;
      most &= ~1u;
      break;
    default: return Keep(d->DrawPrimitive(kind, start, count));
  }
  if (most == 0) return Keep(d->DrawPrimitive(kind, start, count));
  bool ok = true;
  for (uint32_t done = 0; done < count && ok;) {
    const uint32_t n = std::min(most, count - done);
    ok = Keep(d->DrawPrimitive(kind, start + done * step, n));
    done += n;
  }
  return ok;
}

bool T3DRenderer9::SetTexture(uint32_t stage, TBaseTexture* texture) {
  TCall c(this);
  if (!c.dev) return false;
  TSwDevice* d = c.dev;
  bool ok;
  auto sm = [&](TSwSamplerState s, uint32_t v) { if (ok) ok = Keep(d->SetSamplerState(stage, s, v)); };
  if (auto* v9 = dynamic_cast<TVolumeTexture9*>(texture)) {
    ok = Keep(d->SetTexture(stage, v9->Texture()));
    sm(TSwSamplerState::MinFilter, uint32_t(TSwFilter::Linear));
    sm(TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
    sm(TSwSamplerState::AddressU, uint32_t(TSwAddress::Clamp));
    sm(TSwSamplerState::AddressV, uint32_t(TSwAddress::Clamp));
    sm(TSwSamplerState::AddressW, uint32_t(TSwAddress::Clamp));
  } else if (auto* t9 = dynamic_cast<T3DTexture9*>(texture)) {
    ok = Keep(d->SetTexture(stage, t9->Texture()));
    sm(TSwSamplerState::MinFilter, uint32_t(TSwFilter::Linear));
    sm(TSwSamplerState::MagFilter, uint32_t(TSwFilter::Linear));
    sm(TSwSamplerState::AddressU, uint32_t(TSwAddress::Clamp));
    sm(TSwSamplerState::AddressV, uint32_t(TSwAddress::Clamp));
  } else {
    ok = Keep(d->SetTexture(stage, nullptr));
  }
  CheckResult();
  return ok;
}

Ref<T3DTexture> T3DRenderer9::CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mip) {
  TCall c(this);
  if (!c.dev) return nullptr;
  const TSwFormat f = SwFormatOfKind(kind);
  Ref<TSwTexture> t;
  bool ok;
  if (width <= 0 || height <= 0) {
    ok = Keep(TSwResult::InvalidCall);
  } else if (Is3DTargetKind(kind)) {
    ok = Keep(c.dev->CreateTexture(uint32_t(width), uint32_t(height), 1, SwUsageRenderTarget, f, TSwPool::Default, t));
  } else {
    const uint32_t levels = mip && aniso_available_ ? 0 : 1;
    ok = Keep(c.dev->CreateTexture(uint32_t(width), uint32_t(height), levels, 0, f, TSwPool::Managed, t));
  }
  Ref<T3DTexture> out;
  if (ok) {
    auto w = MakeRef<T3DTexture9>(t, c.store.get(), Ref<TSwDevice>(c.dev));
    w->Kind = kind;
    out = w;
  }
  CheckResult();
  return out;
}

Ref<TVolumeTexture> T3DRenderer9::CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) {
  TCall c(this);
  if (!c.dev) return nullptr;
  Ref<TSwVolumeTexture> t;
  bool ok = width > 0 && height > 0 && depth > 0
                ? Keep(c.dev->CreateVolumeTexture(uint32_t(width), uint32_t(height), uint32_t(depth), 1, 0,
                                                  TSwFormat::A8R8G8B8, TSwPool::Managed, t))
                : Keep(TSwResult::InvalidCall);
  Ref<TVolumeTexture> out;
  if (ok) out = MakeRef<TVolumeTexture9>(t, c.store.get());
  CheckResult();
  return out;
}

Ref<T3DVertexList> T3DRenderer9::CreateVertexList(int32_t count, uint32_t flags, int32_t tex_sets) {
  TCall c(this);
  if (!c.dev) return nullptr;
  KAV_ASSERT(tex_sets >= 0 && tex_sets <= 8);
  uint32_t fvf = SwFvfXYZ | SwFvfTex(tex_sets);
  if (flags & k3DVertexNormal) fvf |= SwFvfNormal;
  if (flags & k3DVertexDiffuse) fvf |= SwFvfDiffuse;
  if (flags & k3DVertexSpecular) fvf |= SwFvfSpecular;
  Ref<TSwVertexBuffer> vb;
  const uint64_t bytes = uint64_t(std::max(count, 0)) * SwFvfStride(fvf);
  bool ok = count > 0 && bytes <= 0xFFFFFFFFu
                ? Keep(c.dev->CreateVertexBuffer(uint32_t(bytes), 0, fvf, TSwPool::Managed, vb))
                : Keep(TSwResult::InvalidCall);
  Ref<T3DVertexList> out;
  if (ok) out = MakeRef<T3DVertexList9>(vb, c.store.get(), flags, tex_sets);
  CheckResult();
  return out;
}

bool T3DRenderer9::StretchRect(int32_t count, T3DSurface* src, const TRect* src_rects, T3DSurface* dst,
                               const TRect* dst_rects) {
  TCall c(this);
  if (!c.dev) return false;
  auto* s9 = dynamic_cast<T3DSurface9*>(src);
  auto* d9 = dynamic_cast<T3DSurface9*>(dst);
  KAV_ASSERT(s9);
  KAV_ASSERT(d9);
  bool ok = true;
  for (int32_t i = 0; i < count && ok; ++i) {
    TSwRect a = SwRect(src_rects[i]), b = SwRect(dst_rects[i]);
    ok = Keep(c.dev->StretchRect(s9->Surface(), &a, d9->Surface(), &b, TSwFilter::None));
  }
  CheckResult();
  return ok;
}

bool T3DRenderer9::SetOption(uint8_t blend_mode) {
  blend_mode_ = blend_mode;
  return true;
}

bool T3DRenderer9::SetTransform(const T3DMatrix& m, int32_t kind) {
  TCall c(this);
  if (!c.dev) return false;
  KAV_ASSERT(kind >= 0 && kind <= 2);
  TSwMatrix sm;
  std::memcpy(sm.m, m.m, sizeof sm.m);
  static const TSwTransform kinds[] = {TSwTransform::World, TSwTransform::View, TSwTransform::Projection};
  bool ok = Keep(c.dev->SetTransform(kinds[kind], sm));
  CheckResult();
  return ok;
}

bool T3DRenderer9::SetCullMode(bool none) {
  TCall c(this);
  if (!c.dev) return false;
  bool ok = Keep(c.dev->SetRenderState(TSwRenderState::CullMode, uint32_t(none ? TSwCull::None : TSwCull::CCW)));
  CheckResult();
  return ok;
}

Ref<T3DShader> T3DRenderer9::CreateShader(const std::string& code, int32_t kind) {
  TCall c(this);
  if (!c.dev) return nullptr;
  Ref<T3DShader> out;
  if (kind == 0) {
    Ref<TSwPixelShader> ps;
    if (Keep(c.dev->CreatePixelShader(code.data(), code.size(), ps))) out = MakeRef<T3DShader9>(ps, c.store.get());
  } else {
    // The device runs no vertex shaders.
    Keep(TSwResult::NotAvailable);
  }
  CheckResult();
  return out;
}

bool T3DRenderer9::SetShader(T3DShader* shader) {
  TCall c(this);
  if (!c.dev) return false;
  auto* s9 = dynamic_cast<T3DShader9*>(shader);
  bool ok = true;
  if (!shader)
    ok = Keep(c.dev->SetPixelShader(nullptr));
  else if (s9 && s9->Shader())
    ok = Keep(c.dev->SetPixelShader(s9->Shader()));
  CheckResult();
  return ok;
}

bool T3DRenderer9::SetShaderConstants(bool pixel, uint32_t first, const float* values, uint32_t count) {
  TCall c(this);
  if (!c.dev) return false;
  bool ok = pixel ? Keep(c.dev->SetPixelShaderConstantF(first, values, count)) : Keep(TSwResult::Ok);
  CheckResult();
  return ok;
}

Ref<T3DSurface9> T3DRenderer9::ReadRenderTarget(T3DSurface9* surface) {
  KAV_ASSERT(surface);
  TCall c(this);
  if (!c.dev) return nullptr;
  TSwSurface* s = surface->Surface();
  Ref<TSwSurface> copy;
  bool ok = Keep(c.dev->CreateOffscreenPlainSurface(s->Width(), s->Height(), s->Format(), TSwPool::SystemMem, copy));
  if (ok) ok = Keep(c.dev->GetRenderTargetData(s, copy.get()));
  Ref<T3DSurface9> out;
  if (ok) out = MakeRef<T3DSurface9>(copy, Ref<TSwDevice>(c.dev), nullptr, false);
  CheckResult();
  return out;
}

bool T3DRenderer9::CanRunShaders() {
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!store_ || !store_->Device()) return false;
  TSwCaps caps;
  TSwDevice* d = store_->Device();
  return SwOk(d->Direct3D()->GetDeviceCaps(d->Adapter(), caps)) && caps.PixelShaderVersion >= SwPixelShaderVersion(2, 0);
}

void T3DRenderer9::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> g(Device3DLock());
    back_buffer_ = nullptr;
    target_ = nullptr;
    if (request_) {
      request_->Renderer = nullptr;
      request_ = nullptr;
    }
    if (store_) {
      TDevStore::Unlist(store_->Renderers, this);
      TDrawDevice* dd = store_->DrawDevice();
      if (full_screen_ && dd) {
        if (auto* rw = dd->FindObject<TRectangleWrapper>()) {
          Log3D("Dispose FullScreen, R= " + RectText3D(rw->Rect));
          const T3DWindowOps& ops = Get3DWindowOps();
          if (ops.SetPlacement) {
            auto fn = ops.SetPlacement;
            uint64_t w = dd->Window();
            TRect r = rw->Rect;
            if (!On3DGuiThread()) {
              Log3D("T3DRenderer9.Dispose: exclusive mode, not main thread");
              PostTo3DGui([fn, w, r] { fn(w, r, 4); });
            } else {
              fn(w, r, 4);
            }
          }
        }
      }
      store_ = nullptr;
    }
    chain_ = nullptr;
    quad_ = nullptr;
  }
  T3DRenderer::Dispose();
}

}  // namespace kav
