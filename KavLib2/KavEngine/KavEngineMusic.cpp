#include "KavLib2/KavEngine/KavEngineMusic.h"

#include <algorithm>

#include "KavLib2/KavEngine/KavEngineClock.h"

namespace kav {

namespace {
std::mutex g_factory_lock;
TEngineMusicFactory g_factory;
}  // namespace

void SetEngineMusicFactory(TEngineMusicFactory factory) {
  std::lock_guard<std::mutex> lock(g_factory_lock);
  g_factory = std::move(factory);
}

Ref<TEngineMusic> NewEngineMusic(TKavSource* source) {
  TEngineMusicFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_factory_lock);
    factory = g_factory;
  }
  if (factory) {
    if (Ref<TEngineMusic> music = factory(source)) return music;
  }
  return MakeRef<TSilentShowClock>();
}

double TSilentShowClock::TimeLocked() const {
  if (!playing_) return base_;
  return std::min(base_ + double(EngineNowMs() - started_ms_), std::max(base_, stop_time_));
}

void TSilentShowClock::SetPlaying(bool on) {
  std::lock_guard<std::mutex> lock(lock_);
  if (on == playing_) return;
  base_ = TimeLocked();
  started_ms_ = EngineNowMs();
  playing_ = on;
}

double TSilentShowClock::GetTime() {
  std::lock_guard<std::mutex> lock(lock_);
  return TimeLocked();
}

void TSilentShowClock::SeekTo(double position, double stop_time) {
  std::lock_guard<std::mutex> lock(lock_);
  base_ = position;
  started_ms_ = EngineNowMs();
  stop_time_ = stop_time;
}

void TSilentShowClock::SetStopTime(double stop_time) {
  std::lock_guard<std::mutex> lock(lock_);
  base_ = TimeLocked();
  started_ms_ = EngineNowMs();
  stop_time_ = stop_time;
}

double TSilentShowClock::StopTime() {
  std::lock_guard<std::mutex> lock(lock_);
  return stop_time_;
}

}  // namespace kav
