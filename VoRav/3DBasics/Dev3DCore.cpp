#include "VoRav/3DBasics/Dev3DCore.h"

#include <algorithm>
#include <mutex>

namespace kav {

namespace {
// Guards every draw device's renderer list and every renderer's device
// field: renderers and devices die on different threads.
std::mutex& RendererListLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

std::recursive_mutex& Device3DReleaseLock() {
  static std::recursive_mutex lock;
  return lock;
}

bool Same3DRect(const TRect& a, const TRect& b) {
  if (a.IsEmpty() && b.IsEmpty()) return true;
  return a == b;
}

std::string RectText3D(const TRect& r) {
  std::string s = "(";
  s += std::to_string(r.Left);
  s += ", ";
  s += std::to_string(r.Top);
  s += ", ";
  s += std::to_string(r.Right);
  s += ", ";
  s += std::to_string(r.Bottom);
  s += ")";
  return s;
}

TDrawDevice::TDrawDevice(uint64_t window) : window_(window) {}

void TDrawDevice::SetBounds(const TRect& rect, TPoint offset, bool full_screen) {
  if (Same3DRect(rect, bounds_) && offset == offset_ && full_screen == full_screen_) return;
  bounds_ = rect;
  offset_ = offset;
  full_screen_ = full_screen;
  // Call each renderer with a reference held, outside the list lock, so a
  // renderer may remove itself meanwhile.
  std::vector<T3DRenderer*> held;
  {
    std::lock_guard<std::mutex> g(RendererListLock());
    for (T3DRenderer* r : renderers_)
      if (RefTryAddRef(r)) held.push_back(r);
  }
  for (T3DRenderer* r : held) {
    Ref<T3DRenderer> keep = Ref<T3DRenderer>::Adopt(r);
    r->SetBounds();
  }
}

TRect TDrawDevice::GetOffsetRect() const {
  return TRect{offset_.X, offset_.Y, offset_.X + bounds_.Width(), offset_.Y + bounds_.Height()};
}

void TDrawDevice::Repaint() {
  if (OnRepaint.Assigned()) OnRepaint(this);
}

void TDrawDevice::AddRenderer(T3DRenderer* r) {
  std::lock_guard<std::mutex> g(RendererListLock());
  renderers_.push_back(r);
}

void TDrawDevice::RemoveRenderer(T3DRenderer* r) {
  std::lock_guard<std::mutex> g(RendererListLock());
  renderers_.erase(std::remove(renderers_.begin(), renderers_.end(), r), renderers_.end());
}

int32_t TDrawDevice::RendererCount() const {
  std::lock_guard<std::mutex> g(RendererListLock());
  return int32_t(renderers_.size());
}

void TDrawDevice::AddObject(TRefObject* obj) {
  if (obj) objects_.push_back(obj);
}

bool TDrawDevice::RemoveObject(TRefObject* obj) {
  auto it = std::find(objects_.begin(), objects_.end(), obj);
  if (it == objects_.end()) return false;
  objects_.erase(it);
  return true;
}

void TDrawDevice::Dispose() {
  // Objects are freed last first: the store goes before the window it uses.
  while (!objects_.empty()) {
    TRefObject* o = objects_.back();
    objects_.pop_back();
    RefRelease(o);
  }
  {
    std::lock_guard<std::mutex> g(RendererListLock());
    for (T3DRenderer* r : renderers_) r->device_ = nullptr;
    renderers_.clear();
  }
  TRefObject::Dispose();
}

T3DRenderer::T3DRenderer(TDrawDevice* device) : device_(device) {
  if (device_) device_->AddRenderer(this);
}

TDrawDevice* T3DRenderer::DrawDevice() const {
  std::lock_guard<std::mutex> g(RendererListLock());
  return device_;
}

void T3DRenderer::DetachDevice() {
  std::lock_guard<std::mutex> g(RendererListLock());
  device_ = nullptr;
}

void T3DRenderer::Dispose() {
  {
    std::lock_guard<std::mutex> g(RendererListLock());
    if (device_) {
      auto& list = device_->renderers_;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
      device_ = nullptr;
    }
  }
  TRefObject::Dispose();
}

}  // namespace kav
