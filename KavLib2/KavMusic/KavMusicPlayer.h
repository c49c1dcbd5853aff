// The show's music threads. The music player keeps the show clock (the
// audio player's timer channel, or the program's milliseconds without one),
// looks 5 seconds ahead on the show's time line, asks the music loader to
// create and pre-load a channel for every piece of sound that starts in
// that window, starts each when the clock reaches it and stops and releases
// it at its end. The two threads talk only by posting events; only the
// engine sends (SeekTo) to the player.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/KavEngine/KavThread.h"
#include "KavLib2/KavMusic/KavMusicSource.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Music/MusicPlayer.h"

namespace kav {

class TKavMusicPlayer;

// One piece of sound on the show's time line.
class TKavChannel : public TRefObject {
 public:
  Ref<TChannel> Channel;  // null until loaded
  std::atomic<bool> Stopped{true};
  std::atomic<int32_t> OwnerId{-1};
  std::u16string FileName;
  uint32_t StartPosition = 0;  // in the file, ms
  double Start = 0;            // on the show's time line, ms
  std::atomic<double> End{0};
  std::atomic<bool> Loaded{false};
  std::atomic<bool> Playing{false};
  // Start and End lie on the show's time line (else on the free-running
  // music's own, and the channel starts as soon as it is queued).
  bool OnShowTime = true;
  // The channel plays every repetition of its track: at the end of the data
  // it goes on from LoopFrom (ms of the file), and End is infinite.
  bool Loop = false;
  uint32_t LoopFrom = 0;
  // Free-running: the clock value at which its time line's 0 lies, when it
  // was queued to start.
  double Origin = 0;
};

class TChannelContainer : public TRefObject {
 public:
  explicit TChannelContainer(Ref<TKavChannel> c) : Channel(std::move(c)) {}
  Ref<TKavChannel> Channel;
};

class TTimeData : public TRefObject {
 public:
  TTimeData(double position, double stop) : Position(position), StopTime(stop) {}
  double Position, StopTime;
};

// The text whose names are opened from disk instead of the show (empty: no
// name is).
void SetMusicDiskMarker(const std::u16string& marker);
std::u16string MusicDiskMarker();

class TMusicLoader : public TKavThread {
 public:
  TMusicLoader(TKavMusicPlayer* player, TFileAccessor* accessor, TMusicPlayer* audio);
  Ref<TStream> OpenStream(const std::u16string& name);
  void CloseStream(TStream* stream);

 protected:
  void HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) override;
  void Step() override;

 private:
  TKavMusicPlayer* player_;
  Ref<TFileAccessor> accessor_;
  Ref<TMusicPlayer> audio_;
};

class TPlayItem : public TRefObject {
 public:
  explicit TPlayItem(TKavMusicPlayer* player);
  virtual void Finish(bool forced);
  virtual void ChannelLoaded(TKavChannel* channel);
  virtual void Step(double t, bool running) = 0;
  int32_t Id() const { return id_; }
  bool Ready() const { return ready_; }
  bool Finished() const { return finished_; }

 protected:
  // Stops or disowns a channel and has the loader release it.
  // A playing channel stops with a short fade, keeping its place.
  static void StopWhereHeard(TKavChannel* channel);
  void Release(TKavChannel* channel, bool fade);
  TKavMusicPlayer* player_;
  int32_t id_;
  bool ready_ = false;
  bool finished_ = false;
};

class TPlayComment : public TPlayItem {
 public:
  TPlayComment(TKavMusicPlayer* player, Ref<TKavChannel> channel);
  void Finish(bool forced) override;
  void ChannelLoaded(TKavChannel* channel) override;
  void Step(double t, bool running) override;

 private:
  Ref<TKavChannel> channel_;
};

class TPlaySequence : public TPlayItem {
 public:
  // The play list from `start` on the show's time line, `offset` ms into it.
  TPlaySequence(TKavMusicPlayer* player, const TPlayList& list, double start, double offset, bool free_running);
  void Finish(bool forced) override;
  void ChannelLoaded(TKavChannel* channel) override;
  void Step(double t, bool running) override;
  // A free-running list stands while held: its sound stops where it was
  // heard at `at` (the clock when the show was held) and goes on from there
  // when released at `at` (the clock from which the show's time moves on),
  // its time later by as long.
  // `show` is the show's time at `at`. While held, a show set to a time
  // near it (the show stands at the frame it drew next) moves the place the
  // list goes on from by as much, as it moves the music on the show's time.
  void Hold(double at, double show);
  void ShowSetTo(double show);
  void LetGo(double at);

