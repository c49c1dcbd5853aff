#include "VoRav/Music/MusicPlayer.h"

#include <algorithm>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

// ---------------------------------------------------------------------------
// Channels

TChannelMusic::TChannelMusic(TMusicPlayer* player, TMusicCloseHandler close, TMusicOpenHandler open,
                             const std::u16string& name)
    : player_(player), close_(close), open_(open), name_(name) {
  TMediaInfoHook hook = MediaInfoHook();
  if (!(hook && hook(name, info_))) {
    info_ = TMediaInfo{};
    Ref<TStream> stream = OpenMusicStream(MusicFileName(name), open_);
    if (stream) {
      TMediaInfoExtractor::Extract(name, stream.get(), info_);
      CloseMusicStream(std::move(stream), close_);
    } else {
      failure_ = u"file not found or not readable";
    }
  }
  if (info_.FormatCode != kMediaUnknown) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    NewPass();
    opened_ = passes_.size() == 1;
    if (!opened_) failure_ = u"not decoded";
  } else if (failure_.empty()) {
    failure_ = u"unknown or damaged sound format";
  }
}

Ref<TMusicChannel> TChannelMusic::NewPass() {
  TMusicPlayer* player = player_.load();
  if (!player || !player->Device()) return nullptr;
  auto pass = MakeRef<TMusicChannel>(this, info_, player->Device());
  if (!pass->OpenSource(name_)) return nullptr;
  if (looping_) pass->SetLoop(loop_from_);
  pass->SetOutputVolume(volume_ * master_volume_);
  passes_.push_back(pass);
  return pass;
}

void TChannelMusic::ApplyVolume() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (TMusicChannel* c = Current()) c->SetOutputVolume(volume_ * master_volume_);
}

void TChannelMusic::SetVolume(float volume) {
  volume_ = volume;
  ApplyVolume();
}

void TChannelMusic::SetMasterVolume(float volume) {
  master_volume_ = volume;
  SetVolume(GetVolume());
}

int64_t TChannelMusic::GetPosition() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (TMusicChannel* c = Current()) position_ = c->Position();
  return position_;
}

void TChannelMusic::SetPosition(uint32_t ms) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  TMusicChannel* c = Current();
  position_ = ms;
  if (!c || c->State() == TMusicChannel::kStopping) {
    if (auto pass = NewPass()) pass->SetStartPosition(ms);
  } else if (c->State() == TMusicChannel::kReady) {
    c->SetStartPosition(ms);
  } else {
    // The old pass fades out while the new one fades in.
    c->Stop(10);
    if (auto pass = NewPass()) {
      pass->SetStartPosition(ms);
      pass->Play(10);
    }
  }
}

bool TChannelMusic::Play(uint32_t fade_ms) { return PlayAfter(fade_ms, 0); }

bool TChannelMusic::PlayAfter(uint32_t fade_ms, uint32_t lead_ms) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  TMusicChannel* c = Current();
  if (c && c->State() == TMusicChannel::kPlaying) return false;
  if (!c || c->State() == TMusicChannel::kStopping) {
    Ref<TMusicChannel> pass = NewPass();
    if (!pass) return false;
    pass->SetStartPosition(uint32_t(std::clamp<int64_t>(position_, 0, UINT32_MAX)));
    c = pass.get();
  }
  c->Play(fade_ms, lead_ms);
  return true;
}

bool TChannelMusic::Stop(uint32_t fade_ms) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  TMusicChannel* c = Current();
  if (!c || c->State() != TMusicChannel::kPlaying) return false;
  position_ = c->Position();
  c->Stop(fade_ms);
  return true;
}

bool TChannelMusic::IsPlaying() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  TMusicChannel* c = Current();
  return c && c->State() == TMusicChannel::kPlaying;
}

void TChannelMusic::SetLoop(uint32_t from_ms) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  looping_ = true;
  loop_from_ = from_ms;
  // A pass that plays already keeps its course; passes made from now on loop.
  TMusicChannel* c = Current();
  if (c && c->State() == TMusicChannel::kReady) c->SetLoop(from_ms);
}

int32_t TChannelMusic::PassCount() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return int32_t(passes_.size());
}

void TChannelMusic::ReleaseStoppedChannel(TMusicChannel* channel) {
  Ref<TMusicChannel> keep;
  bool ended = false;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    auto it = std::find_if(passes_.begin(), passes_.end(), [&](const auto& p) { return p.get() == channel; });
    if (it == passes_.end()) {
      LogLine(u"Music channel: released pass not found");
      return;
    }
    keep = *it;
    passes_.erase(it);
    position_ = channel->Position();
    ended = channel->EndOfData();
  }
  if (ended && OnEnd && !disposing_.load()) OnEnd(this);
}

