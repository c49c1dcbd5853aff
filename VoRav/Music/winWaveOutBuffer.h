// The streaming output buffer of a music channel: a two-second ring in the
// channel's PCM format, kept filled ahead of the play cursor by a refill
// thread that calls back into the channel (first fill, regular fills, and
// the restart fill that lets a stop fade out the audio already queued).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "VoRav/Music/MusicClasses.h"
#include "VoRav/Music/winDSEventThread.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TWaveOutBuffer : public TRefObject {
 public:
  // Called on the refill thread with the destination and the byte count.
  // A restart fill of no bytes says that the restart handed over before
  // could not be written: the queued audio plays as it was.
  using TFillCallback = TDelegate<void(TWaveOutBuffer*, uint8_t*, uint32_t)>;
  TFillCallback FirstFill, RestartFill, RegularFill;

  virtual float GetVolume() = 0;
  // 0..1: 6 dB per halving; 0 or less is silence.
  virtual void SetVolume(float volume) = 0;
  // Starts the refill thread: first fill, then playing.
  virtual void StartThread() = 0;
  // The next refill pass hands the queued audio past the write cursor to
  // the restart fill first. `prepare` runs under the ring lock just before,
  // so that no fill sees what it sets before the restart has run.
  using TRestartPrepare = std::function<void()>;
  virtual void RequestRestart(const TRestartPrepare& prepare = nullptr) = 0;
  virtual uint32_t GetFirstFillSize() = 0;
  // Bytes from the play cursor to the block being filled.
  virtual uint32_t GetQueuedBytes() = 0;
  // Milliseconds played since the buffer started.
  virtual int64_t GetPlayedMs() = 0;
  // Frames the device has read (mixed) since the buffer started playing.
  virtual uint64_t FramesRead() = 0;
  // What FramesRead will be once the device has read up to `byte` of the
  // block being filled (which lies ahead of it, within one round).
  virtual uint64_t FramesReadAt(uint32_t byte) = 0;
};

class TwinWaveOutBuffer : public TWaveOutBuffer {
 public:
  // `size` bytes of `format`. When the sound buffer cannot be made the
  // buffer stays silent: it never plays and is disposed of safely.
  TwinWaveOutBuffer(TwinWaveOutDevice* device, uint32_t size, const TWaveFormat& format);

  float GetVolume() override;
  void SetVolume(float volume) override;
  void StartThread() override;
  void RequestRestart(const TRestartPrepare& prepare = nullptr) override;
  uint32_t GetFirstFillSize() override;
  uint32_t GetQueuedBytes() override;
  int64_t GetPlayedMs() override;
  uint64_t FramesRead() override;
  uint64_t FramesReadAt(uint32_t byte) override;

  bool HasSoundBuffer() const { return buffer_ != nullptr; }
  uint32_t SizeBytes() const { return size_; }
  // One refill pass, as the thread runs it (tests drive it themselves).
  void Refill();
  // Hands what is queued past the write cursor to the restart fill (under
  // the ring lock), on a copy that replaces the queued audio while the
  // device has read none of it.
  void RestartLocked();
  // Restarts tried before a stop gives up (the margin past the write
  // cursor doubles with each: 5 ms to 640 ms).
  static constexpr uint32_t kRestartAttempts = 8;
  void StartPlaying();
  // Attenuation in hundredths of a decibel for a volume 0..1.
  static int32_t Attenuation(float volume);

 protected:
  void Dispose() override;

 private:
  bool Cursors(uint32_t& play, uint32_t& write);
  // The regular fill of the free space behind the play cursor (under the
  // ring lock); false when the cursors cannot be read. `cursor`: the play
  // cursor it read.
  bool FillFree(uint32_t* cursor = nullptr);
  // Locks `bytes` from `at` and hands each region to `fill`; false when the
  // lock fails. n1, n2: the regions' lengths.
  bool FillRegions(const TFillCallback& fill, uint32_t at, uint32_t bytes, uint32_t& n1, uint32_t& n2);

  float volume_ = -1.0f;
  Ref<TSndBuffer> buffer_;
  uint32_t size_;
  TWaveFormat format_;
  std::recursive_mutex ring_lock_;
  bool closed_ = true;
  Ref<TDSEventThread> thread_;
  std::atomic<bool> restart_requested_{false};
  uint32_t write_position_ = 0;
  // The refill last left our write position at the play cursor (the whole
  // ring queued), at this audio time.
  bool filled_to_cursor_ = false;
  uint32_t filled_tick_ = 0;
  uint32_t refill_limit_;
  // The queued audio a restart fills, kept only while it runs.
  std::vector<uint8_t> restart_copy_;
  std::mutex position_lock_;
  int64_t base_time_ = 0;
  int64_t last_cursor_ = -1;
  uint32_t position_tick_ = 0;
  std::atomic<uint32_t> block_position_{0};
};

}  // namespace kav
