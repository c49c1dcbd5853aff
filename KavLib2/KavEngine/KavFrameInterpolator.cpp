#include "KavLib2/KavEngine/KavFrameInterpolator.h"

#include "VoRav/wpMath.h"

namespace kav {

namespace {
// The correction factor and the mean's factor, in extended precision.
const Extended kSixth = Extended(1) / Extended(6);
const Extended kMean = Extended(0.03125);
}  // namespace

void TFrameInterpolator::Reset() {
  warm_up_ = kWarmUp;
  step_count_ = 0;
  ring_index_ = 0;
  step_sum_ = 0;
}

void TFrameInterpolator::SetRunning(bool discontinuity) {
  if (discontinuity) {
    hold_ = true;
    release_ = false;
  } else if (hold_) {
    release_ = true;
  }
}

double TFrameInterpolator::NextFrameTime(double raw) {
  const bool passing = hold_ || warm_up_ >= 1;
  if (!passing) {
    // Departure: the count stops at 33 instead of growing without end, so it
    // never overflows however long the engine runs; only "more than 32" matters.
    if (step_count_ <= kRing) ++step_count_;
    if (step_count_ > kRing) step_sum_ -= ring_[ring_index_];
    const double step = raw - previous_raw_;
    step_sum_ += step;
    ring_[ring_index_] = step;
    ring_index_ = (ring_index_ + 1) % kRing;
    if (step_count_ > kRing) {
      output_ = double(Extended(output_) + Extended(step_sum_) * kMean);  // the prediction
      output_ = double(Extended(output_) + (Extended(raw) - Extended(output_)) * kSixth);
    }
  }
  if (passing && !hold_) --warm_up_;
  if (passing || step_count_ <= kRing) output_ = raw;
  previous_raw_ = raw;
  if (release_) {
    release_ = false;
    hold_ = false;
  }
  return output_;
}

}  // namespace kav
