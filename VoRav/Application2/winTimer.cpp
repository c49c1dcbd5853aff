#include "VoRav/Application2/winTimer.h"

#include "VoRav/Application2/winApplication.h"

namespace kav {

using namespace win;

namespace {
const uint32_t kTimerMessage[] = {WM_TIMER};
}

TCustomTimer* CreateTimer() { return new TTimer(); }

// Set without code at start-up: whoever reads it links this module in.
TTimerFactory PlatformTimerFactory = &CreateTimer;

void TTimer::UpdateTimer() {
  if (armed_) {
    KillTimer(window_, TimerId());
    RemoveAppMessageHandler(key_, kTimerMessage, TMessageHookHandler::Bind<&TTimer::OnWMTimer>(this));
    armed_ = false;
  }
  TWinApplication* app = WinApplication();
  if (GetInterval() == 0 || !GetEnabled() || !GetOnTimer()) return;
  window_ = app ? app->GetHandle() : 0;
  // Once the application window is gone (the last event pass of shutdown),
  // a timer could never fire: it stays off instead of raising out of the
  // shutdown. Only a refused SetTimer raises.
  if (!window_) return;
  if (!SetTimer(window_, TimerId(), GetInterval())) throw ETimerError("Not enough timers available");
  key_ = app;
  AddAppMessageHandler(app, kTimerMessage, TMessageHookHandler::Bind<&TTimer::OnWMTimer>(this));
  armed_ = true;
}

void TTimer::OnWMTimer(HWND, TMessageRecord& msg, bool& handled) {
  if (msg.WParam != TimerId()) return;
  handled = true;
  Fire();
}

}  // namespace kav
