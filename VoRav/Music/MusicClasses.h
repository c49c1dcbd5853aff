// The audio output device: owns the sound device of the platform layer and
// makes the streaming buffers and the timer channel over it.
//
// Around every sound-device call the audio code writes a trace line to the
// global log: "-> " before and "<- " after, with the call's name and, in
// square brackets, the module and a fixed line number; failures are marked
// "!!! ". The line numbers are part of the text readers of old logs know.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/SysObj2.h"
#include "platform/sound/SndDevice.h"

namespace kav {

class TWaveOutBuffer;
class TTimerChannel;

// The millisecond clock the audio code schedules on (the multimedia timer);
// tests install a clock of their own.
using TAudioClock = uint32_t (*)();
TAudioClock SetAudioClock(TAudioClock clock);
uint32_t AudioTimeMs();

// One trace line to the global log.
void SndTrace(const char16_t* line);

class TWaveOutDevice : public TRefObject {
 public:
  virtual bool IsInitialised() = 0;
  // A streaming buffer of two seconds of `format`; null when the device is
  // not initialised.
  virtual Ref<TWaveOutBuffer> CreateBuffer(const TWaveFormat& format) = 0;
  // Raises when the channel gets no sound buffer ("SoundBuffer = nil").
  virtual Ref<TTimerChannel> CreateTimerChannel() = 0;
  // Milliseconds between the play cursors' time and when a buffer started
  // now is heard (0 when unknown).
  virtual double LatencyMs() { return 0; }
};

class TwinWaveOutDevice : public TWaveOutDevice {
 public:
  // Creates the platform's sound device (SndCreateDevice) and sets the
  // priority cooperative level; initialised only when that is accepted.
  TwinWaveOutDevice();
  bool IsInitialised() override { return initialised_; }
  Ref<TWaveOutBuffer> CreateBuffer(const TWaveFormat& format) override;
  Ref<TTimerChannel> CreateTimerChannel() override;
  double LatencyMs() override { return sound_ ? sound_->LatencyMs() : 0; }
  // Null when there is no sound device.
  TSndDevice* Sound() const { return sound_.get(); }

 protected:
  void Dispose() override;

 private:
  Ref<TSndDevice> sound_;
  bool initialised_ = false;
};

// The installed device factory (default: a TwinWaveOutDevice).
using TWaveOutDeviceFactory = Ref<TWaveOutDevice> (*)();
TWaveOutDeviceFactory SetWaveOutDeviceFactory(TWaveOutDeviceFactory factory);
Ref<TWaveOutDevice> CreateWaveOutDevice();

}  // namespace kav
