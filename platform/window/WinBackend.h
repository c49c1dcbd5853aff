// The backend under the window layer: the clock, waiting for input, screens,
// and the real windows that mirror the layer's visible top-level windows.
//
// Every call but Wake and Now comes from the GUI thread. The backend
// delivers input by calling the layer's Inject functions from Poll or Wait.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/window/WinApi.h"

namespace kav::win {

// What the backend needs to show a top-level window.
struct TTopLevelState {
  HWND hwnd = 0;
  std::u16string text;
  TRect client;  // screen coordinates of the client area
  uint32_t style = 0;
  uint32_t ex_style = 0;
  bool visible = false;
  bool minimized = false;
  bool maximized = false;
  bool active = false;
  // The nearest visible top-level window up the owner chain (0: none): the
  // window system keeps this one above it.
  HWND owner = 0;
};

struct TMonitorArea {
  TRect bounds;
  TRect work_area;
  bool primary = false;
};

class TWindowBackend {
 public:
  virtual ~TWindowBackend() = default;

  // Milliseconds for message times, timers and double clicks. Any thread.
  virtual uint32_t Now() = 0;
  // Delivers pending input without waiting.
  virtual void Poll() = 0;
  // Waits up to `ms` (kInfinite: no limit) for input or Wake, delivering
  // what arrives.
  virtual void Wait(uint32_t ms) = 0;
  // Any thread: ends a Wait early (a message was queued).
  virtual void Wake() = 0;

  // A top-level window appeared, changed or went.
  virtual void TopLevelChanged(const TTopLevelState& state) { (void)state; }
  virtual void TopLevelDestroyed(HWND hwnd) { (void)hwnd; }

  // The cursor shape: 0 hides it; system cursors are IDC_ ids, others
  // handles from CreateCursor.
  virtual void ShowCursorShape(HCURSOR cursor) { (void)cursor; }
  virtual void CursorCreated(HCURSOR cursor, const std::vector<uint32_t>& argb, int32_t width, int32_t height,
                             int32_t hot_x, int32_t hot_y) {
    (void)cursor; (void)argb; (void)width; (void)height; (void)hot_x; (void)hot_y;
  }
  virtual void CursorDestroyed(HCURSOR cursor) { (void)cursor; }
  // Moves the pointer; false when the system does not allow it.
  virtual bool WarpPointer(int32_t x, int32_t y) { (void)x; (void)y; return false; }
  // GUI thread: the pointer's screen position, when the system can tell it;
  // asked until the first mouse input reports one (false: the layer's own).
  virtual bool PointerPosition(TPoint& point) { (void)point; return false; }

  // The desktop's name of a top-level window for other programs (file
  // choosers) to attach to: "x11:<hex id>" under X11; empty when it has no
  // real window or the system has no such name.
  virtual std::string DesktopWindowId(HWND hwnd) { (void)hwnd; return {}; }
  // Another program's dialog is modal for top-level window `owner` (which
  // it disables): the window of process group `group` (a file chooser
  // started in a group of its own), once it shows. The backend keeps it
  // above the owner as it keeps the layer's own modal windows: transient
  // for the owner, raised and given the keys when a window it disables
  // gets the focus. Group 0 ends it.
  virtual void ForeignModal(HWND owner, int group) { (void)owner; (void)group; }

  // Pixels per inch of the primary screen.
  virtual void ScreenDpi(int32_t& x, int32_t& y) { x = y = 96; }

  // The displays, the primary one first.
  virtual std::vector<TMonitorArea> Monitors() = 0;

  // A message box that stays above `owner` (a top-level window; 0: none).
  // While it is up the program's windows keep painting: a backend that
  // waits for the box calls `serve` every little while (the layer's
  // painting and the messages other threads send) and gives the windows no
  // input, as a modal box does.
  virtual int32_t ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags,
                                 HWND owner, const std::function<void()>& serve) = 0;

  // Pixel output of a top-level window without a device of its own: copies
  // `rects` (client coordinates, already cut to the image and the client
  // area) of a 32-bit 0x00RRGGBB image into the client area (`client` is its
  // size). False when there is no real window to copy into.
  virtual bool PresentPixels(HWND hwnd, TSize client, const uint32_t* pixels, int32_t width, int32_t height,
                             int32_t pitch, const std::vector<TRect>& rects) {
    (void)hwnd; (void)client; (void)pixels; (void)width; (void)height; (void)pitch; (void)rects;
    return false;
  }
  // The system clipboard. ClipboardPut replaces its contents with blocks by
  // CF_ format (none: empty); ClipboardGet answers a copy of a format's
  // block (false when the clipboard has none); ClipboardHas asks without
  // copying. ClipboardStamp changes with every change of the contents.
  // GUI thread. The base keeps nothing.
  virtual void ClipboardPut(std::map<uint32_t, std::vector<uint8_t>> contents) { (void)contents; }
  virtual bool ClipboardGet(uint32_t format, std::vector<uint8_t>& data) { (void)format; (void)data; return false; }
  virtual bool ClipboardHas(uint32_t format) { (void)format; return false; }
  virtual uint32_t ClipboardStamp() { return 0; }

  // The opacity of a whole top-level window (255 opaque); false where the
  // system cannot.
  virtual bool SetOpacity(HWND hwnd, uint8_t alpha) { (void)hwnd; (void)alpha; return false; }
  // Per-pixel shape and transparency of a top-level window from a
  // premultiplied 0xAARRGGBB image; false where the system cannot.
  virtual bool SetShape(HWND hwnd, const uint32_t* argb, int32_t width, int32_t height) {
    (void)hwnd; (void)argb; (void)width; (void)height;
    return false;
  }
};

}  // namespace kav::win