void TChannelMusic::Dispose() {
  disposing_.store(true);
  std::vector<Ref<TMusicChannel>> waiting;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (auto& pass : passes_) {
      if (pass->State() == TMusicChannel::kReady) continue;
      if (pass->State() == TMusicChannel::kPlaying) pass->Stop(10);
      waiting.push_back(pass);
    }
    // Passes that never played go at once.
    passes_.erase(std::remove_if(passes_.begin(), passes_.end(),
                                 [](const auto& p) { return p->State() == TMusicChannel::kReady; }),
                  passes_.end());
  }
  // Wait for the killer to hand the fading passes back, but not for ever:
  // a pass whose fade never ran (its buffer never played) is let go after
  // 3 s and freed by the killer alone.
  for (int pass = 0; pass < 300 && PassCount() > 0; ++pass) SleepMs(10);
  {
    std::lock_guard<std::recursive_mutex> owner(TMusicChannel::OwnerLock());
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!passes_.empty()) LogLine(u"Music channel: passes still fading at release: " + name_);
    for (auto& p : passes_) p->DetachOwner();
    passes_.clear();
  }
  if (TMusicPlayer* player = player_.load()) player->RemoveChannel(this);
  TChannel::Dispose();
}

// ---------------------------------------------------------------------------
// Player

TMusicPlayerClass::TMusicPlayerClass() : device_(CreateWaveOutDevice()) {}

void TMusicPlayerClass::SetVolume(float volume) {
  master_volume_.store(volume);
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (TChannelMusic* c : channels_) c->SetMasterVolume(volume);
}

double TMusicPlayerClass::GetClockTime() {
  std::lock_guard<std::mutex> hold(timer_lock_);
  // One timer channel for the player's life: made once, never again after a
  // failure.
  if (!timer_ && !timer_tried_ && device_ && device_->IsInitialised()) {
    timer_tried_ = true;
    try {
      timer_ = device_->CreateTimerChannel();
    } catch (const Exception&) {
      LogLine(u"Timer channel not created");
    }
  }
  if (!timer_) return 0;
  if (!timer_->IsPlaying()) timer_->Play();
  return double(timer_->GetTimeMs());
}

Ref<TChannel> TMusicPlayerClass::CreateChannel(const std::u16string& name, uint32_t start_ms) {
  std::u16string why;
  return OpenChannel(name, start_ms, why);
}

Ref<TChannel> TMusicPlayerClass::OpenChannel(const std::u16string& name, uint32_t start_ms, std::u16string& why) {
  why.clear();
  if (!Init()) {
    why = u"no sound output";
    return nullptr;
  }
  auto channel = MakeRef<TChannelMusic>(this, close_, open_, name);
  if (!channel->Opened()) {
    why = channel->OpenFailure();
    channel->ClearPlayer();
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (master_volume_.load() < 1.0f) channel->SetMasterVolume(master_volume_.load());
  if (start_ms != kNoPosition) channel->SetPosition(start_ms);
  channels_.push_back(channel.get());
  return channel;
}

void TMusicPlayerClass::RemoveChannel(TChannel* channel) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  auto it = std::find(channels_.begin(), channels_.end(), channel);
  if (it == channels_.end()) {
    LogLine(u"Music player: removed channel not found");
    return;
  }
  channels_.erase(it);
}

int32_t TMusicPlayerClass::ChannelCount() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return int32_t(channels_.size());
}

// The channels belong to whoever made them: the player only lets go of them
// (freeing them here would leave their holders with freed objects).
void TMusicPlayerClass::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    for (TChannelMusic* c : channels_) c->ClearPlayer();
    channels_.clear();
  }
  {
    std::lock_guard<std::mutex> hold(timer_lock_);
    timer_ = nullptr;
  }
  device_ = nullptr;
  TMusicPlayer::Dispose();
}

namespace {

Ref<TMusicPlayer> DefaultPlayer() {
  auto player = MakeRef<TMusicPlayerClass>();
  try {
    // A device that cannot make a timer channel makes no player.
    player->Device()->CreateTimerChannel();
  } catch (const Exception&) {
    return nullptr;
  }
  return player;
}

std::atomic<TMusicPlayerFactory> g_player_factory{&DefaultPlayer};

}  // namespace

TMusicPlayerFactory SetMusicPlayerFactory(TMusicPlayerFactory factory) {
  return g_player_factory.exchange(factory ? factory : &DefaultPlayer);
}

Ref<TMusicPlayer> CreateMusicPlayer() { return g_player_factory.load()(); }

}  // namespace kav
