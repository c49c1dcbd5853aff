#include "Kav/KavViewer/app/KavPresentBridge.h"

namespace kav {

void TWindowPresentBridge::Service(uint64_t hwnd) {
  SDL_Window* window = backend_->SdlWindowOf(win::HWND(hwnd));
  const TSwWindow id = window ? TSwWindow(SDL_GetWindowID(window)) : 0;
  if (id) sink_->RefreshSize(id);
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (id) ids_[TSwWindow(hwnd)] = id;
    else ids_.erase(TSwWindow(hwnd));
  }
  sink_->Service();
}

bool TWindowPresentBridge::Lookup(TSwWindow window, TSwWindow& id) {
  std::lock_guard<std::mutex> lock(lock_);
  auto it = ids_.find(window);
  if (it == ids_.end()) return false;
  id = it->second;
  return true;
}

SDL_Window* TWindowPresentBridge::SdlWindow(TSwWindow window) {
  TSwWindow id = 0;
  return Lookup(window, id) ? SDL_GetWindowFromID(uint32_t(id)) : nullptr;
}

bool TWindowPresentBridge::Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) {
  TSwWindow id = 0;
  return Lookup(window, id) && sink_->Present(id, frame, x, y);
}

bool TWindowPresentBridge::ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) {
  TSwWindow id = 0;
  return Lookup(window, id) && sink_->ClientSize(id, width, height);
}

}  // namespace kav
