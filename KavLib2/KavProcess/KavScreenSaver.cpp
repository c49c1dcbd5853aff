#include "KavLib2/KavProcess/KavScreenSaver.h"

#include "platform/display/Display.h"

namespace kav {

bool TScreenSaverControl::SetScreenSaverRunning() {
  if (running_set_) return false;
  running_set_ = true;
  DisplayService()->SetScreenSaverEnabled(true);
  screen_saver_mode_ = true;
  disabled_ = false;
  return true;
}

bool TScreenSaverControl::DisableScreenSaver() {
  if (disabled_ || screen_saver_mode_) return false;
  DisplayService()->SetScreenSaverEnabled(false);
  disabled_ = true;
  return true;
}

bool TScreenSaverControl::EnableScreenSaver() {
  if (!disabled_) return false;
  DisplayService()->SetScreenSaverEnabled(true);
  disabled_ = false;
  return true;
}

void TScreenSaverControl::Finalize() {
  if (screen_saver_mode_)
    DisplayService()->ScreenSaverStopped();
  else
    EnableScreenSaver();
}

TScreenSaverControl& ProcessScreenSaver() {
  static TScreenSaverControl control;
  return control;
}

}  // namespace kav
