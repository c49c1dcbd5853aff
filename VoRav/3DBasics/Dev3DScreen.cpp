// T3DScreen: device binding, loss recovery, scenes, viewport, camera and
// the render-target stack.
#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {
void LogScreen(const std::string& text) { LogLine(std::u16string(text.begin(), text.end())); }
}  // namespace

void TDeviceKilledMessenger::Dispose() {
  if (screen_) screen_->ForgetDevice();
  screen_ = nullptr;
  TRefObject::Dispose();
}

T3DScreen::T3DScreen() { batch_ = MakeRef<TVertexBuffer>(this); }

void T3DScreen::ForgetDevice() {
  device_ = nullptr;
  messenger_ = nullptr;
}

void T3DScreen::AddResource(TRefObject* r) {
  std::lock_guard<std::mutex> g(resources_lock_);
  resources_.push_back(r);
}

std::vector<Ref<TRefObject>> T3DScreen::Resources() const {
  std::lock_guard<std::mutex> g(resources_lock_);
  std::vector<Ref<TRefObject>> out;
  out.reserve(resources_.size());
  for (TRefObject* r : resources_)
    if (RefTryAddRef(r)) out.push_back(Ref<TRefObject>::Adopt(r));
  return out;
}

void T3DScreen::RemoveResource(TRefObject* r) {
  std::lock_guard<std::mutex> g(resources_lock_);
  for (size_t i = resources_.size(); i-- > 0;)
    if (resources_[i] == r) {
      resources_.erase(resources_.begin() + std::ptrdiff_t(i));
      return;
    }
}

TRect T3DScreen::DeviceRectFor(TDrawDevice* device, bool full) const {
  TRect r = device->GetOffsetRect();
  if (!full) return r;
  // The monitor that overlaps the device most (the first of equals).
  T3DEngine* engine = Engine3D();
  TDisplayModeInfo mode;
  if (engine && engine->GetDisplayMode(mode, engine->AdapterForRect(r))) return mode.Monitor;
  return r;
}

void T3DScreen::SetDrawDevice(TDrawDevice* device) {
  KAV_ASSERT_MSG(device, "DrawDevice=nil");
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  CompleteRelease();
  const bool full = device->FullScreen();
  const TRect rect = DeviceRectFor(device, full);
  if (device == device_ && full == full_screen_ && Same3DRect(rect, device_rect_)) return;
  const bool changed_device = device != device_;
  if (changed_device) {
    if (!messenger_) {
      messenger_ = new TDeviceKilledMessenger(this);
    } else if (device_) {
      device_->RemoveObject(messenger_);  // the reference moves to the new device
    }
    device->AddObject(messenger_);
  }
  if (changed_device || full || full_screen_) ReleaseDeviceResources();
  device_rect_ = rect;
  device_ = device;
  full_screen_ = full;
  window_ = device->Window();
  Reinit();
}

void T3DScreen::OnRendererRelease(TRefObject*) {
  // Completed where the screen no longer uses the renderer (see the header).
  release_pending_ = true;
}

void T3DScreen::CompleteRelease(bool any_thread) {
  if (!release_pending_.load()) return;
  // Only the thread that draws on the screen drops its renderer (it holds
  // no reference while it draws); another thread (the slide loader making
  // textures) finds the device not ready meanwhile.
  const std::thread::id drawing = scene_thread_.load();
  if (!any_thread && drawing != std::thread::id() && drawing != std::this_thread::get_id()) return;
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  if (!release_pending_.exchange(false) || !renderer_) return;
  renderer_->OnRelease = T3DReleaseEvent();
  renderer_ = nullptr;
  ready_prev_ = false;
  stack_.clear();
  if (OnRendererLost.Assigned()) OnRendererLost(this);
}

bool T3DScreen::DeviceReady() {
  // Departure: a renderer whose release is pending counts as not ready (another thread must not make textures on it).
  CompleteRelease();
  return !release_pending_.load() && renderer_ && renderer_->State() != k3DStatePending;
}

void T3DScreen::Reinit() {
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  if (renderer_) {
    release_pending_ = true;
    CompleteRelease(true);
  }
  release_pending_ = false;
  // Failures are logged once until a renderer is made again, not each frame.
  auto fail = [&](const char* text) {
    if (!failure_logged_) LogScreen(text);
    failure_logged_ = true;
  };
  if (!device_) return fail("No window to draw");
  T3DEngine* engine = Engine3D();
  if (!engine || !engine->CheckDevice()) return fail("Can't init");
  adapter_ = engine->AdapterForRect(device_rect_);
  TDisplayModeInfo mode;
  if (!engine->GetDisplayMode(mode, adapter_)) return fail("Can't GetDisplayMode");
  mode.Adapter = adapter_;
  Ref<T3DRenderer> r = engine->CreateRenderer(device_, mode);
  if (!r) return;
  failure_logged_ = false;
  renderer_ = r;
  renderer_->OnRelease = T3DReleaseEvent::Bind<&T3DScreen::OnRendererRelease>(this);
}

