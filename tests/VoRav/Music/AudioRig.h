// A null sound device and the audio clock on one hand-driven clock, so the
// show clock, cursors and buffers can be stepped exactly.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "VoRav/Music/MusicClasses.h"
#include "VoRav/Music/winTimerChannel.h"
#include "platform/sound/null/SndNullDevice.h"

namespace kav::test {

class TAudioRig {
 public:
  // The device runs at `rate` times the audio clock (1.02: the sound card
  // 2 % fast).
  explicit TAudioRig(double rate = 1.0) {
    now_ms = 0;
    device_rate = rate;
    SetAudioClock([] { return now_ms.load(); });
    hold_device_clock = false;
    clock_read = nullptr;
    stalled_us = -1;
    sound = MakeRef<TSndNullDevice>([] {
      // Threads other than the holder wait here while the clock is held.
      while (hold_device_clock.load() && std::this_thread::get_id() != holder.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (void (*read)() = clock_read.load()) read();
      if (const int64_t stalled = stalled_us.load(); stalled >= 0) return stalled;
      return int64_t(double(now_ms.load()) * 1000.0 * device_rate.load());
    });
    current = sound.get();
    previous_factory_ = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return Ref<TSndDevice>(current); });
    TwinTimerChannel::SetPollThreadEnabled(false);
    device = MakeRef<TwinWaveOutDevice>();
  }
  ~TAudioRig() {
    clock_read = nullptr;
    SetSndDeviceFactory(previous_factory_);
    SetAudioClock(nullptr);
    TwinTimerChannel::SetPollThreadEnabled(true);
    current = nullptr;
  }
  // Read by the refill threads through the device's clock (a channel's
  // thread may outlive its test while the killer releases it): atomics.
  static inline std::atomic<uint32_t> now_ms{0};
  static inline std::atomic<double> device_rate{1.0};
  static inline TSndNullDevice* current = nullptr;
  // While set, every thread but `holder` that reads the device's cursors
  // (the buffers' refill threads) waits: a refill is held in the middle.
  static inline std::atomic<bool> hold_device_clock{false};
  static inline std::atomic<std::thread::id> holder{};
  // Called whenever a thread reads the device's clock (before every device
  // call), so a test can move the clock at a chosen call.
  static inline std::atomic<void (*)()> clock_read{nullptr};
  // While 0 or more, the device's clock stands there (microseconds) as the
  // audio clock goes on: a sound card's thread that waits for a core mixes
  // nothing meanwhile, and catches up when it runs.
  static inline std::atomic<int64_t> stalled_us{-1};
  void StallDevice() { stalled_us = int64_t(double(now_ms.load()) * 1000.0 * device_rate.load()); }
  void ResumeDevice() { stalled_us = -1; }
  Ref<TSndNullDevice> sound;
  Ref<TwinWaveOutDevice> device;

 private:
  TSndDeviceFactory previous_factory_;
};

}  // namespace kav::test
