#include "KavLib2/KavMusic/KavMusicPlayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "KavLib2/KavMusic/KavCompositeConverter.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint32_t kLoaderCreate = 1;
constexpr uint32_t kPlayerLoaded = 2;
constexpr uint32_t kLoaderRelease = 3;
constexpr uint32_t kClockRun = 10;
constexpr uint32_t kClockStop = 11;
constexpr uint32_t kSetTime = 12;
constexpr double kLookAhead = 5000;
// A channel is started this much before its time, behind as much silence,
// so that it is heard at its time rather than up to a step late.
constexpr double kStartLead = 20;

std::mutex g_marker_lock;
std::u16string g_disk_marker;

std::u16string Num(double v) { return UTF8Decode(std::to_string(int64_t(v))); }

}  // namespace

void SetMusicDiskMarker(const std::u16string& marker) {
  std::lock_guard<std::mutex> hold(g_marker_lock);
  g_disk_marker = marker;
}

std::u16string MusicDiskMarker() {
  std::lock_guard<std::mutex> hold(g_marker_lock);
  return g_disk_marker;
}

// ---------------------------------------------------------------------------
// Loader

TMusicLoader::TMusicLoader(TKavMusicPlayer* player, TFileAccessor* accessor, TMusicPlayer* audio)
    : player_(player), accessor_(accessor), audio_(audio) {
  KAV_ASSERT_MSG(accessor != nullptr, "No file accessor for the music loader");
  if (audio_) {
    audio_->SetOpenStreamHandler(TMusicOpenHandler::Bind<&TMusicLoader::OpenStream>(this));
    audio_->SetCloseStreamHandler(TMusicCloseHandler::Bind<&TMusicLoader::CloseStream>(this));
  }
}

Ref<TStream> TMusicLoader::OpenStream(const std::u16string& name) {
  std::u16string marker;
  {
    std::lock_guard<std::mutex> hold(g_marker_lock);
    marker = g_disk_marker;
  }
  // An empty marker marks nothing: every name is a show file (a name that
  // begins with "" would otherwise open any path on the disk).
  if (!marker.empty() && name.compare(0, marker.size(), marker) == 0)
    return OpenDiskFile(accessor_.get(), name.substr(marker.size()));
  try {
    return accessor_->OpenFile(name);
  } catch (const Exception&) {
    return nullptr;
  }
}

void TMusicLoader::CloseStream(TStream*) {}  // the stream goes with its last reference

void TMusicLoader::HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) {
  auto* box = dynamic_cast<TChannelContainer*>(param);
  if (!box || !box->Channel) return TKavThread::HandleEvent(sender, code, handled, param);
  handled = true;
  TKavChannel* kc = box->Channel.get();
  if (code == kLoaderCreate) {
    if (kc->OwnerId.load() < 0) return;
    std::u16string why;
    Ref<TChannel> channel = audio_ ? audio_->OpenChannel(kc->FileName, kc->StartPosition, why) : nullptr;
    // Departure: the line also names the file and why it did not open (a
    // damaged or missing sound was otherwise silent without a clue).
    if (audio_ && !channel) LogLine(u"+++++++++++++++++++ Channel Create ERROR: " + kc->FileName + u" (" + why + u")");
    if (channel) {
      // A file shorter than planned ends the piece where the file ends (a
      // looping one starts again instead).
      const double file_end = kc->Start + double(channel->GetDuration()) - double(kc->StartPosition);
      if (kc->Loop) channel->SetLoop(kc->LoopFrom);
      else if (file_end < kc->End.load()) kc->End.store(file_end);
      kc->Channel = channel;
    }
    // A piece that cannot sound (no sound output, or a file that does not
    // open) is reported as loaded all the same, without a channel: its item
    // is ready and the show runs without that sound instead of waiting for
    // it for ever (the clock only starts once the music is ready).
    player_->EventList()->PostEvent(kPlayerLoaded, MakeRef<TChannelContainer>(box->Channel).release());
  } else if (code == kLoaderRelease) {
    Ref<TChannel> channel = std::move(kc->Channel);
    if (channel) channel->Stop(10);
    channel = nullptr;
  }
}

