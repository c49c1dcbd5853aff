// Module settings, the engine, the device store and the device window.
#include "VoRav/3DBasics/DXDev3D.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/SysLock.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {

std::mutex g_settings_lock;
TDirect3DFactory g_d3d_factory;
T3DGuiGate g_gate;
T3DWindowOps g_window_ops;
T3DPacingClock g_clock;
bool g_marshalled = true;
bool g_exclusive_allowed = true;

void Log3D(const std::string& text) {
  LogLine(std::u16string(text.begin(), text.end()));
}

// Window work: at once on the GUI thread, else posted (never waited for, so
// a caller holding the device lock cannot wait on a GUI thread that waits
// for that lock).
void WindowCall(std::function<void()> work) {
  if (On3DGuiThread())
    work();
  else
    PostTo3DGui(std::move(work));
}

void SetPlacementSoon(uint64_t window, const TRect& rect, int show) {
  const T3DWindowOps& ops = Get3DWindowOps();
  if (!ops.SetPlacement) return;
  auto fn = ops.SetPlacement;
  WindowCall([fn, window, rect, show] { fn(window, rect, show); });
}

}  // namespace

std::recursive_mutex& Device3DLock() {
  static std::recursive_mutex lock;
  return lock;
}

void SetDirect3DFactory(TDirect3DFactory factory) {
  std::lock_guard<std::mutex> g(g_settings_lock);
  g_d3d_factory = std::move(factory);
}

Ref<T3DEngine> CreateEngine9() {
  TDirect3DFactory f;
  {
    std::lock_guard<std::mutex> g(g_settings_lock);
    f = g_d3d_factory;
  }
  Ref<TSwDirect3D> d3d = f ? f() : MakeRef<TSwDirect3D>(TSwConfig());
  if (!d3d) return nullptr;
  return MakeRef<T3DEngine9>(std::move(d3d));
}

void RegisterDirect3DEngine() { SetEngine3DFactory(&CreateEngine9); }

void Set3DGuiGate(T3DGuiGate gate) {
  std::lock_guard<std::mutex> g(g_settings_lock);
  g_gate = std::move(gate);
}

bool On3DGuiThread() {
  std::function<bool()> f;
  {
    std::lock_guard<std::mutex> g(g_settings_lock);
    f = g_gate.OnGuiThread;
  }
  return !f || f();
}

void PostTo3DGui(std::function<void()> work) {
  std::function<void(std::function<void()>)> post;
  {
    std::lock_guard<std::mutex> g(g_settings_lock);
    post = g_gate.Post;
  }
  if (post)
    post(std::move(work));
  else
    work();
}

void Set3DWindowOps(T3DWindowOps ops) {
  std::lock_guard<std::mutex> g(g_settings_lock);
  g_window_ops = std::move(ops);
}

const T3DWindowOps& Get3DWindowOps() { return g_window_ops; }

void Set3DMarshalled(bool on) { g_marshalled = on; }
void Set3DExclusiveAllowed(bool on) { g_exclusive_allowed = on; }
bool Get3DExclusiveAllowed() { return g_exclusive_allowed; }

static bool Marshal() { return g_marshalled && !On3DGuiThread(); }

void Set3DPacingClock(T3DPacingClock clock) {
  std::lock_guard<std::mutex> g(g_settings_lock);
  g_clock = std::move(clock);
}

int64_t Pacing3DNow() {
  std::lock_guard<std::mutex> g(g_settings_lock);
  return g_clock.Now ? g_clock.Now() : SysLockTime();
}

void Pacing3DSleep(uint32_t ms) {
  std::function<void(uint32_t)> f;
  {
    std::lock_guard<std::mutex> g(g_settings_lock);
    f = g_clock.Sleep;
  }
  if (f)
    f(ms);
  else
    SysLockSleep(ms);
}

uint32_t PresentSleepMs(uint32_t refresh_rate, int64_t now, double& slot) {
  // A display that reports no refresh rate is paced as a 60 Hz one.
  const double period = 1000.0 / double(refresh_rate == 0 ? 60 : refresh_rate);
  const double next = slot + period;
  // Departure: the frame waits for its place on the refresh grid, not for
  // 3 ms less than the period since the last present: our present does not
  // wait for the vertical retrace as a hardware one does, so presenting early
  // only made frames no display shows (about 70 a second at 60 Hz).
  // A clock more than a period (and the millisecond a whole-millisecond
  // sleep may end early) behind the grid went back: the grid starts again.
  if (slot <= 0 || next <= double(now) || next > double(now) + period + 1.0) {
    slot = double(now);
    return 0;
  }
  // Whole milliseconds of a millisecond clock: up to one early rather than
  // late; the grid itself keeps its place.
  slot = next;
  return uint32_t(next - double(now));
}

