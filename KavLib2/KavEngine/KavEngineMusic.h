// The show clock and music as the engine drives them. The show music player
// (which builds on the engine's thread base, so it cannot be linked from
// here) is plugged in through the factory; without one the engine keeps a
// silent clock, so a show plays without its music.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "VoRav/SysObj2.h"

namespace kav {

class TKavSource;

class TEngineMusic : public TRefObject {
 public:
  // Starts the music threads.
  virtual void Start() = 0;
  // Switches playing on or off (the clock runs only while playing).
  virtual void SetPlaying(bool on) = 0;
  // The show is paused by the viewer or a dialog (not merely stopped for a
  // seek or a load): music that runs free of the show's time holds too.
  virtual void SetHeld(bool) {}
  // The clock (ms): the show time the music stands at.
  virtual double GetTime() = 0;
  // Moves to `position` and stops the clock at `stop_time`.
  virtual void SeekTo(double position, double stop_time) = 0;
  virtual void SetStopTime(double stop_time) = 0;
  virtual double StopTime() = 0;
  // Whatever must sound at the current time is loaded.
  virtual bool Loaded() = 0;
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;

  // Set on the player of a show that was left while playing: it plays on
  // until the next stop, where the engine replaces it by the new show's.
  std::atomic<bool> KeepPrevious{false};
};

using TEngineMusicFactory = std::function<Ref<TEngineMusic>(TKavSource* source)>;
// nil: the silent clock.
void SetEngineMusicFactory(TEngineMusicFactory factory);
// A player for `source` from the factory, or the silent clock.
Ref<TEngineMusic> NewEngineMusic(TKavSource* source);

// The silent clock: the engine clock's milliseconds while playing, stopped
// at its stop time.
class TSilentShowClock : public TEngineMusic {
 public:
  void Start() override {}
  void SetPlaying(bool on) override;
  double GetTime() override;
  void SeekTo(double position, double stop_time) override;
  void SetStopTime(double stop_time) override;
  double StopTime() override;
  bool Loaded() override { return true; }
  float GetVolume() override { return volume_.load(); }
  void SetVolume(float volume) override { volume_ = volume; }

 private:
  double TimeLocked() const;
  mutable std::mutex lock_;
  bool playing_ = false;
  double base_ = 0;         // the time when playing was last switched or sought
  int64_t started_ms_ = 0;  // the clock reading at that moment
  double stop_time_ = 3.4e38;
  std::atomic<float> volume_{1.0f};
};

}  // namespace kav