void TMusicLoader::Step() {
  EventList()->ProcessMessages();
  // Departure: the loader only answers messages, so it sleeps on its queue
  // (a message or the stop ends the sleep at once) rather than looking
  // again every 10 ms.
  WaitForMessage(100);
}

// ---------------------------------------------------------------------------
// Items

TPlayItem::TPlayItem(TKavMusicPlayer* player) : player_(player), id_(player->NextItemId()) {}

void TPlayItem::Finish(bool) { finished_ = true; }
void TPlayItem::ChannelLoaded(TKavChannel* channel) { channel->Loaded.store(true); }

void TPlayItem::StopWhereHeard(TKavChannel* kc) {
  // A later Play goes on from there.
  if (!kc->Playing.load() || !kc->Channel) return;
  kc->Channel->Stop(10);
  kc->Playing.store(false);
}

void TPlayItem::Release(TKavChannel* kc, bool fade) {
  if (kc->Loaded.load() && kc->Playing.load() && kc->Channel) kc->Channel->Stop(fade ? 10 : 0);
  kc->Playing.store(false);
  kc->OwnerId.store(-1);
  player_->PostToLoader(kLoaderRelease, Ref<TKavChannel>(kc));
}

TPlayComment::TPlayComment(TKavMusicPlayer* player, Ref<TKavChannel> channel)
    : TPlayItem(player), channel_(std::move(channel)) {
  channel_->OwnerId.store(id_);
  player_->PostToLoader(kLoaderCreate, channel_);
}

void TPlayComment::ChannelLoaded(TKavChannel* channel) {
  TPlayItem::ChannelLoaded(channel);
  ready_ = true;
}

void TPlayComment::Finish(bool forced) {
  if (finished_) return;
  TPlayItem::Finish(forced);
  Release(channel_.get(), true);
}

void TPlayComment::Step(double t, bool running) {
  if (finished_ || !ready_) return;
  TKavChannel* kc = channel_.get();
  if (t >= kc->End.load() - 10) {
    Finish(false);
    return;
  }
  if (!running) {
    // A stopped clock stops the comment; it goes on from there later.
    StopWhereHeard(kc);
  } else if (kc->Loaded.load() && !kc->Playing.load() && kc->Start <= t + kStartLead) {
    kc->Playing.store(true);
    player_->QueueStart(channel_);
  }
}

TPlaySequence::TPlaySequence(TKavMusicPlayer* player, const TPlayList& list, double start, double offset,
                             bool free_running)
    : TPlayItem(player),
      list_(list),
      free_running_(free_running),
      loop_(list.LoopsAsOne()),
      origin_(start - offset),
      start_(start) {}

void TPlaySequence::ChannelLoaded(TKavChannel* channel) {
  TPlayItem::ChannelLoaded(channel);
  ready_ = std::all_of(channels_.begin(), channels_.end(), [](const auto& c) { return c->Loaded.load(); });
}

void TPlaySequence::Finish(bool forced) {
  if (finished_) return;
  TPlayItem::Finish(forced);
  LogLine(u"Finally sequence stop ");
  for (auto& c : channels_) Release(c.get(), true);
  channels_.clear();
}

void TPlaySequence::Hold(double at, double show) {
  if (!free_running_ || finished_ || !started_ || held_) return;
  held_ = true;
  held_since_ = std::min(at, player_->Clock());
  held_show_ = show;
  shift_ = 0;
  held_channels_.clear();
  for (auto& c : channels_) {
    if (!c->Playing.load() || !c->Channel) continue;
    StopWhereHeard(c.get());
    held_channels_.push_back(c);
  }
  Prepare(held_since_ - clock_start_);
}