uint8_t Map3DResult(TSwResult r, bool* lost) {
  uint8_t code;
  switch (r) {
    case TSwResult::Ok: return k3DOk;
    case TSwResult::InvalidCall: code = k3DInvalidCall; break;
    case TSwResult::OutOfVideoMemory: code = k3DOutOfVideoMemory; break;
    case TSwResult::DeviceLost:
      code = k3DFailed;
      if (lost) *lost = true;
      break;
    default: code = k3DFailed; break;
  }
  Log3D("Dx Error = " + std::to_string(code));
  return code;
}

// ---- TWinPanel ----

TRect PanelRectOf(const TDrawDevice* device) {
  // The bounds are on the screen and the offset is the window's client
  // origin there; the panel is placed in the window's client area.
  const TRect& b = device->Bounds();
  const TPoint o = device->Offset();
  return TRect{b.Left - o.X, b.Top - o.Y, b.Right - o.X, b.Bottom - o.Y};
}

TWinPanel::TWinPanel(TDrawDevice* device, uint64_t parent) : parent_(parent), window_(0) {
  const T3DWindowOps& ops = Get3DWindowOps();
  if (ops.CreatePanel) window_ = ops.CreatePanel(device, parent);
  if (window_ == 0) window_ = parent;
  if (device) device->AddObject(this);
}

void TWinPanel::Place(const TRect& rect) {
  rect_ = rect;
  const T3DWindowOps& ops = Get3DWindowOps();
  if (window_ != parent_ && ops.MovePanel) {
    auto fn = ops.MovePanel;
    uint64_t w = window_;
    WindowCall([fn, w, rect] { fn(w, rect, !rect.IsEmpty()); });
  }
}

// The child window is a rectangle of its parent, so its frames go into the
// parent at its place (the parent's presentation is the child's).
TPoint TWinPanel::PresentOrigin() const { return TPoint{rect_.Left, rect_.Top}; }

void TWinPanel::Dispose() {
  const T3DWindowOps& ops = Get3DWindowOps();
  // Called at once: the panel must stop reaching the device now, which may
  // be going; the operation itself hands the window to the GUI thread.
  if (window_ != parent_ && ops.DestroyPanel) ops.DestroyPanel(window_);
  TRefObject::Dispose();
}

// ---- TDevStore ----

TDevStore::TDevStore(T3DEngine9* engine, TDrawDevice* device) : device_(device), engine_(engine) {
  if (device_) device_->AddObject(this);
}

// Each entry is taken off its list and forgets the store before its
// callback runs, so owners that free other wrappers of this store meanwhile
// find consistent lists; one being freed on another thread is skipped.
template <class T, class F>
void TDevStore::TearDown(std::vector<T*>& list, F forget) {
  while (!list.empty()) {
    T* item = list.back();
    list.pop_back();
    forget(item);
    if (RefTryAddRef(item)) {
      Ref<T> keep = Ref<T>::Adopt(item);
      if (item->OnRelease.Assigned()) item->OnRelease(item);
    }
  }
}

void TDevStore::Dispose() {
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!Renderers.empty() && Renderers.front()->full_screen_ && device_) {
    if (auto* rw = device_->FindObject<TRectangleWrapper>()) {
      Log3D("Store.Dispose FullScreen, R= " + RectText3D(rw->Rect));
      if (Marshal()) Log3D("TDevStore.Dispose, not main thread");
      SetPlacementSoon(device_->Window(), rw->Rect, 4);
    }
  }
  TearDown(Renderers, [](T3DRenderer9* r) { r->store_ = nullptr; });
  TearDown(Textures, [](TBaseTexture* t) {
    if (auto* t9 = dynamic_cast<T3DTexture9*>(t)) t9->DropStore();
    if (auto* v9 = dynamic_cast<TVolumeTexture9*>(t)) v9->DropStore();
  });
  TearDown(VertexLists, [](T3DVertexList* v) { static_cast<T3DVertexList9*>(v)->DropStore(); });
  TearDown(Shaders, [](T3DShader* s) { static_cast<T3DShader9*>(s)->DropStore(); });
  // The device itself is released on the GUI thread, by dropping the
  // store's reference (no add-and-release loop waiting for other holders);
  // the posted work stands for the TReleaseData request.
  if (dev_ && Marshal()) {
    Ref<TSwDevice> dev = std::move(dev_);
    PostTo3DGui([dev]() mutable { dev = nullptr; });
  }
  dev_ = nullptr;
  engine_ = nullptr;
  TRefObject::Dispose();
}

