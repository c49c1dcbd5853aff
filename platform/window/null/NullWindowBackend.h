// The null window backend: no real windows. The display service's virtual
// monitors (or a test's own), an optional manual clock for timers, and
// records of what the layer asked of it (top-level windows, cursor shape,
// message boxes) for tests.
// Input is injected with the layer's Inject functions.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/window/WinBackend.h"

namespace kav::win {

class TNullWindowBackend : public TWindowBackend {
 public:
  TNullWindowBackend();

  uint32_t Now() override;
  void Poll() override {}
  // Waits on the real clock, at most `ms` (with the manual clock: at most
  // 50 ms, since its time only moves when a test moves it).
  void Wait(uint32_t ms) override;
  void Wake() override;

  void TopLevelChanged(const TTopLevelState& state) override;
  void TopLevelDestroyed(HWND hwnd) override;
  void ShowCursorShape(HCURSOR cursor) override { cursor_shape_ = cursor; }
  bool WarpPointer(int32_t x, int32_t y) override {
    if (pointer_known_) pointer_ = TPoint{x, y};
    return true;
  }
  // Knows the pointer only after SetPointer: like a system that reports it
  // wherever it is, not only through input to the program's windows.
  bool PointerPosition(TPoint& point) override {
    if (pointer_known_) point = pointer_;
    return pointer_known_;
  }
  // The display service's monitors unless a test set its own.
  std::vector<TMonitorArea> Monitors() override;
  int32_t ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags, HWND owner,
                         const std::function<void()>& serve) override;
  // Keeps the last pixels of each window's client area for tests.
  bool PresentPixels(HWND hwnd, TSize client, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                     const std::vector<TRect>& rects) override;
  bool SetOpacity(HWND hwnd, uint8_t alpha) override {
    Opacity[hwnd] = alpha;
    return true;
  }
  bool SetShape(HWND hwnd, const uint32_t* argb, int32_t width, int32_t height) override {
    Shapes[hwnd] = TWindowPixels{width, height, std::vector<uint32_t>(argb, argb + size_t(width) * size_t(height)), 1};
    return true;
  }

  // The clipboard in memory; the stamp counts the puts. Any thread.
  void ClipboardPut(std::map<uint32_t, std::vector<uint8_t>> contents) override {
    std::lock_guard<std::mutex> guard(lock_);
    clipboard_ = std::move(contents);
    ++clipboard_stamp_;
  }
  bool ClipboardGet(uint32_t format, std::vector<uint8_t>& data) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = clipboard_.find(format);
    if (it == clipboard_.end()) return false;
    data = it->second;
    return true;
  }
  bool ClipboardHas(uint32_t format) override {
    std::lock_guard<std::mutex> guard(lock_);
    return clipboard_.count(format) != 0;
  }
  uint32_t ClipboardStamp() override {
    std::lock_guard<std::mutex> guard(lock_);
    return clipboard_stamp_;
  }

  // Test controls (GUI thread unless said otherwise).
  // From now on Now() is `ms` and moves only with Advance. Any thread.
  void SetManualClock(uint32_t ms);
  void Advance(uint32_t ms);
  void SetMonitors(std::vector<TMonitorArea> monitors) {
    monitors_ = std::move(monitors);
    own_monitors_ = true;
  }
  HCURSOR CursorShape() const { return cursor_shape_; }
  // The pointer stands at (x, y) without any input having reported it.
  void SetPointer(int32_t x, int32_t y) {
    pointer_known_ = true;
    pointer_ = TPoint{x, y};
  }
  // The last state of each top-level window the layer reported.
  std::map<HWND, TTopLevelState> TopLevels;
  struct TBox {
    std::u16string text;
    std::u16string caption;
    uint32_t flags;
    HWND owner;
  };
  std::vector<TBox> Boxes;
  // What a window's client area shows (0x00RRGGBB, row by row); a new
  // client size starts black. `Presents` counts the copies.
  struct TWindowPixels {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint32_t> Pixels;
    int32_t Presents = 0;
    uint32_t At(int32_t x, int32_t y) const {
      return x < 0 || y < 0 || x >= Width || y >= Height ? 0 : Pixels[size_t(y) * size_t(Width) + size_t(x)];
    }
  };
  std::map<HWND, TWindowPixels> Screens;
  std::map<HWND, uint8_t> Opacity;
  std::map<HWND, TWindowPixels> Shapes;
  // Pixels copied by the last present.
  int64_t LastPresentedPixels = 0;

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool woken_ = false;
  bool manual_ = false;
  uint32_t clock_ = 0;
  HCURSOR cursor_shape_ = IDC_ARROW;
  bool pointer_known_ = false;
  TPoint pointer_;
  std::vector<TMonitorArea> monitors_;
  bool own_monitors_ = false;
  std::map<uint32_t, std::vector<uint8_t>> clipboard_;
  uint32_t clipboard_stamp_ = 1;
};

// The null backend now in use, or nil when another backend runs.
TNullWindowBackend* NullBackend();

}  // namespace kav::win