void TPlaySequence::Prepare(double t) {
  // The held channels go on from where the list's time line stands at t:
  // what was heard at the hold on a device that keeps the clock's time, and
  // in step with the slides on one that strays from it (a loaded machine).
  // A pass is made ready there now, so that the release only starts it.
  for (auto& c : held_channels_) {
    TKavChannel* kc = c.get();
    if (!kc->Channel) continue;
    double from = std::max(double(kc->StartPosition) + t - kc->Start, 0.0);
    const double duration = double(kc->Channel->GetDuration());
    if (kc->Loop && duration > kc->LoopFrom && from >= duration)
      from = kc->LoopFrom + std::fmod(from - kc->LoopFrom, duration - kc->LoopFrom);
    kc->StartPosition = uint32_t(std::min<double>(std::llround(from), UINT32_MAX));
    kc->Channel->SetPosition(kc->StartPosition);
    kc->Start = t;
  }
}

void TPlaySequence::ShowSetTo(double show) {
  // Departure: a seek leaves the music alone, but the few ms the show
  // stands further on than its clock at a pause (the frame it drew next)
  // move it alike, so that it keeps to the slides as their music does.
  constexpr double kStandsAtItsFrame = 500;
  const double shift = show - held_show_;
  if (!held_ || std::abs(shift) > kStandsAtItsFrame || std::abs(shift - shift_) < 1) return;
  shift_ = shift;
  Prepare(held_since_ - clock_start_ + shift_);
}

void TPlaySequence::LetGo(double at) {
  if (!held_) return;
  held_ = false;
  held_channels_.clear();
  resumed_from_ = held_since_ - clock_start_ + shift_;
  clock_start_ += at - held_since_ - shift_;
}

void TPlaySequence::Step(double t, bool running) {
  if (finished_) return;
  if (free_running_) {
    // The list's own time runs on the clock from the moment the show first
    // runs: seeks leave the music alone, a pause holds it.
    // Departure: a pause (or a dialog that pauses the show) holds the music
    // too; it played on through it.
    // Departure: its time moves on when the show's clock does, a start lead
    // after the clock was set running, and stands at the time it ran from
    // until then, as the show's clock does, so that what is due there is
    // started in time to be heard then.
    if (!started_ && running) {
      started_ = true;
      clock_start_ = player_->ClockRunsAt();
      resumed_from_ = 0;
    }
    t = started_ ? (held_ ? held_since_ - clock_start_ : std::max(player_->Clock() - clock_start_, resumed_from_)) : 0;
    running = started_ && !held_;
  }
  if (!free_running_ && !list_.Repeat && t > origin_ + list_.Length) {
    Finish(false);
    return;
  }
  // Pre-load what starts within the look-ahead.
  for (int guard = 0; guard < 64; ++guard) {
    // A looping list has its one channel after the first entry.
    if (loop_ && next_ > 0) break;
    const TPlayListEntry e = list_.Entry(next_);
    if (e.FileName.empty()) break;
    const double entry_start = origin_ + e.Start;
    if (entry_start >= t + kLookAhead) break;
    ++next_;
    const double entry_end = loop_ ? std::numeric_limits<double>::infinity() : entry_start + e.Duration;
    const double from = std::max(t, start_);
    if (from >= entry_end) continue;
    const double part = std::max(from - entry_start, 0.0);
    auto kc = MakeRef<TKavChannel>();
    kc->FileName = e.FileName;
    // A looping channel entered late begins within the repetition it is in.
    const double in_file = loop_ ? std::fmod(part, e.Duration) : part;
    kc->StartPosition = uint32_t(std::llround(e.Offset + in_file));
    kc->Start = entry_start + part;
    kc->End.store(entry_end);
    kc->OwnerId.store(id_);
    kc->OnShowTime = !free_running_;
    kc->Loop = loop_;
    kc->LoopFrom = uint32_t(std::llround(e.Offset));
    LogLine(u"Preload to time start " + Num(kc->Start));
    channels_.push_back(kc);
    ready_ = false;
    player_->PostToLoader(kLoaderCreate, kc);
  }
  if (!running) return;
  for (size_t i = 0; i < channels_.size();) {
    TKavChannel* kc = channels_[i].get();
    if (kc->End.load() > t) {
      if (kc->Loaded.load() && !kc->Playing.load() && kc->Start <= t + kStartLead) {
        kc->Playing.store(true);
        kc->Origin = clock_start_;
        LogLine(u"Start Channel: " + Num(kc->Start));
        player_->QueueStart(channels_[i]);
      }
      ++i;
    } else {
      if (kc->Playing.load()) LogLine(u"Stop Channel: " + Num(t));
      Release(kc, true);
      channels_.erase(channels_.begin() + int64_t(i));
    }
  }
}

