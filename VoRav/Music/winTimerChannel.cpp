#include "VoRav/Music/winTimerChannel.h"

#include <cstring>

#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
std::atomic<bool> g_poll_thread{true};
}

void TwinTimerChannel::SetPollThreadEnabled(bool enabled) { g_poll_thread.store(enabled); }

TwinTimerChannel::TwinTimerChannel(TwinWaveOutDevice* device) : size_(2 * kOutputBytesPerSec), origin_(AudioTimeMs()) {
  TSndDevice* sound = device ? device->Sound() : nullptr;
  if (sound) {
    TSndBufferDesc desc;
    desc.Flags = kSndCapsGetCurrentPosition2 | kSndCapsGlobalFocus | kSndCapsLocSoftware;
    desc.BufferBytes = size_;
    desc.Format = &kOutputWaveFormat;
    SndTrace(u"-> FDirectSound.CreateSoundBuffer [TimerChannel, 129]");
    sound->CreateSoundBuffer(desc, buffer_);
    SndTrace(u"<- FDirectSound.CreateSoundBuffer [TimerChannel, 131]");
  }
  if (!buffer_) {
    SndTrace(u"!!! SoundBuffer = nil [TimerChannel, 133]");
    throw Exception("SoundBuffer = nil");
  }
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  SndTrace(u"-> FDirectSoundBuffer.Lock [TimerChannel, 137]");
  const TSndResult locked = buffer_->Lock(0, size_, &p1, &n1, &p2, &n2, 0);
  SndTrace(u"<- FDirectSoundBuffer.Lock [TimerChannel, 139]");
  if (SndSucceeded(locked)) {
    std::memset(p1, 0, n1);
    SndTrace(u"-> FDirectSoundBuffer.Unlock [TimerChannel, 143]");
    buffer_->Unlock(p1, n1, p2, n2);
    SndTrace(u"<- FDirectSoundBuffer.Unlock [TimerChannel, 145]");
  }
}

void TwinTimerChannel::Dispose() {
  if (buffer_) {
    SndTrace(u"-> FDirectSoundBuffer.Stop [TimerChannel, 153]");
    buffer_->Stop();
    SndTrace(u"<- FDirectSoundBuffer.Stop [TimerChannel, 155]");
  }
  StopPollThread();
  SndTrace(u"-> FDirectSoundBuffer := nil [TimerChannel, 161]");
  buffer_ = nullptr;
  SndTrace(u"<- FDirectSoundBuffer := nil [TimerChannel, 163]");
  TTimerChannel::Dispose();
}

int64_t TwinTimerChannel::GetTimeMs() {
  // A stopped clock stands at the time it reached.
  if (!playing_.load()) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return stored_time_;
  }
  if (waiting_for_cursor_.load()) return 0;
  return int64_t(int32_t(AudioTimeMs() - origin_.load()));
}

void TwinTimerChannel::SetTimeMs(int64_t ms) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  base_time_ = ms;
  stored_time_ = ms;
  origin_.store(AudioTimeMs() - uint32_t(ms));
  // While running, the cursor is measured from the new time on, so the
  // clock is not pulled back toward the old one.
  if (playing_.load() && !waiting_for_cursor_.load()) cursor_offset_ = CursorTimeLocked() - ms;
}

int64_t TwinTimerChannel::CursorTime() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  return CursorTimeLocked();
}

int64_t TwinTimerChannel::CursorTimeLocked() {
  if (!buffer_) return 0;
  if (!playing_.load()) return stored_time_;
  int64_t t = base_time_;
  if (last_cursor_ >= 0)
    t += int64_t(uint32_t(AudioTimeMs() - cursor_tick_)) + last_cursor_ * 10 / (kOutputBytesPerSec / 100);
  return t;
}

bool TwinTimerChannel::ReadCursor(const char16_t* before, const char16_t* after, uint32_t& cursor) {
  SndTrace(before);
  const TSndResult r = buffer_->GetCurrentPosition(&cursor, nullptr);
  SndTrace(after);
  return SndSucceeded(r);
}

