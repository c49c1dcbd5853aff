// The SDL2 presentation sink: shows presented frames in SDL windows.
//
// SDL may only be called on the GUI thread (the thread that created the
// sink). Present() may come from any thread: it copies the frame into the
// window's pending slot (a newer frame replaces one not yet shown) and, off
// the GUI thread, wakes the GUI thread's SDL event loop with an event of
// WakeEventType(), then calls the waker when one is set (a GUI thread that
// does not wait inside SDL learns of the event through it); the GUI thread
// calls Service() to show what is pending.
// On the GUI thread Present() shows the frame at once. The sink keeps the
// last frame shown in each window (Reshow).
//
// A window handle (TSwWindow) is an SDL window id. Windows may be created by
// the sink (CreateWindow) or elsewhere in the program; the sink learns their
// client sizes on the GUI thread (CreateWindow, Service, RefreshSize).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/d3d/SwPresentSink.h"

namespace kav {

class TSwSdlSink : public TSwPresentSink {
 public:
  // GUI thread. Initialises SDL's video subsystem when it is not running;
  // raises EOSError when that fails.
  TSwSdlSink();
  ~TSwSdlSink() override;

  // GUI thread: a window of the given client size owned by the sink; 0 when
  // SDL cannot create it.
  TSwWindow CreateWindow(const char* title, int32_t width, int32_t height);
  // GUI thread: re-reads the client size of a window made elsewhere.
  void RefreshSize(TSwWindow window);

  bool Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) override;
  bool ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) override;

  // GUI thread: shows every pending frame; returns how many were shown.
  int32_t Service();
  // GUI thread: shows the window's last frame again (SDL made its surface
  // anew, empty, or the window system lost the picture); false when it has
  // none. A still picture is presented once, so the sink keeps it.
  bool Reshow(TSwWindow window);
  uint32_t WakeEventType() const { return wake_event_; }
  // GUI thread, before frames come from other threads: called, from the
  // presenting thread, after each wake event is pushed.
  void SetWaker(std::function<void()> waker) { waker_ = std::move(waker); }
  bool OnGuiThread() const { return std::this_thread::get_id() == gui_thread_; }

 private:
  struct TPending {
    std::vector<uint32_t> Pixels;
    int32_t Width = 0, Height = 0, X = 0, Y = 0;
    bool Ready = false;
  };
  bool Show(TSwWindow window, const uint32_t* pixels, int32_t pitch, int32_t w, int32_t h, int32_t x, int32_t y);

  std::thread::id gui_thread_;
  uint32_t wake_event_ = 0;
  std::function<void()> waker_;
  bool own_video_ = false;
  std::mutex lock_;
  std::map<TSwWindow, TPending> pending_;
  std::map<TSwWindow, TPending> last_;  // GUI thread: the frame each window shows
  std::map<TSwWindow, std::pair<uint32_t, uint32_t>> sizes_;
  std::vector<TSwWindow> own_windows_;
};

}  // namespace kav
