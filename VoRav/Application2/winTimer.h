// The platform timer: a window-layer timer on the application window.
#pragma once

#include "VoRav/Application2/vxTimer2.h"
#include "VoRav/Application2/winHooks.h"

namespace kav {

class TTimer : public TCustomWinTimer {
 public:
  bool Armed() const { return armed_; }
  uintptr_t TimerId() const { return reinterpret_cast<uintptr_t>(this); }

 protected:
  // Holds a window timer only while enabled, with an interval above 0 and a
  // handler. ETimerError when the window layer refuses (no application).
  void UpdateTimer() override;

 private:
  void OnWMTimer(win::HWND window, TMessageRecord& msg, bool& handled);

  bool armed_ = false;
  win::HWND window_ = 0;
  const void* key_ = nullptr;  // the application its handler is filed under
};

TCustomTimer* CreateTimer();

}  // namespace kav
