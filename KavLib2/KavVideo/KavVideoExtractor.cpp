#include "KavLib2/KavVideo/KavVideoExtractor.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Distance of a slot's frame from a target; slots without a decoded frame
// count as the farthest of all.
int64_t Distance(int32_t decoded, int32_t target) {
  if (decoded < 0) return std::numeric_limits<int64_t>::max();
  return std::llabs(int64_t(decoded) - target);
}

}  // namespace

TKavVideoExtractor::TKavVideoExtractor(Ref<TFrameSource> source) : source_(std::move(source)) {
  KAV_ASSERT(source_);
  info_ = source_->Info();
  // The worker runs at the normal priority: lowering it and raising it back
  // after the first frame needs privileges here.
  Run(TActiveProc::Bind<&TKavVideoExtractor::Work>(this), nullptr, false);
}

void TKavVideoExtractor::Dispose() {
  Stop();
  ReleaseAllFrames();
  source_ = nullptr;
  TActiveMonitor::Dispose();
}

void TKavVideoExtractor::Stop() {
  Terminate();
  WaitFor();
}

int32_t TKavVideoExtractor::Requested() {
  Enter();
  int32_t r = requested_;
  Leave();
  return r;
}

int32_t TKavVideoExtractor::SlotOf(int32_t frame) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].Decoded == frame) return int32_t(i);
  return -1;
}

void TKavVideoExtractor::AddFrame(Ref<TYUVImage> frame) {
  if (!frame) return;
  frame->OnLost = TDelegate<void(TYUVImage*)>::Bind<&TKavVideoExtractor::FrameLost>(this);
  Enter();
  slots_.push_back(TFrameSlot{std::move(frame), kNoFrame, kNoFrame});
  Leave();
}

void TKavVideoExtractor::PutFrameSlot(TFrameSlot& slot) {
  if (!slot.Frame) return;
  // A frame that lost its contents while it was out is not taken for the
  // frame it held.
  if (slot.Frame->Invalid) slot.Decoded = kLostFrame;
  Enter();
  slots_.push_back(std::move(slot));
  Leave();
  slot = TFrameSlot();
}

void TKavVideoExtractor::ReleaseAllFrames() {
  std::vector<TFrameSlot> gone;
  Enter();
  gone.swap(slots_);
  Leave();
  // Released outside the monitor: freeing a frame takes the frame's own
  // monitor, which the lost callback holds while it enters ours.
  for (auto& s : gone)
    if (s.Frame) s.Frame->OnLost = nullptr;
}

void TKavVideoExtractor::FrameLost(TYUVImage* frame) {
  Enter();
  for (auto& s : slots_) {
    if (s.Frame.get() != frame) continue;
    if (s.Decoded >= 0) requested_ = s.Decoded;
    s.Decoded = kNoFrame;
    break;
  }
  Leave();
}

int32_t TKavVideoExtractor::WrapFrame(int64_t frame) const noexcept {
  if (frame < 0) frame = 0;
  const int32_t count = info_.FrameCount;
  if (count > 0 && frame >= count) frame = info_.Loop ? frame % count : count - 1;
  return int32_t(std::min<int64_t>(frame, std::numeric_limits<int32_t>::max() - 1));
}

int32_t TKavVideoExtractor::NormalizeFrameIndex(double time_ms) const noexcept {
  const double fps = info_.FramesPerSecond;
  // A clip without a usable rate shows its first frame.
  if (!(fps > 0) || !std::isfinite(fps) || !std::isfinite(time_ms)) return 0;
  const double f = std::nearbyint(time_ms * fps * 0.001);
  if (f <= 0) return 0;
  return WrapFrame(f >= 9.0e18 ? std::numeric_limits<int64_t>::max() : int64_t(f));
}

void TKavVideoExtractor::GetFrameTimeRange(int32_t frame, double& from_ms, double& to_ms) const noexcept {
  const double fps = info_.FramesPerSecond;
  if (!(fps > 0) || !std::isfinite(fps)) {
    from_ms = to_ms = 0;
    return;
  }
  from_ms = (frame - 0.5) * 1000.0 / fps;
  to_ms = (frame + 0.5) * 1000.0 / fps;
}