// ---------------------------------------------------------------------------
// Player

TKavMusicPlayer::TKavMusicPlayer(TKavSource* source, bool) : source_(source) {
  KAV_ASSERT_MSG(source != nullptr, "No KavSource for KavMusicPlayer");
  music_ = MakeRef<TKavMusicSource>(source);
  // The decoders are modules of the program: a path given by the show
  // ("opt_wmapath", "opt_oggpath") is never loaded.
  InstallSoundDecoders();
  InstallCompositeHooks();
  Ref<TMusicPlayer> audio = CreateMusicPlayer();
  if (audio && audio->Init()) audio_ = audio;
  // No sound device (none installed, none that opens): the show plays
  // silently on the program's clock.
  if (!audio_) LogLine(u"No sound output: the show plays without sound on the program's clock");
  TFileAccessor* accessor = source->Accessor();
  Ref<TFileAccessor> fallback;
  if (!accessor) {
    fallback = GetDefaultFileAccessor();
    accessor = fallback.get();
  }
  loader_ = MakeRef<TMusicLoader>(this, accessor, audio_.get());
  // Without synchronisation the play list runs free: a seek finishes the
  // items but not this one (only the forced finish at the stop does), so it
  // is kept beside them.
  if (!music_->SyncMode() && music_->PlayList().Count() > 0)
    free_sequence_ = MakeRef<TPlaySequence>(this, music_->PlayList(), 0, 0, true);
  time_ = 0;
  running_ = false;
  horizon_ = kLookAhead;
  Schedule(0, kLookAhead, true);
}

void TKavMusicPlayer::Dispose() {
  StopThreads();
  TKavThread::Dispose();
}

void TKavMusicPlayer::StartThreads() {
  // Reading the clock starts the timer channel, so it is running (past its
  // wait for the sound card's first cursor) when the show starts.
  Clock();
  loader_->Start();
  Start();
}

void TKavMusicPlayer::StopThreads() {
  if (loader_) loader_->Stop();
  Stop();
  for (auto& item : items_) item->Finish(true);
  if (free_sequence_) free_sequence_->Finish(true);
  items_.clear();
  free_sequence_ = nullptr;
  // The loader has stopped: the channels it made are released here.
  if (loader_) loader_->EventList()->ProcessMessages();
  to_start_.clear();
  {
    std::lock_guard<std::mutex> hold(sounding_lock_);
    sounding_.clear();
  }
  SleepMs(15);
  audio_ = nullptr;
  SleepMs(15);
}

int32_t TKavMusicPlayer::NextItemId() {
  int32_t id = item_counter_.fetch_add(1);
  if (id < 0) {
    item_counter_.store(1);
    id = 0;
  }
  return id;
}

void TKavMusicPlayer::PostToLoader(uint32_t code, Ref<TKavChannel> channel) {
  loader_->EventList()->PostEvent(code, MakeRef<TChannelContainer>(std::move(channel)).release());
}

void TKavMusicPlayer::QueueStart(Ref<TKavChannel> channel) { to_start_.push_back(std::move(channel)); }

double TKavMusicPlayer::Clock() { return audio_ ? audio_->GetClockTime() : double(GetElapsedMs64()); }

