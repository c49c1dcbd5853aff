// Smooths the show clock the engine reads once per pass.
//
// The raw clock advances in uneven steps; the interpolator predicts the next
// value from the mean of the last 32 steps and pulls the prediction a sixth
// of the way toward the raw value, so frames advance evenly. Around stops,
// starts and seeks (a "hold") raw values pass through unchanged.
#pragma once

#include <cstdint>

#include "VoRav/SysObj2.h"

namespace kav {

class TFrameInterpolator : public TRefObject {
 public:
  static constexpr int32_t kRing = 32;
  static constexpr int32_t kWarmUp = 16;

  TFrameInterpolator() { Reset(); }

  // Warm-up again: 16 passes of raw values, then 32 recorded steps.
  void Reset();
  // true: a discontinuity starts (values pass through); false ends it after
  // the next NextFrameTime. false without a hold changes nothing.
  void SetRunning(bool discontinuity);
  double NextFrameTime(double raw);

  bool Holding() const { return hold_; }

 private:
  double output_ = 0;
  double previous_raw_ = 0;
  double ring_[kRing] = {};
  int32_t warm_up_ = kWarmUp;
  int32_t step_count_ = 0;
  int32_t ring_index_ = 0;
  double step_sum_ = 0;
  bool hold_ = false;
  bool release_ = false;
};

}  // namespace kav
