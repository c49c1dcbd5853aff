#include "VoRav/Win32/winScreen.h"

#include <algorithm>

#include "VoRav/vxUTF8.h"
#include "platform/display/Display.h"

namespace kav {

namespace {

TRect ToRect(const TDisplayRect& r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

// The primary monitor of the snapshot; false when there is none.
bool PrimaryMonitor(TDisplayMonitor& out) {
  auto monitors = DisplayService()->Monitors();
  for (auto& m : monitors)
    if (m.Primary) { out = std::move(m); return true; }
  if (monitors.empty()) return false;
  out = std::move(monitors.front());
  return true;
}

TRect PrimaryScreenRect() {
  TSize s = GetScreenSize();
  return {0, 0, s.cx, s.cy};
}

bool Intersect(const TRect& a, const TRect& b, TRect& out) {
  out = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
         std::min(a.Bottom, b.Bottom)};
  if (out.IsEmpty()) { out = {}; return false; }
  return true;
}

}  // namespace

bool EnumDisplayMonitors(const TRect* clip, TMonitorEnumProc proc, void* data) {
  if (!proc) return false;
  auto monitors = DisplayService()->Monitors();
  if (monitors.empty()) {
    // The pseudo-monitor: the primary screen, cut to the clip rectangle.
    TRect r = PrimaryScreenRect();
    if (clip && !Intersect(r, *clip, r)) return true;
    return proc(kPseudoMonitor, r, data);
  }
  for (size_t i = 0; i < monitors.size(); ++i) {
    TRect r = ToRect(monitors[i].Bounds);
    if (clip && !Intersect(r, *clip, r)) continue;
    if (!proc(static_cast<THMonitor>(i + 1), r, data)) return false;
  }
  return true;
}

bool GetMonitorInfo(THMonitor monitor, TMonitorInfo& info) {
  if (info.Size < kMonitorInfoSize) return false;
  if (monitor == kPseudoMonitor) {
    // The pseudo-monitor answers only while the service has no monitor.
    if (DisplayService()->Count() != 0) return false;
    info.Monitor = PrimaryScreenRect();
    info.Work = GetWorkArea();
    info.Flags = kMonitorInfoPrimary;
    if (info.Size >= kMonitorInfoExSize) info.Device = u"DISPLAY";
    return true;
  }
  TDisplayMonitor m;
  if (monitor == 0 || monitor > 0x10000 || !DisplayService()->Monitor(static_cast<int32_t>(monitor - 1), m))
    return false;
  info.Monitor = ToRect(m.Bounds);
  info.Work = ToRect(m.WorkArea);
  info.Flags = m.Primary ? kMonitorInfoPrimary : 0;
  if (info.Size >= kMonitorInfoExSize)
    info.Device = m.Name.empty() ? u"DISPLAY" + SystemUTF8ToWide(std::to_string(monitor)) : SystemUTF8ToWide(m.Name);
  return true;
}

TRect GetMonitorBounds(THMonitor monitor) {
  if (monitor == 0) return {};
  TMonitorInfo info;
  if (GetMonitorInfo(monitor, info)) return info.Monitor;
  return PrimaryScreenRect();
}

TRect TScreenMonitor::GetBounds() const { return GetMonitorBounds(handle_); }

bool TScreenMonitor::IsPrimary() const {
  TMonitorInfo info;
  return GetMonitorInfo(handle_, info) && (info.Flags & kMonitorInfoPrimary) != 0;
}

TScreen::TScreen() : monitors_(MakeRef<TList>()) { Refresh(); }

void TScreen::Dispose() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (monitors_) monitors_->FreeAll();
    monitors_ = nullptr;
  }
  TRefObject::Dispose();
}

bool TScreen::AddMonitor(THMonitor monitor, const TRect&, void* data) {
  auto* list = static_cast<TList*>(data);
  auto* m = new TScreenMonitor(monitor, list->Count());
  if (list->Add(m) < 0) RefRelease(m);
  return true;
}

void TScreen::Refresh() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!monitors_) return;
  monitors_->FreeAll();
  EnumDisplayMonitors(nullptr, &TScreen::AddMonitor, monitors_.get());
}

int32_t TScreen::MonitorCount() const {
  std::lock_guard<std::mutex> hold(lock_);
  return monitors_ ? monitors_->Count() : 0;
}

Ref<TScreenMonitor> TScreen::GetMonitor(int32_t index) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (!monitors_) return nullptr;
  return Ref<TScreenMonitor>(monitors_->GetAs<TScreenMonitor>(index));
}

TScreen* Screen() {
  static Ref<TScreen> screen = Ref<TScreen>::Adopt(new TScreen());
  return screen.get();
}

TSize GetScreenSize() {
  TDisplayMonitor m;
  if (!PrimaryMonitor(m)) return {kFallbackScreenWidth, kFallbackScreenHeight};
  return {m.Bounds.Width(), m.Bounds.Height()};
}

TRect GetWorkArea() {
  TDisplayMonitor m;
  if (!PrimaryMonitor(m)) return {0, 0, kFallbackScreenWidth, kFallbackScreenHeight};
  return ToRect(m.WorkArea);
}

TRect CenterInWorkArea(int32_t w, int32_t h) {
  TRect work = GetWorkArea();
  TRect r;
  r.Left = work.Left + (work.Width() - w) / 2;
  r.Top = work.Top + (work.Height() - h) / 2;
  r.Right = r.Left + w;
  r.Bottom = r.Top + h;
  return r;
}

TRect GetDesktopRect() {
  auto monitors = DisplayService()->Monitors();
  TRect all;
  bool any = false;
  for (auto& m : monitors) {
    TRect r = ToRect(m.Bounds);
    if (r.IsEmpty()) continue;
    if (!any) {
      all = r;
      any = true;
    } else {
      all = {std::min(all.Left, r.Left), std::min(all.Top, r.Top), std::max(all.Right, r.Right),
             std::max(all.Bottom, r.Bottom)};
    }
  }
  return any ? all : PrimaryScreenRect();
}

int32_t GetScreenRefreshRate() {
  TDisplayMonitor m;
  return PrimaryMonitor(m) ? m.RefreshRate : 0;
}

void GetScreenDpi(int32_t& x, int32_t& y) {
  TDisplayMonitor m;
  if (!PrimaryMonitor(m)) { x = y = 96; return; }
  x = m.DpiX;
  y = m.DpiY;
}

int32_t GetScreenBitsPerPixel() {
  TDisplayMonitor m;
  return PrimaryMonitor(m) ? m.BitsPerPixel : 32;
}

}  // namespace kav