double TKavMusicPlayer::GetTime() {
  std::lock_guard<std::mutex> hold(time_lock_);
  const double t = running_ ? std::max(Clock() - time_, resumed_at_) : time_;
  return std::min(t, stop_time_);
}

double TKavMusicPlayer::ClockRunsAt() {
  const double now = Clock();
  std::lock_guard<std::mutex> hold(time_lock_);
  return running_ ? std::max(time_ + resumed_at_, now) : now;
}

double TKavMusicPlayer::RawTime() {
  std::lock_guard<std::mutex> hold(time_lock_);
  return running_ ? Clock() - time_ : time_;
}

float TKavMusicPlayer::GetVolume() { return audio_ ? audio_->GetVolume() : 0.0f; }
void TKavMusicPlayer::SetVolume(float volume) {
  if (audio_) audio_->SetVolume(volume);
}

void TKavMusicPlayer::SetHeld(bool held) {
  if (held_.load() == held) return;
  // Departure: the hold begins at this call, where the show stops, rather
  // than when the player thread gets to it; it is seen however short.
  if (held) {
    held_clock_.store(Clock());
    held_show_.store(RawTime());
    hold_begun_.store(true);
  }
  held_.store(held);
  Wake();
}

void TKavMusicPlayer::SetActive(bool active) {
  if (active_.exchange(active) == active) return;
  if (!active) {
    // Departure: what sounds on the show's time stops here and now, on the
    // caller's thread: the player thread, which rebuilds the schedule on the
    // event, may get a core only later on a busy machine.
    std::lock_guard<std::mutex> hold(sounding_lock_);
    for (auto& [kc, channel] : sounding_) channel->Stop(10);
    sounding_.clear();
  }
  EventList()->PostEvent(active ? kClockRun : kClockStop, nullptr);
}

void TKavMusicPlayer::SeekTo(double position, double stop_time) {
  if (position >= 0) active_.store(false);
  music_ready_.store(false);
  auto data = MakeRef<TTimeData>(position, stop_time);
  EventList()->SendEvent(kSetTime, data.get());
}

int32_t TKavMusicPlayer::ItemCount() { return int32_t(items_.size()); }

void TKavMusicPlayer::HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) {
  handled = true;
  switch (code) {
    case kPlayerLoaded: {
      auto* box = dynamic_cast<TChannelContainer*>(param);
      if (!box || !box->Channel) return;
      LogLine(u"Receive Channel: " + box->Channel->FileName.substr(0, 64));
      const int32_t owner = box->Channel->OwnerId.load();
      for (auto& item : items_)
        if (item->Id() == owner) item->ChannelLoaded(box->Channel.get());
      if (free_sequence_ && free_sequence_->Id() == owner) free_sequence_->ChannelLoaded(box->Channel.get());
      return;
    }
    case kClockRun: {
      // Without a sound device (a player of the tests' own) nothing is heard
      // late: no lead.
      const double lead = audio_ && audio_->Device() ? kStartLead + audio_->Device()->LatencyMs() : 0;
      std::lock_guard<std::mutex> hold(time_lock_);
      if (!running_) {
        // Departure: the clock stands a start lead (and what the device
        // holds) longer, so that the sound due at this time, started now
        // behind that much silence, is heard just when the clock moves on:
        // the clock is what the listener hears from the first sample on.
        resumed_at_ = time_;
        time_ = Clock() + lead - time_;
        LogLine(u"Clock run from " + Num(resumed_at_));
      }
      running_ = true;
      return;
    }
    case kClockStop: {
      double at;
      {
        std::lock_guard<std::mutex> hold(time_lock_);
        if (!running_) return;
        time_ = std::max(Clock() - time_, resumed_at_);
        running_ = false;
        at = time_;
      }
      LogLine(u"Clock stop at " + Num(at));
      // Departure: a stopped clock silences every sound at once (a 10 ms
      // fade) and the schedule is built again from where it stopped, as a
      // seek does, so that the sounds are loaded again while the show stands
      // and start in step when it goes on; the play lists would otherwise
      // play on through a pause and stay ahead of the show by its length.
      Reschedule(at);
      return;
    }
    case kSetTime: {
      auto* data = dynamic_cast<TTimeData*>(param);
      if (!data) return;
      LogLine(u"Set Time " + Num(data->Position));
      if (data->StopTime >= 0) {
        std::lock_guard<std::mutex> hold(time_lock_);
        stop_time_ = data->StopTime;
      }
      if (data->Position >= 0) {
        {
          std::lock_guard<std::mutex> hold(time_lock_);
          running_ = false;
          time_ = data->Position;
          resumed_at_ = 0;
        }
        Reschedule(data->Position);
        if (free_sequence_) free_sequence_->ShowSetTo(data->Position);
      }
      return;
    }
    default:
      // An unknown code is logged and dropped (the thread goes on).
      LogLine(u"Unknown EventID");
      TKavThread::HandleEvent(sender, code, handled, param);
  }
}