void T3DScreen::ReleaseDeviceResources() {
  const std::vector<Ref<TRefObject>> list = Resources();
  for (size_t i = list.size(); i-- > 0;) {
    TRefObject* r = list[i].get();
    if (auto* vb = dynamic_cast<TVertexBuffer*>(r))
      vb->Release();
    else if (auto* t = dynamic_cast<TCustomTexture*>(r))
      t->ReleaseBuffers();
    else if (auto* c = dynamic_cast<TCustomColoringTexture*>(r))
      c->ReleaseDeviceTexture();
    else if (auto* s = dynamic_cast<TShader*>(r))
      s->ReleaseDeviceShader();
  }
}

void T3DScreen::Close() {
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  ReleaseDeviceResources();
  if (renderer_) {
    release_pending_ = true;
    CompleteRelease(true);
  }
}

void T3DScreen::BeginScene() {
  scene_thread_ = std::this_thread::get_id();
  CompleteRelease();
  if (device_) {
    const bool full = device_->FullScreen();
    const TRect rect = DeviceRectFor(device_, full);
    const bool moved = (!rect.IsEmpty() && rect != device_rect_) || device_->Window() != window_ ||
                       full != full_screen_;
    if (!renderer_ || moved) {
      std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
      // Logged for a real change only, not for every frame without a renderer.
      if (moved) LogScreen("T3DScreen.BeginScene, R= " + RectText3D(rect));
      if (full || full_screen_) ReleaseDeviceResources();
      if (!rect.IsEmpty()) device_rect_ = rect;
      full_screen_ = full;
      window_ = device_->Window();
      Reinit();
    }
  }
  const bool ready = DeviceReady();
  if (ready && !ready_prev_)
    for (const Ref<TRefObject>& r : Resources())
      if (auto* s = dynamic_cast<TShader*>(r.get())) s->Recreate();
  ready_prev_ = ready;
  if (!ready) return;
  renderer_->SetCullMode(true);
  batch_->Reset();
  const int32_t w = Width(), h = Height();
  screen_rect_ = TRect{0, 0, w, h};
  inv_w_ = w > 0 ? 1.0 / w : 0;
  inv_h_ = h > 0 ? 1.0 / h : 0;
  if (stack_.empty()) {
    auto e = MakeRef<TRenderTargetWrapper>();
    e->Surface = Ref<T3DSurface>(renderer_->GetRenderTarget());
    stack_.push_back(e);
    SetCamera(h / ScaleY, w / ScaleX, h, w, CamOriginY, CamOriginX);
    SetViewportOnly(screen_rect_, 0, 1.0f);
  }
  viewport_ = TRect{0, 0, w, h};
  renderer_->BeginScene();
}

bool T3DScreen::EndScene(bool present) {
  if (!DeviceReady()) return false;
  bool ok = renderer_->EndScene();
  if (present) {
    TRect r{0, 0, screen_rect_.Width(), screen_rect_.Height()};
    ok = renderer_->Present(&r, 1, &r) && ok;
  }
  return ok;
}

void T3DScreen::Clear(uint32_t color, bool with_depth) {
  if (!DeviceReady()) return;
  TRect r{screen_rect_.Left - 1, screen_rect_.Top - 1, screen_rect_.Right + 1, screen_rect_.Bottom + 1};
  renderer_->Clear(with_depth ? 3 : 1, color, 1.0f, 1, &r);
}

void T3DScreen::FillRect(uint32_t color, const TRect& rect) {
  if (!DeviceReady()) return;
  renderer_->Clear(1, color, 1.0f, 1, &rect);
}

bool T3DScreen::SetScissor(const TRect* rect) {
  if (!DeviceReady()) return false;
  batch_->Flush();
  return renderer_->SetScissor(rect);
}

void T3DScreen::SetViewportOnly(const TRect& rect, float min_z, float max_z) {
  if (!DeviceReady()) return;
  renderer_->SetViewport(rect, min_z, max_z);
}

