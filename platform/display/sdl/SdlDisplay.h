// The SDL2 display backend: monitors from SDL's video subsystem, the screen
// saver through SDL's screen-saver switch.
//
// Every SDL call happens on the GUI thread: Create(), Update(), the screen-
// saver calls and the destructor. SDL names no primary display; the monitor
// whose rectangle holds the desktop origin (0, 0) is taken as primary, else
// the first one SDL lists.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/display/Display.h"

namespace kav {

class TSdlDisplay : public TDisplayService {
 public:
  // GUI thread. Starts SDL's video subsystem (counted by SDL, so a window
  // layer that started it too keeps it) and reads the monitors. Null, with
  // SDL's text in `error`, when the subsystem cannot start.
  static std::shared_ptr<TSdlDisplay> Create(std::string* error = nullptr);
  // Stops the video subsystem once (SDL counts the starts) when the last
  // reference goes on the GUI thread; elsewhere SDL is left alone and the
  // program's final SDL_Quit stops it.
  ~TSdlDisplay() override;

  bool Update() override;
  bool SetScreenSaverEnabled(bool enabled) override;

 private:
  TSdlDisplay() = default;
  std::thread::id gui_thread_ = std::this_thread::get_id();
};

}  // namespace kav