void TKavMusicPlayer::Reschedule(double at) {
  for (auto& item : items_) item->Finish(true);
  items_.clear();
  horizon_ = at + kLookAhead;
  Schedule(at, horizon_, true);
}

void TKavMusicPlayer::Schedule(double s, double h, bool first) {
  if (!music_->HasMusic() && music_->SlideCount() == 0) return;
  const TPlayList& list = music_->PlayList();
  if (music_->HasMusic() && music_->SyncMode() && list.Count() > 0 && list.Length > 0) {
    const int64_t L = int64_t(list.Length);
    int64_t from = int64_t(s) / L + (first ? 0 : 1);
    int64_t to = int64_t(h) / L;
    const bool repeats = source_->RepeatMode() == 0 && list.Repeat;
    if (!repeats) to = std::min<int64_t>(to, 0);
    // A track that repeats as one sound: one looping sequence from the
    // repetition at s on plays every later one too, joined without a gap
    // (rather than one sequence per repetition, each a channel that starts
    // and stops with a fade).
    if (repeats && list.LoopsAsOne()) {
      if (first) {
        const double start = double(from * L);
        const double begin = std::max(start, s);
        items_.push_back(MakeRef<TPlaySequence>(this, list, begin, begin - start, false));
      }
      to = from - 1;
    }
    for (int64_t k = from; k <= to && k - from < 1000; ++k) {
      const double start = double(k * L);
      TPlayList one = list;
      one.Repeat = false;
      const double begin = std::max(start, s);
      items_.push_back(MakeRef<TPlaySequence>(this, one, begin, begin - start, false));
    }
  }
  // Sound comments of the slides in the window.
  const int32_t n = music_->SlideCount();
  const double D = source_->Duration();
  if (n == 0) return;
  int32_t cur = std::max(source_->SlideIndexAtTime(s), 0);
  int32_t last = source_->SlideIndexAtTime(h);
  if (last < 0) return;
  if (D <= 0 || source_->RepeatMode() != 0) last = std::min(last, n - 1);
  // A later pass goes on after the slide the last one reached. The first
  // pass looks back one show cycle, so that a comment that began on an
  // earlier slide (of this cycle or the one before) and still sounds at s is
  // picked up where it is.
  // 64 bits: the index after the last a 32-bit index can name must not wrap.
  const int64_t from = first ? std::max<int64_t>(int64_t(cur) - n, 0) : int64_t(cur) + 1;
  for (int64_t i = from; i <= last && i - from < 10000; ++i) {
    const TSlideMusicInfo& info = music_->Slide(int32_t(i % n));
    const double slide_start = info.Timing.Begin + double(i / n) * D;
    // The slide's own play list plays from the slide's start; a window that
    // begins inside the slide enters it at the matching offset. The slides
    // looked back at only give their comments.
    if (i >= cur && info.PlayList.Count() > 0 &&
        (info.PlayList.Repeat || s < slide_start + info.PlayList.Length)) {
      const double begin = std::max(slide_start, s);
      LogLine(u"New slide sequence begin " + Num(slide_start));
      items_.push_back(MakeRef<TPlaySequence>(this, info.PlayList, begin, begin - slide_start, false));
    }
    if (info.Comment.empty() || info.CommentLength <= 0) continue;
    const double passed = std::max(s - slide_start, 0.0);
    if (info.CommentLength - passed <= 0) continue;
    LogLine(u"New Comment begin " + Num(slide_start));
    auto kc = MakeRef<TKavChannel>();
    kc->FileName = info.Comment;
    kc->StartPosition = uint32_t(std::llround(passed));
    kc->Start = std::max(slide_start, s);
    kc->End.store(slide_start + info.CommentLength);
    items_.push_back(MakeRef<TPlayComment>(this, kc));
  }
  current_slide_ = cur;
}

