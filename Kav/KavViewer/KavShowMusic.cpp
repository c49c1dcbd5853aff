#include "Kav/KavViewer/KavShowMusic.h"

#include "KavLib2/KavMusic/KavMusicPlayer.h"

namespace kav {

TShowMusic::TShowMusic(TKavSource* source) : player_(MakeRef<TKavMusicPlayer>(source, false)) {}

void TShowMusic::Dispose() {
  if (player_ && started_) player_->StopThreads();
  player_ = nullptr;
  TEngineMusic::Dispose();
}

void TShowMusic::Start() {
  if (started_) return;
  started_ = true;
  player_->StartThreads();
}

void TShowMusic::SetPlaying(bool on) { player_->SetActive(on); }

void TShowMusic::SetHeld(bool held) { player_->SetHeld(held); }

double TShowMusic::GetTime() { return player_->GetTime(); }

void TShowMusic::SeekTo(double position, double stop_time) {
  stop_time_ = stop_time;
  player_->SeekTo(position, stop_time);
}

void TShowMusic::SetStopTime(double stop_time) {
  stop_time_ = stop_time;
  player_->SetStopTime(stop_time);
}

bool TShowMusic::Loaded() { return player_->IsMusicReady(); }

float TShowMusic::GetVolume() { return player_->GetVolume(); }

void TShowMusic::SetVolume(float volume) { player_->SetVolume(volume); }

void InstallShowMusic() {
  SetEngineMusicFactory([](TKavSource* source) -> Ref<TEngineMusic> {
    if (!source) return nullptr;
    return MakeRef<TShowMusic>(source);
  });
}

}  // namespace kav
