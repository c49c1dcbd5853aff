// The music player: named sound files become channels that decode and
// stream into their own buffers, start and stop with short fades and are
// freed by the channel killer once their fade-out has been heard. The player
// also owns the process's timer channel and gives its time as the clock.
//
// Locks: the player's channel-list lock; each channel's lock around its
// passes; the owner lock of the passes (taken before a channel's lock, by
// the killer and by a channel letting go of its passes). None is held while
// another thread is waited for.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "VoRav/Music/MusicChannel.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/Music/winTimerChannel.h"

namespace kav {

class TMusicPlayer;

class TChannel : public TRefObject {
 public:
  using TEndHandler = TDelegate<void(TChannel*)>;
  TEndHandler OnEnd;  // a play-through reached the end of its data

  virtual TMusicPlayer* GetPlayer() = 0;
  virtual std::u16string GetFileName() = 0;
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;
  virtual uint32_t GetDuration() = 0;
  virtual int64_t GetPosition() = 0;
  virtual void SetPosition(uint32_t ms) = 0;
  virtual float GetMasterVolume() = 0;
  virtual void SetMasterVolume(float volume) = 0;
  virtual bool Play(uint32_t fade_ms) = 0;
  virtual bool Stop(uint32_t fade_ms) = 0;
  virtual bool IsPlaying() = 0;
  // From now on the channel's data goes on from `from_ms` of the file each
  // time it ends, sample for sample (a track that repeats). Channels that
  // cannot loop ignore it.
  virtual void SetLoop(uint32_t from_ms) { (void)from_ms; }
};

class TChannelMusic : public TChannel {
 public:
  TChannelMusic(TMusicPlayer* player, TMusicCloseHandler close, TMusicOpenHandler open, const std::u16string& name);

  TMusicPlayer* GetPlayer() override { return player_.load(); }
  std::u16string GetFileName() override { return name_; }
  float GetVolume() override { return volume_; }
  void SetVolume(float volume) override;
  uint32_t GetDuration() override { return info_.Duration; }
  int64_t GetPosition() override;
  void SetPosition(uint32_t ms) override;
  float GetMasterVolume() override { return master_volume_; }
  void SetMasterVolume(float volume) override;
  bool Play(uint32_t fade_ms) override;
  bool Stop(uint32_t fade_ms) override;
  bool IsPlaying() override;
  void SetLoop(uint32_t from_ms) override;
  // Play after `lead_ms` of silence.
  bool PlayAfter(uint32_t fade_ms, uint32_t lead_ms);

  bool Opened() const { return opened_; }
  // Why the channel did not open (empty when it did).
  const std::u16string& OpenFailure() const { return failure_; }
  const TMediaInfo& Info() const { return info_; }
  const TMusicOpenHandler& OpenHandler() const { return open_; }
  const TMusicCloseHandler& CloseHandler() const { return close_; }
  void ClearPlayer() { player_.store(nullptr); }
  // The channel killer hands back a pass whose fade-out was heard.
  void ReleaseStoppedChannel(TMusicChannel* channel);
  int32_t PassCount();

 protected:
  void Dispose() override;

 private:
  TMusicChannel* Current() { return passes_.empty() ? nullptr : passes_.back().get(); }
  Ref<TMusicChannel> NewPass();
  void ApplyVolume();

  std::atomic<TMusicPlayer*> player_;
  TMusicCloseHandler close_;
  TMusicOpenHandler open_;
  std::u16string name_;
  TMediaInfo info_{};
  std::recursive_mutex lock_;
  bool opened_ = false;
  std::u16string failure_;
  std::vector<Ref<TMusicChannel>> passes_;
  int64_t position_ = 0;
  float volume_ = 1.0f;
  float master_volume_ = 1.0f;
  bool looping_ = false;
  uint32_t loop_from_ = 0;
  std::atomic<bool> disposing_{false};
};

class TMusicPlayer : public TRefObject {
 public:
  virtual bool Init() = 0;
  virtual float GetVolume() = 0;
  virtual void SetVolume(float volume) = 0;
  virtual void SetCloseStreamHandler(TMusicCloseHandler handler) = 0;
  virtual void SetOpenStreamHandler(TMusicOpenHandler handler) = 0;
  virtual TMusicOpenHandler GetOpenStreamHandler() = 0;
  virtual TMusicCloseHandler GetCloseStreamHandler() = 0;
  // The timer channel's time (started on first use); 0 without a device.
  virtual double GetClockTime() = 0;
  // A channel for the file, positioned at `start_ms` (kNoPosition: none);
  // null when the device is not initialised or the file cannot be opened.
  static constexpr uint32_t kNoPosition = 0xFFFFFFFF;
  virtual Ref<TChannel> CreateChannel(const std::u16string& name, uint32_t start_ms) = 0;
  // CreateChannel that also says why there is no channel.
  virtual Ref<TChannel> OpenChannel(const std::u16string& name, uint32_t start_ms, std::u16string& why) {
    Ref<TChannel> channel = CreateChannel(name, start_ms);
    why = channel ? u"" : u"not opened";
    return channel;
  }
  virtual TWaveOutDevice* Device() = 0;
  // Called by a channel's Dispose.
  virtual void RemoveChannel(TChannel* channel) = 0;
};

class TMusicPlayerClass : public TMusicPlayer {
 public:
  TMusicPlayerClass();
  bool Init() override { return device_ && device_->IsInitialised(); }
  float GetVolume() override { return master_volume_.load(); }
  void SetVolume(float volume) override;
  void SetCloseStreamHandler(TMusicCloseHandler handler) override { close_ = handler; }
  void SetOpenStreamHandler(TMusicOpenHandler handler) override { open_ = handler; }
  TMusicOpenHandler GetOpenStreamHandler() override { return open_; }
  TMusicCloseHandler GetCloseStreamHandler() override { return close_; }
  double GetClockTime() override;
  Ref<TChannel> CreateChannel(const std::u16string& name, uint32_t start_ms) override;
  Ref<TChannel> OpenChannel(const std::u16string& name, uint32_t start_ms, std::u16string& why) override;
  TWaveOutDevice* Device() override { return device_.get(); }
  void RemoveChannel(TChannel* channel) override;
  int32_t ChannelCount();
  TTimerChannel* TimerChannel() { return timer_.get(); }

 protected:
  void Dispose() override;

 private:
  std::recursive_mutex lock_;
  std::vector<TChannelMusic*> channels_;  // not owned: each removes itself
  std::atomic<float> master_volume_{1.0f};
  Ref<TWaveOutDevice> device_;
  std::mutex timer_lock_;
  Ref<TTimerChannel> timer_;
  bool timer_tried_ = false;
  TMusicOpenHandler open_;
  TMusicCloseHandler close_;
};

// The installed player factory: a TMusicPlayerClass whose device can make a
// timer channel; null otherwise.
using TMusicPlayerFactory = Ref<TMusicPlayer> (*)();
TMusicPlayerFactory SetMusicPlayerFactory(TMusicPlayerFactory factory);
Ref<TMusicPlayer> CreateMusicPlayer();

// The process's channel killer: frees stopped passes once their deadline
// has passed. Made on first use; ShutdownChannelKiller ends it.
void ChannelKillerAdd(Ref<TMusicChannel> channel);
int32_t ChannelKillerPending();
void ShutdownChannelKiller();

}  // namespace kav