void T3DScreen::SetViewport(const TRect& rect, float min_z, float max_z) {
  if (!DeviceReady() || rect.IsEmpty()) return;
  viewport_ = screen_rect_ = camera_rect_ = rect;
  min_z_ = min_z;
  max_z_ = max_z;
  inv_w_ = 1.0 / rect.Width();
  inv_h_ = 1.0 / rect.Height();
  renderer_->SetViewport(rect, min_z, max_z);
  ApplyCamera();
}

void T3DScreen::ApplyCamera() {
  // The stored ratios applied to the new screen size, same origin.
  const double w = screen_rect_.Width(), h = screen_rect_.Height();
  SetCamera(h, w, ratio_h_ * h, ratio_w_ * w, cam_origin_y_, cam_origin_x_);
}

void T3DScreen::SetCamera(double screen_h, double screen_w, double target_h, double target_w, double origin_y,
                          double origin_x) {
  if (!(screen_h > 0 && screen_w > 0 && target_h > 0 && target_w > 0) || !DeviceReady()) return;
  float px = 0.5f, py = 0.5f;
  renderer_->PixelOffset(px, py);
  T3DMatrix world, view, proj;
  world.m[2][0] = world.m[3][0] = float(-2.0 * px * inv_w_);
  world.m[2][1] = world.m[3][1] = float(2.0 * py * inv_h_);
  world.m[3][2] = 1;
  view.m[2][0] = float(1.0 - (2.0 * origin_x + target_w) / screen_w);
  view.m[2][1] = float((2.0 * origin_y + target_h) / screen_h - 1.0);
  view.m[3][2] = 0;
  const double zn = 0.01, zf = 1000000.0;
  proj.m[0][0] = float(screen_w / target_w);
  proj.m[1][1] = float(screen_h / target_h);
  proj.m[2][2] = float(zf / (zf - zn));
  proj.m[2][3] = 1;
  proj.m[3][2] = float(-zn * zf / (zf - zn));
  proj.m[3][3] = 0;
  renderer_->SetTransform(world, 0);
  renderer_->SetTransform(view, 1);
  renderer_->SetTransform(proj, 2);
  cam_origin_x_ = origin_x;
  cam_origin_y_ = origin_y;
  ratio_w_ = target_w / screen_w;
  ratio_h_ = target_h / screen_h;
  cam_screen_w_ = screen_w;
  cam_screen_h_ = screen_h;
}

void T3DScreen::PushRenderTarget(TCustomTexture* texture, int32_t x, int32_t y) {
  if (!DeviceReady()) return;
  if (stack_.empty()) {
    auto e = MakeRef<TRenderTargetWrapper>();
    e->Surface = Ref<T3DSurface>(renderer_->GetRenderTarget());
    stack_.push_back(e);
  }
  Ref<T3DSurface> surface;
  if (texture) {
    T3DTexture* t = texture->GetTexture();
    if (!t || !(surface = t->GetSurface(0))) return;
    origin_x_ = x;
    origin_y_ = y;
    auto e = MakeRef<TRenderTargetWrapper>();
    e->OriginX = x;
    e->OriginY = y;
    e->Surface = surface;
    stack_.push_back(e);
  } else {
    if (stack_.size() > 1) stack_.pop_back();
    surface = stack_.back()->Surface;
    origin_x_ = stack_.back()->OriginX;
    origin_y_ = stack_.back()->OriginY;
  }
  batch_->Flush();
  renderer_->SetRenderTarget(surface.get());
  const TSize ts = surface ? surface->GetSize() : TSize{Width(), Height()};
  viewport_ = TRect{-origin_x_, -origin_y_, ts.cx - origin_x_, ts.cy - origin_y_};
  screen_rect_ = TRect{0, 0, Width(), Height()};
  inv_w_ = Width() > 0 ? 1.0 / Width() : 0;
  inv_h_ = Height() > 0 ? 1.0 / Height() : 0;
  SetCamera(Height(), Width(), ts.cy, ts.cx, origin_y_, origin_x_);
}

T3DViewState T3DScreen::GetViewState() const {
  T3DViewState s;
  s.Viewport = viewport_;
  s.MinZ = min_z_;
  s.MaxZ = max_z_;
  s.ScreenRect = screen_rect_;
  s.CameraRect = camera_rect_;
  s.CamOriginX = float(cam_origin_x_);
  s.CamOriginY = float(cam_origin_y_);
  s.RatioW = float(ratio_w_);
  s.RatioH = float(ratio_h_);
  s.ScreenW = float(cam_screen_w_);
  s.ScreenH = float(cam_screen_h_);
  return s;
}

