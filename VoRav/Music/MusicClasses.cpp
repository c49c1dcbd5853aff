#include "VoRav/Music/MusicClasses.h"

#include <atomic>

#include "VoRav/Music/winTimerChannel.h"
#include "VoRav/Music/winWaveOutBuffer.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"

namespace kav {

namespace {

std::atomic<TAudioClock> g_clock{&GetElapsedMs};

Ref<TWaveOutDevice> DefaultDevice() { return MakeRef<TwinWaveOutDevice>(); }
std::atomic<TWaveOutDeviceFactory> g_device_factory{&DefaultDevice};

}  // namespace

TAudioClock SetAudioClock(TAudioClock clock) { return g_clock.exchange(clock ? clock : &GetElapsedMs); }
uint32_t AudioTimeMs() { return g_clock.load()(); }

void SndTrace(const char16_t* line) { LogLine(line); }

TWaveOutDeviceFactory SetWaveOutDeviceFactory(TWaveOutDeviceFactory factory) {
  return g_device_factory.exchange(factory ? factory : &DefaultDevice);
}

Ref<TWaveOutDevice> CreateWaveOutDevice() { return g_device_factory.load()(); }

// The sound layer needs no focus window, so the hidden audio window of the
// original is not made (windows belong to the GUI thread, and the device is
// created on the music threads).
TwinWaveOutDevice::TwinWaveOutDevice() {
  SndTrace(u"-> DirectSoundCreate8 [MusicClasses, 158]");
  sound_ = SndCreateDevice();
  SndTrace(u"<- DirectSoundCreate8 [MusicClasses, 160]");
  if (sound_) {
    SndTrace(u"DirectSound8 <> nil [MusicClasses, 163]");
  } else {
    SndTrace(u"!!! FDirectSound = nil [MusicClasses, 173]");
    return;
  }
  SndTrace(u"-> FDirectSound.SetCooperativeLevel [MusicClasses, 184]");
  if (!SndSucceeded(sound_->SetCooperativeLevel(nullptr, kSndCoopPriority))) {
    SndTrace(u"<- !!! FDirectSound.SetCooperativeLevel [MusicClasses, 186]");
    return;
  }
  SndTrace(u"<- FDirectSound.SetCooperativeLevel [MusicClasses, 189]");
  initialised_ = true;
}

void TwinWaveOutDevice::Dispose() {
  SndTrace(u"-> FDirectSound := nil [MusicClasses, 216]");
  sound_ = nullptr;
  SndTrace(u"<- FDirectSound := nil [MusicClasses, 218]");
  TWaveOutDevice::Dispose();
}

Ref<TWaveOutBuffer> TwinWaveOutDevice::CreateBuffer(const TWaveFormat& format) {
  if (!initialised_) return nullptr;
  return MakeRef<TwinWaveOutBuffer>(this, format.AvgBytesPerSec * 2, format);
}

Ref<TTimerChannel> TwinWaveOutDevice::CreateTimerChannel() { return MakeRef<TwinTimerChannel>(this); }

}  // namespace kav