 private:
  // The held channels are made ready to go on from the list's time t.
  void Prepare(double t);
  std::vector<Ref<TKavChannel>> channels_;
  TPlayList list_;
  int64_t next_ = 0;
  bool free_running_;
  // The list loops as one sound: one looping channel plays every repetition,
  // so a repetition joins the one before sample for sample.
  bool loop_;
  bool started_ = false;    // free-running: the show has run since
  double clock_start_ = 0;  // free-running: the clock when it started
  bool held_ = false;
  double held_since_ = 0;
  double resumed_from_ = 0;  // free-running: the list's time it last ran from
  double held_show_ = 0;     // the show's time at the hold
  double shift_ = 0;         // how far the show was set from it since
  std::vector<Ref<TKavChannel>> held_channels_;
  double origin_;  // the show time at which the list's time 0 lies
  double start_;
};

class TKavMusicPlayer : public TKavThread {
 public:
  // Raises an assertion without a source.
  TKavMusicPlayer(TKavSource* source, bool owns_source);

  void StartThreads();
  void StopThreads();
  // Engine thread.
  void SetActive(bool active);
  // The show is paused (by the viewer or a dialog that pauses it): music
  // that runs free of the show's time holds too, from this call on, until
  // the show's clock runs again.
  void SetHeld(bool held);
  void SeekTo(double position, double stop_time);
  void SetStopTime(double t) { SeekTo(-2147483647.0, t); }
  double GetTime();
  // The clock without its hold at a resume: below the time it resumed from
  // until the first sound due there is heard.
  double RawTime();
  float GetVolume();
  void SetVolume(float volume);
  bool IsMusicReady() const { return music_ready_.load(); }

  // Used by the items and the loader.
  double Clock();
  // The clock value from which the show's time moves on (a start lead and
  // the device's latency after it was set running), or now.
  double ClockRunsAt();
  int32_t NextItemId();
  void PostToLoader(uint32_t code, Ref<TKavChannel> channel);
  void QueueStart(Ref<TKavChannel> channel);
  TMusicLoader* Loader() const { return loader_.get(); }
  TMusicPlayer* Audio() const { return audio_.get(); }
  TKavMusicSource* Music() const { return music_.get(); }
  int32_t ItemCount();

 protected:
  void HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) override;
  void Step() override;
  void Dispose() override;

 private:
  // The items are finished and scheduled again from `at` (a seek, a stop).
  void Reschedule(double at);
  void Schedule(double s, double h, bool first);

  Ref<TKavSource> source_;
  Ref<TKavMusicSource> music_;
  Ref<TMusicPlayer> audio_;
  Ref<TMusicLoader> loader_;
  std::vector<Ref<TPlayItem>> items_;
  Ref<TPlaySequence> free_sequence_;
  std::vector<Ref<TKavChannel>> to_start_;
  // The channels started on the show's time, with their sound (the loader
  // may let go of a channel's sound on its own thread): SetActive(false)
  // stops them on the engine's thread.
  std::mutex sounding_lock_;
  std::vector<std::pair<Ref<TKavChannel>, Ref<TChannel>>> sounding_;
  int32_t current_slide_ = 0;
  std::atomic<bool> active_{false};
  std::atomic<bool> held_{false};
  // Set by a hold however short; the clock when it began.
  std::atomic<bool> hold_begun_{false};
  std::atomic<double> held_clock_{0};
  std::atomic<double> held_show_{0};
  bool running_ = false;
  std::mutex time_lock_;
  double time_ = 0;  // frozen time while stopped, clock offset while running
  double resumed_at_ = 0;  // the time the clock last ran from: it never reads less while running
  double horizon_ = 0;
  std::atomic<bool> music_ready_{false};
  double stop_time_ = 2147483647.0;
  std::atomic<int32_t> item_counter_{0};
};

}  // namespace kav
