#include "platform/window/null/NullWindowBackend.h"

#include <algorithm>
#include <chrono>

#include "VoRav/vxTime.h"
#include "VoRav/wpLocks.h"
#include "platform/display/Display.h"
#include "platform/window/WinState.h"

namespace kav::win {

TNullWindowBackend::TNullWindowBackend() = default;

std::vector<TMonitorArea> TNullWindowBackend::Monitors() {
  if (own_monitors_) return monitors_;
  // The display service's virtual monitors, so that the window layer and the
  // screen queries see the same desktop.
  std::vector<TMonitorArea> r;
  for (const TDisplayMonitor& m : DisplayService()->Monitors()) {
    r.push_back(TMonitorArea{TRect{m.Bounds.Left, m.Bounds.Top, m.Bounds.Right, m.Bounds.Bottom},
                             TRect{m.WorkArea.Left, m.WorkArea.Top, m.WorkArea.Right, m.WorkArea.Bottom}, m.Primary});
    if (m.Primary) std::rotate(r.begin(), r.end() - 1, r.end());  // the primary first
  }
  return r;
}

uint32_t TNullWindowBackend::Now() {
  std::lock_guard<std::mutex> guard(lock_);
  return manual_ ? clock_ : GetElapsedMs();
}

void TNullWindowBackend::SetManualClock(uint32_t ms) {
  std::lock_guard<std::mutex> guard(lock_);
  manual_ = true;
  clock_ = ms;
}

void TNullWindowBackend::Advance(uint32_t ms) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    clock_ += ms;
  }
  wake_.notify_all();
}

void TNullWindowBackend::Wait(uint32_t ms) {
  std::unique_lock<std::mutex> lock(lock_);
  if (manual_ && ms > 50) ms = 50;
  auto ready = [this] { return woken_; };
  if (ms == kInfinite) wake_.wait(lock, ready);
  else wake_.wait_for(lock, std::chrono::milliseconds(ms), ready);
  woken_ = false;
}

void TNullWindowBackend::Wake() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    woken_ = true;
  }
  wake_.notify_all();
}

void TNullWindowBackend::TopLevelChanged(const TTopLevelState& state) { TopLevels[state.hwnd] = state; }

void TNullWindowBackend::TopLevelDestroyed(HWND hwnd) { TopLevels.erase(hwnd); }

int32_t TNullWindowBackend::ShowMessageBox(const std::u16string& text, const std::u16string& caption,
                                           uint32_t flags, HWND owner, const std::function<void()>& serve) {
  (void)serve;
  Boxes.push_back(TBox{text, caption, flags, owner});
  return IDOK;
}

TNullWindowBackend* NullBackend() { return dynamic_cast<TNullWindowBackend*>(&Backend()); }

namespace detail {
std::unique_ptr<TWindowBackend> NewNullBackend() { return std::make_unique<TNullWindowBackend>(); }
}  // namespace detail

bool TNullWindowBackend::PresentPixels(HWND hwnd, TSize client, const uint32_t* pixels, int32_t width, int32_t height,
                                       int32_t pitch, const std::vector<TRect>& rects) {
  (void)width;
  (void)height;
  TWindowPixels& s = Screens[hwnd];
  if (s.Width != client.cx || s.Height != client.cy) {
    s.Width = client.cx;
    s.Height = client.cy;
    s.Pixels.assign(size_t(client.cx) * size_t(client.cy), 0);
  }
  LastPresentedPixels = 0;
  for (const TRect& r : rects)
    for (int32_t y = r.Top; y < r.Bottom; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(pixels) + size_t(y) * size_t(pitch));
      for (int32_t x = r.Left; x < r.Right; ++x) s.Pixels[size_t(y) * size_t(s.Width) + size_t(x)] = row[x] & 0xFFFFFFu;
      LastPresentedPixels += r.Right - r.Left;
    }
  ++s.Presents;
  return true;
}

}  // namespace kav::win