void TKavMusicPlayer::Step() {
  EventList()->ProcessMessages();
  double t, stop;
  bool running;
  {
    std::lock_guard<std::mutex> hold(time_lock_);
    running = running_;
    stop = stop_time_;
  }
  t = std::min(GetTime(), stop - 1);
  if (running) {
    if (t + kLookAhead > horizon_) Schedule(horizon_, t + kLookAhead, false);
    horizon_ = std::max(horizon_, t + kLookAhead);
  }
  for (auto& item : items_) item->Step(t, running);
  if (free_sequence_) {
    // Departure: held music is let go when the show's clock runs again, and
    // is heard from the moment the show's time moves on (it went on at
    // once, ahead of the slides by the clock's start lead and more).
    if (hold_begun_.exchange(false) || held_.load()) free_sequence_->Hold(held_clock_.load(), held_show_.load());
    if (!held_.load() && running) free_sequence_->LetGo(ClockRunsAt());
    free_sequence_->Step(t, running);
  }
  // Start what is due, each behind the silence up to its exact time (less
  // what the device holds before a new buffer is heard).
  const double latency = audio_ && audio_->Device() ? audio_->Device()->LatencyMs() : 0;
  for (auto& kc : to_start_) {
    if (!kc->Channel) continue;
    // The time now, not at the top of the step: the steps before took time.
    const double lead = std::max(kc->OnShowTime ? kc->Start - RawTime() - latency
                                                : kc->Origin + kc->Start - Clock() - latency,
                                 0.0);
    if (auto* music = dynamic_cast<TChannelMusic*>(kc->Channel.get()))
      music->PlayAfter(10, uint32_t(std::llround(lead)));
    else
      kc->Channel->Play(10);
    kc->Stopped.store(false);
    if (kc->OnShowTime) {
      std::lock_guard<std::mutex> hold(sounding_lock_);
      sounding_.emplace_back(kc, kc->Channel);
    }
    LogLine(u"+++++++++++++++++++ Play Channel " + kc->FileName.substr(0, 64) + u" Time " + Num(t));
  }
  to_start_.clear();
  {
    std::lock_guard<std::mutex> hold(sounding_lock_);
    std::erase_if(sounding_, [](const auto& s) { return !s.first->Playing.load(); });
  }
  items_.erase(std::remove_if(items_.begin(), items_.end(), [](const auto& i) { return i->Finished(); }),
               items_.end());
  bool ready = running;
  if (!ready) ready = std::all_of(items_.begin(), items_.end(), [](const auto& i) { return i->Ready(); });
  music_ready_.store(ready);
  // Departure: with the clock stopped and every item ready nothing changes
  // until a message comes (seek, play, a loaded channel), so the thread
  // sleeps on its queue for up to 50 ms instead of stepping every 5 ms; a
  // message ends the sleep at once.
  // Departure, likewise: while the clock runs with nothing playing or due, what comes
  // next is scheduled 5 s ahead, so a wait of 50 ms misses nothing (a show
  // without music stepped 200 times a second for nothing).
  const bool idle = running && items_.empty() && to_start_.empty() && !free_sequence_;
  if ((!running && ready) || idle) WaitForMessage(50);
  else SleepMs(5);
}

}  // namespace kav
