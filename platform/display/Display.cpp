#include "platform/display/Display.h"

#include <mutex>

#include "platform/display/null/NullDisplay.h"

namespace kav {

std::vector<TDisplayMonitor> TDisplayService::Monitors() const {
  std::lock_guard<std::mutex> hold(lock_);
  return monitors_;
}

int32_t TDisplayService::Count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int32_t>(monitors_.size());
}

bool TDisplayService::Monitor(int32_t index, TDisplayMonitor& monitor) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (index < 0 || static_cast<size_t>(index) >= monitors_.size()) return false;
  monitor = monitors_[static_cast<size_t>(index)];
  return true;
}

uint64_t TDisplayService::Generation() const {
  std::lock_guard<std::mutex> hold(lock_);
  return generation_;
}

namespace {

bool SameMonitor(const TDisplayMonitor& a, const TDisplayMonitor& b) {
  return a.Bounds == b.Bounds && a.WorkArea == b.WorkArea && a.Primary == b.Primary &&
         a.BitsPerPixel == b.BitsPerPixel && a.RefreshRate == b.RefreshRate && a.DpiX == b.DpiX &&
         a.DpiY == b.DpiY && a.Name == b.Name && a.Modes == b.Modes;
}

}  // namespace

bool TDisplayService::Publish(std::vector<TDisplayMonitor> monitors) {
  // Exactly one primary monitor: the first that says so, else the first.
  size_t primary = 0;
  for (size_t i = 0; i < monitors.size(); ++i)
    if (monitors[i].Primary) { primary = i; break; }
  for (size_t i = 0; i < monitors.size(); ++i) monitors[i].Primary = i == primary;

  std::lock_guard<std::mutex> hold(lock_);
  bool same = monitors.size() == monitors_.size();
  for (size_t i = 0; same && i < monitors.size(); ++i) same = SameMonitor(monitors[i], monitors_[i]);
  if (same) return false;
  monitors_ = std::move(monitors);
  ++generation_;
  return true;
}

namespace {

std::mutex g_service_lock;

std::shared_ptr<TDisplayService>& CurrentService() {
  static std::shared_ptr<TDisplayService> service = std::make_shared<TNullDisplay>();
  return service;
}

}  // namespace

std::shared_ptr<TDisplayService> DisplayService() {
  std::lock_guard<std::mutex> hold(g_service_lock);
  return CurrentService();
}

std::shared_ptr<TDisplayService> SetDisplayService(std::shared_ptr<TDisplayService> service) {
  if (!service) service = std::make_shared<TNullDisplay>();
  std::lock_guard<std::mutex> hold(g_service_lock);
  CurrentService().swap(service);
  return service;
}

}  // namespace kav