void T3DScreen::SetViewState(const T3DViewState& s) {
  viewport_ = s.Viewport;
  min_z_ = s.MinZ;
  max_z_ = s.MaxZ;
  screen_rect_ = s.ScreenRect;
  camera_rect_ = s.CameraRect;
  inv_w_ = screen_rect_.Width() > 0 ? 1.0 / screen_rect_.Width() : 0;
  inv_h_ = screen_rect_.Height() > 0 ? 1.0 / screen_rect_.Height() : 0;
  if (DeviceReady() && !viewport_.IsEmpty() && viewport_.Left >= 0 && viewport_.Top >= 0)
    renderer_->SetViewport(viewport_, min_z_, max_z_);
  if (s.ScreenW > 0 && s.ScreenH > 0)
    SetCamera(s.ScreenH, s.ScreenW, double(s.RatioH) * s.ScreenH, double(s.RatioW) * s.ScreenW, s.CamOriginY,
              s.CamOriginX);
}

T3DPoint T3DScreen::ScreenToNdc(const T3DPoint& p) const {
  const double w = screen_rect_.Width(), h = screen_rect_.Height();
  if (w <= 0 || h <= 0) return T3DPoint{};
  return T3DPoint{float((p.x - screen_rect_.Left) * 2.0 / w - 1.0), float(1.0 - (p.y - screen_rect_.Top) * 2.0 / h),
                  float(p.z / h)};
}

T3DPoint T3DScreen::CameraPosition() const {
  const float w = float(screen_rect_.Width()), h = float(screen_rect_.Height());
  return T3DPoint{screen_rect_.Left + w * 0.5f, screen_rect_.Top + h * 0.5f, -h};
}

namespace {
T3DPoint Sub(const T3DPoint& a, const T3DPoint& b) { return T3DPoint{a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(const T3DPoint& a, const T3DPoint& b) { return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z; }
T3DPoint Cross(const T3DPoint& a, const T3DPoint& b) {
  return T3DPoint{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
}  // namespace

T3DPoint T3DScreen::IntersectScreenRayWithPlane(const T3DPoint& p, const T3DPoint& origin, const T3DPoint& e1,
                                                const T3DPoint& e2) const {
  const T3DPoint cam = CameraPosition();
  KAV_ASSERT_MSG(cam.z != 0, "  Camera.Z = 0  ");
  const T3DPoint dir = Sub(T3DPoint{p.x, p.y, 0}, cam);
  const T3DPoint n = Cross(e1, e2);
  double den = Dot(dir, n);
  if (std::fabs(den) < 1e-6) den = 1e-6;
  const double t = Dot(Sub(origin, cam), n) / den;
  return T3DPoint{float(cam.x + t * dir.x), float(cam.y + t * dir.y), float(cam.z + t * dir.z)};
}

T3DPoint T3DScreen::ProjectToPlane(const T3DPoint& p) const {
  const T3DPoint cam = CameraPosition();
  double dz = double(p.z) - cam.z;
  if (std::fabs(dz) < 1e-6) dz = 1e-6;
  const double t = -cam.z / dz;
  return T3DPoint{float(cam.x + t * (p.x - cam.x)), float(cam.y + t * (p.y - cam.y)), 0};
}

uint32_t T3DScreen::PremultiplyColor(uint32_t color) {
  const uint32_t a = color >> 24;
  auto ch = [&](int shift) { return uint32_t(std::lround(((color >> shift) & 0xFF) * a / 255.0)) << shift; };
  return (color & 0xFF000000u) | ch(16) | ch(8) | ch(0);
}

void T3DScreen::Dispose() {
  if (messenger_) {
    messenger_->ForgetScreen();
    if (device_ && device_->RemoveObject(messenger_)) messenger_->Free();
    messenger_ = nullptr;
  }
  if (renderer_) renderer_->OnRelease = T3DReleaseEvent();
  renderer_ = nullptr;
  stack_.clear();
  batch_ = nullptr;
  std::lock_guard<std::mutex> g(resources_lock_);
  for (TRefObject* r : resources_) {
    if (auto* vb = dynamic_cast<TVertexBuffer*>(r)) vb->ForgetScreen();
    else if (auto* t = dynamic_cast<TCustomTexture*>(r)) t->ForgetScreen();
    else if (auto* c = dynamic_cast<TCustomColoringTexture*>(r)) c->ForgetScreen();
    else if (auto* s = dynamic_cast<TShader*>(r)) s->ForgetScreen();
  }
  resources_.clear();
  device_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
