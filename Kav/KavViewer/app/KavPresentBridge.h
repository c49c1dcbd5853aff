// Shows the software device's frames in the SDL windows of the window
// layer: the device presents to a window handle, the SDL sink to an SDL
// window id; the bridge maps one to the other. The map is refreshed on the
// GUI thread; presenting may come from the engine thread. A frame that
// found no window has the window repaint once it is known.
#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "platform/d3d/sdl/SwSdlSink.h"
#include "platform/window/sdl/SdlWindowBackend.h"

namespace kav {

class TWindowPresentBridge : public TSwPresentSink {
 public:
  TWindowPresentBridge(Ref<TSwSdlSink> sink, win::TSdlWindowBackend* backend)
      : sink_(std::move(sink)), backend_(backend) {}

  // GUI thread: learns the SDL window of `hwnd` and its size, and shows the
  // frames presented from other threads.
  void Service(uint64_t hwnd);

  // The SDL window of a device window, as last learnt by Service (null:
  // unknown); the GL device presents into it from the engine thread.
  SDL_Window* SdlWindow(TSwWindow window);

  bool Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) override;
  bool ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) override;

 private:
  bool Lookup(TSwWindow window, TSwWindow& id);

  Ref<TSwSdlSink> sink_;
  win::TSdlWindowBackend* backend_;
  std::mutex lock_;
  std::map<TSwWindow, TSwWindow> ids_;
  std::atomic<bool> dropped_{false};  // a frame found no window to go to
};

}  // namespace kav
