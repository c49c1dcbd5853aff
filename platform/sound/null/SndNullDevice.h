// The null sound device: mixes like the real one, but its output goes
// nowhere (or into a capture the tests read) and its time is a clock of the
// caller's. Before every buffer call it mixes up to the clock, so play
// cursors move at 176,400 output bytes a second of clock time; nothing is
// mixed between calls, and nothing is lost either.
#pragma once

#include <functional>
#include <vector>

#include "platform/sound/SndDevice.h"

namespace kav {

class TSndNullDevice : public TSndDevice {
 public:
  // Microseconds of the device's clock; it must never go backwards (a clock
  // that does is read as standing still). Without one the monotonic clock
  // from the device's creation is used.
  using TClock = std::function<int64_t()>;
  explicit TSndNullDevice(TClock clock = {});

  // While on, every mixed frame is kept (interleaved stereo 16-bit).
  void SetCapture(bool on);
  std::vector<int16_t> TakeCapture();
  // Mixes up to the clock now.
  void Advance();

  // Installs the null backend with the monotonic clock.
  static void Install();

 protected:
  void AdvanceLocked() override;

 private:
  TClock clock_;
  int64_t origin_us_ = 0;
  bool capture_ = false;
  std::vector<int16_t> captured_;
  std::vector<int16_t> scratch_;
};

}  // namespace kav
