#include "Kav/KavViewer/app/KavPresentBridge.h"

#include "platform/window/WinDialog.h"

namespace kav {

namespace {

// Marks a window and every window inside it for repainting.
void InvalidateTree(win::HWND h) {
  win::InvalidateRect(h, nullptr, false);
  for (win::HWND c = win::FindWindowExA(h, 0, nullptr, nullptr); c; c = win::FindWindowExA(h, c, nullptr, nullptr))
    InvalidateTree(c);
}

}  // namespace

void TWindowPresentBridge::Service(uint64_t hwnd) {
  SDL_Window* window = backend_->SdlWindowOf(win::HWND(hwnd));
  const TSwWindow id = window ? TSwWindow(SDL_GetWindowID(window)) : 0;
  if (id) sink_->RefreshSize(id);
  bool learnt = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (id) {
      TSwWindow& known = ids_[TSwWindow(hwnd)];
      learnt = known != id;
      known = id;
    } else {
      ids_.erase(TSwWindow(hwnd));
    }
  }
  // A frame presented before its window was known here (or while it had
  // none) never showed, and a still slide presents no other: the window and
  // its device panels repaint, which has the engine draw the frame again.
  if (id && (dropped_.exchange(false) || learnt)) InvalidateTree(win::HWND(hwnd));
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
  if (Lookup(window, id) && sink_->Present(id, frame, x, y)) return true;
  dropped_ = true;
  return false;
}

bool TWindowPresentBridge::ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) {
  TSwWindow id = 0;
  return Lookup(window, id) && sink_->ClientSize(id, width, height);
}

}  // namespace kav