bool TKavVideoExtractor::GetFrame(TFrameSlot& slot, double display_rate, double time_ms) {
  slot = TFrameSlot();
  const int32_t target = NormalizeFrameIndex(time_ms);
  Enter();
  int32_t best = -1;
  for (size_t i = 0; i < slots_.size(); ++i) {
    const int32_t d = slots_[i].Decoded;
    if (d < 0) continue;
    if (best < 0) {
      best = int32_t(i);
      continue;
    }
    const int64_t di = Distance(d, target), db = Distance(slots_[size_t(best)].Decoded, target);
    if (di < db || (di == db && d <= target)) best = int32_t(i);
  }
  bool exact = false;
  if (best >= 0) {
    slot = std::move(slots_[size_t(best)]);
    slots_.erase(slots_.begin() + best);
    slot.Wanted = target;
    exact = slot.Decoded == target;
  }
  if (!exact) {
    // The frame itself is wanted before any prefetch: a paused clip would
    // otherwise never get it.
    if (SlotOf(target) < 0) requested_ = target;
  } else {
    int32_t next = target + 1;
    if (display_rate > 0 && std::isfinite(display_rate)) {
      next = NormalizeFrameIndex(time_ms + 1000.0 / display_rate);
      if (next == target) next = WrapFrame(int64_t(target) + 1);
    } else {
      next = WrapFrame(int64_t(target) + 1);
    }
    if (next != slot.Decoded && SlotOf(next) < 0) requested_ = next;
  }
  Leave();
  return exact;
}

void TKavVideoExtractor::Seek(bool wait, double time_ms) {
  const int32_t target = NormalizeFrameIndex(time_ms);
  Enter();
  for (auto& s : slots_)
    if (s.Frame && s.Frame->Invalid) s.Decoded = kLostFrame;
  if (SlotOf(target) < 0) {
    requested_ = target;
    // Waiting needs a slot the worker can decode into (or one it is decoding
    // into): when every frame is held by callers (which may be this very
    // thread's other objects) nothing could ever end the wait.
    while (wait && !TerminateRequested() && !stopped_ && requested_ == target && SlotOf(target) < 0 &&
           (decoding_ || !slots_.empty()))
      TMonitor::Wait();
  }
  Leave();
}

void TKavVideoExtractor::Work(void*) {
  for (;;) {
    Enter();
    while (!TerminateRequested() && (requested_ == kNoFrame || slots_.empty())) TMonitor::Wait();
    if (TerminateRequested()) {
      Leave();
      break;
    }
    const int32_t target = requested_;
    if (SlotOf(target) >= 0) {
      requested_ = kNoFrame;
      Leave();
      continue;
    }
    // The slot whose frame is farthest from the target (on equal distance a
    // later one at or after it) is decoded into.
    size_t far = 0;
    for (size_t i = 1; i < slots_.size(); ++i) {
      const int64_t di = Distance(slots_[i].Decoded, target), df = Distance(slots_[far].Decoded, target);
      if (di > df || (di == df && slots_[i].Decoded >= target)) far = i;
    }
    TFrameSlot slot = std::move(slots_[far]);
    slots_.erase(slots_.begin() + long(far));
    decoding_ = true;
    Leave();

    bool ok = false;
    try {
      ok = source_->GetFrame(target, slot.Frame.get());
    } catch (const Exception&) {
      ok = false;  // a broken clip leaves the frame as it was
    }
    if (ok) {
      slot.Frame->Invalid = false;
      ++decodes_;
    }

    Enter();
    // A failed decode keeps the number of what the image still holds.
    if (ok) slot.Decoded = target;
    slots_.push_back(std::move(slot));
    decoding_ = false;
    if (requested_ == target) requested_ = kNoFrame;
    Leave();
  }
  stopped_ = true;
  Enter();  // wakes waiting seekers
  Leave();
}

double VideoPositionMs(double t, double start, double t0, double speed, double duration, double start_video) {
  // A speed that is not positive would divide the duration by zero (or run
  // the clip backwards): the clip holds its start point.
  if (!(speed > 0) || !std::isfinite(speed)) return start_video;
  if (t < std::max(start, t0)) return start_video;
  return start_video + std::min((t - start) * speed, duration);
}

uint8_t DeinterlaceField(int32_t type, bool interlaced, bool top_first, double position, double middle) {
  const bool early = position < middle;
  switch (type) {
    case 0: return !interlaced ? 0 : (early == top_first ? 2 : 1);
    case 2: return early ? 1 : 2;
    case 3: return early ? 2 : 1;
    default: return 0;
  }
}

double FrameAspectScale(uint8_t mode, int32_t width, int32_t height) {
  if (width <= 0) return 1.0;
  if (mode == 1) return height * 1.333333 / width;
  if (mode == 2) return height * 1.777778 / width;
  return 1.0;
}

}  // namespace kav