// ---- T3DEngine9 ----

T3DEngine9::T3DEngine9(Ref<TSwDirect3D> d3d) : d3d_(std::move(d3d)) {
  if (Marshal()) {
    Ref<T3DEngine9> self(this);
    PostTo3DGui([self] { self->CreateEngineDevice(); });
  } else {
    CreateEngineDevice();
  }
}

void T3DEngine9::CreateEngineDevice() {
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (engine_device_) return;
  TSwDisplayMode dm;
  if (!SwOk(d3d_->GetAdapterDisplayMode(0, dm))) return;
  engine_params_ = TSwPresentParams{};
  engine_params_.BackBufferWidth = engine_params_.BackBufferHeight = 16;
  engine_params_.BackBufferFormat = dm.Format;
  engine_params_.BackBufferCount = 1;
  engine_params_.SwapEffect = TSwSwapEffect::Copy;
  engine_params_.Windowed = true;
  TSwPresentParams pp = engine_params_;
  Ref<TSwDevice> dev;
  last_result_ = Map3DResult(d3d_->CreateDevice(0, 0, 0x26, pp, dev));
  if (last_result_ == k3DOk) engine_device_ = std::move(dev);
}

void T3DEngine9::ResetEngineDevice() {
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!engine_device_) return;
  TSwPresentParams pp = engine_params_;
  last_result_ = Map3DResult(engine_device_->Reset(pp));
}

uint32_t T3DEngine9::AdapterForRect(const TRect& rect) {
  uint32_t best = 0;
  int64_t best_area = 0;
  for (uint32_t a = 0; a < d3d_->GetAdapterCount(); ++a) {
    TSwRect m = d3d_->GetAdapterMonitorRect(a);
    int64_t w = int64_t(std::min(m.right, rect.Right)) - std::max(m.left, rect.Left);
    int64_t h = int64_t(std::min(m.bottom, rect.Bottom)) - std::max(m.top, rect.Top);
    int64_t area = (w > 0 && h > 0) ? w * h : 0;
    if (area > best_area) {
      best_area = area;
      best = a;
    }
  }
  return best;
}

uint32_t T3DEngine9::GetCapValue(const std::string& name, uint32_t adapter) {
  TSwCaps caps;
  TSwAdapterIdentifier id;
  TSwResult r = d3d_->GetDeviceCaps(adapter, caps);
  if (SwOk(r)) r = d3d_->GetAdapterIdentifier(adapter, 0, id);
  if (!SwOk(r)) {
    last_result_ = Map3DResult(r);
    return 0;
  }
  std::string n = name;
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (n == "pixelshaderversion") return caps.PixelShaderVersion;
  if (n == "maxtexwidth") return caps.MaxTextureWidth;
  if (n == "maxtexheight") return caps.MaxTextureHeight;
  if (n == "maxanisotropy") return caps.MaxAnisotropy;
  if (n == "raster") return caps.RasterCaps;
  if (n == "vendor") return id.VendorId;
  return 0;
}

std::string T3DEngine9::GetCapText(const std::string& name, uint32_t adapter) {
  std::string n = name;
  std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  if (n != "vendor") return std::string();
  TSwAdapterIdentifier id;
  if (!SwOk(d3d_->GetAdapterIdentifier(adapter, 0, id))) return std::string();
  return id.Description.substr(0, 512);
}

bool T3DEngine9::GetDisplayMode(TDisplayModeInfo& mode, uint32_t adapter) {
  TSwDisplayMode dm;
  TSwResult r = d3d_->GetAdapterDisplayMode(adapter, dm);
  last_result_ = Map3DResult(r);
  if (!SwOk(r)) return false;
  TSwRect m = d3d_->GetAdapterMonitorRect(adapter);
  mode.Monitor = TRect{m.left, m.top, m.right, m.bottom};
  mode.RefreshRate = dm.RefreshRate;
  mode.Format = uint32_t(dm.Format);
  return true;
}

