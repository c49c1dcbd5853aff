// The null display backend: monitors as the caller configures them (tests,
// headless runs) and a screen-saver switch that only counts.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/display/Display.h"

namespace kav {

class TNullDisplay : public TDisplayService {
 public:
  // One monitor: (0, 0, 1920, 1080), work area without a 40-pixel panel at
  // the bottom, 32 bits per pixel, 60 Hz, 96 dpi.
  TNullDisplay();
  // These monitors (an empty list stands for a system that reports none).
  explicit TNullDisplay(std::vector<TDisplayMonitor> monitors);

  // A monitor whose work area is its whole rectangle, 32 bits, 60 Hz.
  static TDisplayMonitor MakeMonitor(int32_t left, int32_t top, int32_t width, int32_t height,
                                     bool primary = false);

  // Changes what the "system" reports; the snapshot follows at the next Update().
  void SetSystemMonitors(std::vector<TDisplayMonitor> monitors);

  bool Update() override;
  bool SetScreenSaverEnabled(bool enabled) override;
  void ScreenSaverStopped() override { ++stopped_calls_; }

  // What the screen-saver calls did.
  bool ScreenSaverEnabled() const { return enabled_.load(); }
  int32_t ScreenSaverCalls() const { return saver_calls_.load(); }
  int32_t ScreenSaverStoppedCalls() const { return stopped_calls_.load(); }
  // Makes the next SetScreenSaverEnabled calls fail (tests of refusals).
  void SetRefuseScreenSaver(bool refuse) { refuse_ = refuse; }

 private:
  std::mutex lock_;
  std::vector<TDisplayMonitor> system_;
  std::atomic<bool> enabled_{true};
  std::atomic<bool> refuse_{false};
  std::atomic<int32_t> saver_calls_{0};
  std::atomic<int32_t> stopped_calls_{0};
};

}  // namespace kav