void TwinTimerChannel::Play() {
  if (!buffer_) return;
  playing_.store(true);
  SndTrace(u"-> FDirectSoundBuffer.Play [TimerChannel, 177]");
  TSndResult r = buffer_->Play(0, 0, kSndPlayLooping);
  while (r == kSndErrBufferLost) {
    SndTrace(u"<- FDirectSoundBuffer.Play [TimerChannel, 179]");
    SndTrace(u"-> FDirectSoundBuffer.Restore [TimerChannel, 181]");
    buffer_->Restore();
    SndTrace(u"<- FDirectSoundBuffer.Restore [TimerChannel, 183]");
    SleepMs(10);
    r = buffer_->Play(0, 0, kSndPlayLooping);
  }
  SndTrace(u"<- FDirectSoundBuffer.Play [TimerChannel, 186]");
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    poll_counter_ = 0;
    SetTimeMs(stored_time_);
    // The clock reads 0 until the sound card has moved the cursor; then it
    // resumes from the stored time.
    waiting_for_cursor_.store(true);
  }
  if (g_poll_thread.load() && !poll_thread_) {
    poll_thread_ = MakeRef<TDSEventThread>(nullptr, [this] { Poll(); }, 10, "timer channel poll");
    poll_thread_->Start();
  }
}

void TwinTimerChannel::Poll() {
  if (!buffer_) return;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!playing_.load()) return;
  if (waiting_for_cursor_.load()) {
    uint32_t cursor = 0;
    if (!ReadCursor(u"-> FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 230]",
                    u"<- FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 232]", cursor) ||
        cursor == 0)
      return;
    last_cursor_ = cursor;
    cursor_tick_ = AudioTimeMs();
    origin_.store(AudioTimeMs() - uint32_t(stored_time_));
    cursor_offset_ = CursorTimeLocked() - stored_time_;
    waiting_for_cursor_.store(false);
  }
  // Signed: the clock is pulled toward the cursor from either side.
  const int64_t d = CursorTimeLocked() - cursor_offset_;
  const int64_t c = GetTimeMs();
  if (d > c) origin_.fetch_sub(1);
  if (c > d) origin_.fetch_add(1);
  if (++poll_counter_ >= 10) {
    poll_counter_ = 0;
    uint32_t cursor = 0;
    if (ReadCursor(u"-> FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 262]",
                   u"<- FDirectSoundBuffer.GetCurrentPosition [TimerChannel, 264]", cursor)) {
      cursor_tick_ = AudioTimeMs();
      if (last_cursor_ >= 0 && int64_t(cursor) < last_cursor_) base_time_ += 2000;
      last_cursor_ = cursor;
    }
  }
}

void TwinTimerChannel::StopPollThread() {
  if (!poll_thread_) return;
  poll_thread_->StopAndWait();
  poll_thread_ = nullptr;
}

void TwinTimerChannel::Stop() {
  if (!buffer_) return;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    // The clock's own value is kept (the cursor time differs from it by the
    // cursor offset), so Play resumes exactly where the clock stood.
    if (!waiting_for_cursor_.load()) stored_time_ = int64_t(int32_t(AudioTimeMs() - origin_.load()));
    playing_.store(false);
  }
  StopPollThread();
  std::lock_guard<std::recursive_mutex> hold(lock_);
  SndTrace(u"-> FDirectSoundBuffer.Stop [TimerChannel, 326]");
  buffer_->Stop();
  SndTrace(u"<- FDirectSoundBuffer.Stop [TimerChannel, 328]");
  SndTrace(u"-> FDirectSoundBuffer.SetCurrentPosition [TimerChannel, 330]");
  buffer_->SetCurrentPosition(0);
  SndTrace(u"<- FDirectSoundBuffer.SetCurrentPosition [TimerChannel, 332]");
  last_cursor_ = -1;
}

}  // namespace kav