int32_t T3DEngine9::ShaderLevel(uint32_t adapter) {
  uint32_t ps = GetCapValue("PixelShaderVersion", adapter);
  uint32_t vendor = GetCapValue("Vendor", adapter);
  if (vendor == 0x8086) {
    if (ps >= SwPixelShaderVersion(3, 0)) return 2;
    return ps >= SwPixelShaderVersion(2, 0) ? 1 : 0;
  }
  return ps >= SwPixelShaderVersion(2, 0) ? 2 : 0;
}

bool T3DEngine9::CheckDevice() {
  const T3DWindowOps& ops = Get3DWindowOps();
  const bool locked = ops.WorkstationLocked && ops.WorkstationLocked();
  bool result = !locked;
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!locked && engine_device_) {
    TSwResult r = engine_device_->TestCooperativeLevel();
    if (r == TSwResult::DeviceLost) {
      result = false;
    } else if (r == TSwResult::DeviceNotReset) {
      if (Marshal()) {
        Ref<T3DEngine9> self(this);
        PostTo3DGui([self] { self->ResetEngineDevice(); });
      } else {
        TSwPresentParams pp = engine_params_;
        result = SwOk(engine_device_->Reset(pp));
      }
    }
  }
  return result;
}

Ref<T3DRenderer> T3DEngine9::CreateRenderer(TDrawDevice* device, const TDisplayModeInfo& mode) {
  auto r = MakeRef<T3DRenderer9>(device);
  if (Marshal()) {
    auto req = MakeRef<TInitData>();
    req->Device = Ref<TDrawDevice>(device);
    req->Renderer = r.get();
    req->Mode = mode;
    {
      std::lock_guard<std::recursive_mutex> g(Device3DLock());
      r->SetState(k3DStatePending);
      r->request_ = req;
    }
    Ref<T3DEngine9> self(this);
    PostTo3DGui([self, req] {
      std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
      std::lock_guard<std::recursive_mutex> g(Device3DLock());
      T3DRenderer9* rr = req->Renderer;
      if (!rr || !RefTryAddRef(rr)) return;  // dropped before its turn
      Ref<T3DRenderer9> keep = Ref<T3DRenderer9>::Adopt(rr);
      rr->request_ = nullptr;
      req->Renderer = nullptr;
      self->InternalCreateRenderer(req->Device.get(), req->Mode, rr);
    });
    return r;
  }
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  if (!InternalCreateRenderer(device, mode, r.get())) return nullptr;
  return r;
}

