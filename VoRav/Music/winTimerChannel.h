// The timer channel: the show clock. A silent two-second sound buffer loops
// while the clock runs; the clock is the audio clock (AudioTimeMs) since an
// origin, pulled toward the buffer's play cursor by at most 1 ms per 10 ms
// poll. The cursor is read every tenth poll (about every 100 ms) and
// extrapolated with the audio clock in between.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "VoRav/Music/MusicClasses.h"
#include "VoRav/Music/winDSEventThread.h"

namespace kav {

class TTimerChannel : public TRefObject {
 public:
  // The clock in ms: 0 while waiting for the first cursor movement after
  // Play; the frozen time while stopped. Any thread; cheap.
  virtual int64_t GetTimeMs() = 0;
  // Moves the clock to `ms` at once, playing or not.
  virtual void SetTimeMs(int64_t ms) = 0;
  virtual bool IsPlaying() = 0;
  // Only the thread that owns the player calls Play and Stop.
  virtual void Play() = 0;
  virtual void Stop() = 0;
};

class TwinTimerChannel : public TTimerChannel {
 public:
  // Raises Exception("SoundBuffer = nil") when no sound buffer can be made.
  explicit TwinTimerChannel(TwinWaveOutDevice* device);

  int64_t GetTimeMs() override;
  void SetTimeMs(int64_t ms) override;
  bool IsPlaying() override { return playing_.load(); }
  void Play() override;
  void Stop() override;

  // One poll, as the poll thread runs it every 10 ms.
  void Poll();
  // The cursor time: where the play cursor is, in ms of the clock's line.
  int64_t CursorTime();
  // Tests drive the polls themselves.
  static void SetPollThreadEnabled(bool enabled);

 protected:
  void Dispose() override;

 private:
  int64_t CursorTimeLocked();
  bool ReadCursor(const char16_t* before, const char16_t* after, uint32_t& cursor);
  void StopPollThread();

  Ref<TSndBuffer> buffer_;
  uint32_t size_;
  std::recursive_mutex lock_;
  uint32_t cursor_tick_ = 0;
  int64_t last_cursor_ = -1;
  int64_t base_time_ = 0;
  Ref<TDSEventThread> poll_thread_;
  int32_t poll_counter_ = 0;
  std::atomic<bool> playing_{false};
  int64_t stored_time_ = 0;
  // The clock is AudioTimeMs() - origin (32-bit wrap-around arithmetic).
  std::atomic<uint32_t> origin_;
  int64_t cursor_offset_ = 0;
  std::atomic<bool> waiting_for_cursor_{true};
};

}  // namespace kav
