// The engine's clock and music over the show music player: the player of
// the show's music description keeps the show clock on the sound output.
#pragma once

#include <atomic>

#include "KavLib2/KavEngine/KavEngineMusic.h"

namespace kav {

class TKavMusicPlayer;

class TShowMusic : public TEngineMusic {
 public:
  explicit TShowMusic(TKavSource* source);

  void Start() override;
  void SetPlaying(bool on) override;
  void SetHeld(bool held) override;
  double GetTime() override;
  void SeekTo(double position, double stop_time) override;
  void SetStopTime(double stop_time) override;
  double StopTime() override { return stop_time_.load(); }
  bool Loaded() override;
  float GetVolume() override;
  void SetVolume(float volume) override;

  TKavMusicPlayer* Player() const { return player_.get(); }

 protected:
  void Dispose() override;

 private:
  Ref<TKavMusicPlayer> player_;
  std::atomic<double> stop_time_{3.4e38};
  bool started_ = false;
};

// Makes the engine play each show's music through a TShowMusic.
void InstallShowMusic();

}  // namespace kav