bool T3DEngine9::InternalCreateRenderer(TDrawDevice* device, const TDisplayModeInfo& mode, T3DRenderer9* renderer) {
  std::lock_guard<std::recursive_mutex> g(Device3DLock());
  KAV_ASSERT(d3d_);
  if (!device) {
    renderer->SetState(k3DStateLost);
    if (renderer->OnRelease.Assigned()) renderer->OnRelease(renderer);
    return false;
  }
  auto* rw = device->FindObject<TRectangleWrapper>();
  if (!rw) {
    rw = new TRectangleWrapper();
    device->AddObject(rw);
  }
  const bool full = device->FullScreen();
  TRect back;
  if (full) {
    rw->Rect = mode.Monitor;
    back = TRect{0, 0, mode.Monitor.Width(), mode.Monitor.Height()};
  } else {
    rw->Rect = device->Bounds();
    back = PanelRectOf(device);
  }
  if (full && !g_exclusive_allowed) {
    Log3D("Setwndposlocal " + RectText3D(mode.Monitor));
    SetPlacementSoon(device->Window(), mode.Monitor, 5);
  }
  const bool exclusive = full && g_exclusive_allowed && !rw->NoExclusiveNextTime;
  rw->NoExclusiveNextTime = false;

  auto* store = device->FindObject<TDevStore>();
  if (!store) store = new TDevStore(this, device);
  auto* panel = device->FindObject<TWinPanel>();
  if (panel && panel->Parent() != device->Window()) {
    device->RemoveObject(panel);
    panel->Free();
    panel = nullptr;
  }
  if (!panel) panel = new TWinPanel(device, device->Window());

  TSwPresentParams pp;
  if (!exclusive) {
    pp.SwapEffect = TSwSwapEffect::Copy;
    pp.BackBufferCount = 1;
    Log3D("T3DEngine9.InternalCreateRenderer: init windowed device: " + RectText3D(rw->Rect));
    panel->Place(back);
  } else {
    Log3D("T3DEngine9.InternalCreateRenderer - exclusive");
    pp.SwapEffect = TSwSwapEffect::Discard;
    pp.FullScreenRefreshRate = mode.RefreshRate;
    pp.BackBufferCount = 0;
  }
  pp.BackBufferWidth = uint32_t(std::max(0, back.Width()));
  pp.BackBufferHeight = uint32_t(std::max(0, back.Height()));
  pp.BackBufferFormat = TSwFormat(mode.Format);
  pp.Windowed = !exclusive;
  pp.EnableAutoDepthStencil = false;
  pp.PresentationInterval = 0;

  TSwResult res = TSwResult::Ok;
  Ref<TSwSwapChain> chain;
  if (!exclusive) {
    if (!store->Device()) {
      Ref<TSwDevice> dev;
      TSwPresentParams dp = pp;
      dp.DeviceWindow = panel->PresentWindow();
      res = d3d_->CreateDevice(mode.Adapter, panel->PresentWindow(), 0x26, dp, dev);
      if (SwOk(res)) store->SetDevice(dev);
    }
    if (SwOk(res)) {
      TSwPresentParams cp = pp;
      cp.DeviceWindow = panel->PresentWindow();
      res = store->Device()->CreateAdditionalSwapChain(cp, chain);
    }
  } else {
    store->SetDevice(nullptr);
    Ref<TSwDevice> dev;
    TSwPresentParams dp = pp;
    dp.DeviceWindow = device->Window();
    res = d3d_->CreateDevice(mode.Adapter, device->Window(), 0x26, dp, dev);
    if (SwOk(res)) {
      store->SetDevice(dev);
      res = dev->GetSwapChain(0, chain);
    }
  }
  last_result_ = Map3DResult(res);
  Log3D("T3DEngine9.InternalCreateRenderer: create device res= " + std::to_string(last_result_));
  if (!SwOk(res)) {
    // The caller (or the screen holding a pending renderer) owns the
    // renderer: it is marked lost and told, never freed from here.
    renderer->SetState(k3DStateLost);
    if (renderer->OnRelease.Assigned()) renderer->OnRelease(renderer);
    return false;
  }
  store->Renderers.push_back(renderer);
  renderer->store_ = store;
  renderer->chain_ = chain;
  renderer->exclusive_ = exclusive;
  renderer->full_screen_ = full;
  renderer->in_front_ = exclusive;
  renderer->panel_window_ = exclusive ? device->Window() : panel->PresentWindow();
  renderer->present_origin_ = exclusive ? TPoint{} : panel->PresentOrigin();
  renderer->refresh_rate_ = mode.RefreshRate;
  renderer->max_anisotropy_ = std::min<uint32_t>(GetCapValue("MaxAnisotropy", mode.Adapter), 4);
  TSwCaps caps;
  renderer->max_primitives_ = SwOk(d3d_->GetDeviceCaps(mode.Adapter, caps)) ? caps.MaxPrimitiveCount : 0;
  const uint32_t raster = GetCapValue("Raster", mode.Adapter);
  renderer->aniso_available_ = (raster & 0x20000) != 0;
  renderer->lod_bias_available_ = (raster & 0x2000) != 0;
  renderer->l8_available_ = SwOk(d3d_->CheckDeviceFormat(mode.Adapter, TSwFormat(mode.Format), 0,
                                                         TSwResourceType::Texture, TSwFormat::L8));
  Ref<T3DSurface> bb;
  if (renderer->GetBackBuffer(bb)) renderer->target_ = bb;
  // The renderer's own strip: four transparent corners near the origin.
  struct TColorVertex {
    float x, y, z;
    uint32_t color;
  };
  const TColorVertex quad[4] = {{-0.05f, -0.05f, 0, 0}, {-0.05f, 0, 0, 0}, {0, -0.05f, 0, 0}, {0, 0, 0, 0}};
  Ref<TSwVertexBuffer> vb;
  if (SwOk(store->Device()->CreateVertexBuffer(64, 0, 0x42, TSwPool::Managed, vb))) {
    void* data = nullptr;
    if (SwOk(vb->Lock(0, 64, &data, 0))) {
      std::memcpy(data, quad, sizeof quad);
      vb->Unlock();
    }
    renderer->quad_ = vb;
  }
  renderer->SetState(k3DStateUsable);
  device->Repaint();
  return true;
}

}  // namespace kav
