#include "platform/display/null/NullDisplay.h"

namespace kav {

TDisplayMonitor TNullDisplay::MakeMonitor(int32_t left, int32_t top, int32_t width, int32_t height,
                                          bool primary) {
  TDisplayMonitor m;
  m.Bounds = {left, top, left + width, top + height};
  m.WorkArea = m.Bounds;
  m.Primary = primary;
  m.BitsPerPixel = 32;
  m.RefreshRate = 60;
  m.Modes.push_back({width, height, 32, 60});
  return m;
}

TNullDisplay::TNullDisplay() {
  TDisplayMonitor m = MakeMonitor(0, 0, 1920, 1080, true);
  m.WorkArea.Bottom -= 40;
  m.Name = "null-0";
  system_.push_back(m);
  Publish(system_);
}

TNullDisplay::TNullDisplay(std::vector<TDisplayMonitor> monitors) : system_(std::move(monitors)) {
  Publish(system_);
}

void TNullDisplay::SetSystemMonitors(std::vector<TDisplayMonitor> monitors) {
  std::lock_guard<std::mutex> hold(lock_);
  system_ = std::move(monitors);
}

bool TNullDisplay::Update() {
  std::vector<TDisplayMonitor> copy;
  {
    std::lock_guard<std::mutex> hold(lock_);
    copy = system_;
  }
  return Publish(std::move(copy));
}

bool TNullDisplay::SetScreenSaverEnabled(bool enabled) {
  ++saver_calls_;
  if (refuse_) return false;
  enabled_ = enabled;
  return true;
}

}  // namespace kav
