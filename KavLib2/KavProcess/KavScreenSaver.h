// The system screen saver: kept off while a show plays and put back after,
// or, when the program itself runs as the screen saver, left to the system.
// Every call goes to the display service's screen-saver switch
// (platform/display) and must come from the GUI thread.
#pragma once

namespace kav {

class TScreenSaverControl {
 public:
  // Once: switches the system screen saver on and marks the program as the
  // running screen saver. Answers whether it acted.
  bool SetScreenSaverRunning();
  // Switches the system screen saver off unless this program did already or
  // runs as the screen saver. Answers whether it acted.
  bool DisableScreenSaver();
  // Switches it on again when this program switched it off. Answers whether it acted.
  bool EnableScreenSaver();
  // Shutdown: a screen-saver run tells the system it has ended; otherwise
  // the screen saver is switched on again when this program switched it off.
  void Finalize();

  bool ScreenSaverMode() const noexcept { return screen_saver_mode_; }
  bool Disabled() const noexcept { return disabled_; }

 private:
  bool running_set_ = false;
  bool screen_saver_mode_ = false;
  bool disabled_ = false;
};

// The process's screen-saver state.
TScreenSaverControl& ProcessScreenSaver();

}  // namespace kav
