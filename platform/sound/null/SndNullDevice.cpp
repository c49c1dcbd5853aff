#include "platform/sound/null/SndNullDevice.h"

#include <algorithm>
#include <chrono>

namespace kav {

namespace {

int64_t MonotonicUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TSndNullDevice::TSndNullDevice(TClock clock) : clock_(std::move(clock)) {
  if (!clock_) {
    origin_us_ = MonotonicUs();
    const int64_t origin = origin_us_;
    clock_ = [origin] { return MonotonicUs() - origin; };
  }
}

void TSndNullDevice::Install() {
  SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
}

void TSndNullDevice::SetCapture(bool on) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  capture_ = on;
}

std::vector<int16_t> TSndNullDevice::TakeCapture() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  return std::exchange(captured_, {});
}

void TSndNullDevice::Advance() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
}

void TSndNullDevice::AdvanceLocked() {
  const int64_t us = std::max<int64_t>(clock_(), 0);
  // Output frames due at this clock time (exact: no drift from rounding).
  const uint64_t due = uint64_t((__int128(us) * kOutputRate) / 1000000);
  uint64_t done = RenderedLocked();
  while (done < due) {
    const uint32_t n = uint32_t(std::min<uint64_t>(due - done, 4096));
    if (capture_) {
      scratch_.resize(size_t(n) * 2);
      RenderLocked(scratch_.data(), n);
      captured_.insert(captured_.end(), scratch_.begin(), scratch_.end());
    } else {
      RenderLocked(nullptr, n);
    }
    done += n;
  }
}

}  // namespace kav
