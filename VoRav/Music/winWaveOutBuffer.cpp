#include "VoRav/Music/winWaveOutBuffer.h"

#include <algorithm>
#include <cmath>

#include "VoRav/vxTime.h"

namespace kav {

TwinWaveOutBuffer::TwinWaveOutBuffer(TwinWaveOutDevice* device, uint32_t size, const TWaveFormat& format)
    : size_(size), format_(format) {
  const uint32_t align = std::max<uint32_t>(format.BlockAlign, 1);
  size_ -= size_ % align;
  // Whole sample frames, not single samples: half a frame would swap the
  // channels of everything after it.
  refill_limit_ = format.AvgBytesPerSec / 2;
  refill_limit_ -= refill_limit_ % align;
  TSndDevice* sound = device ? device->Sound() : nullptr;
  if (!sound || size_ == 0) return;
  TSndBufferDesc desc;
  desc.Flags = kSndCapsGetCurrentPosition2 | kSndCapsGlobalFocus | kSndCapsCtrlVolume | kSndCapsLocSoftware;
  desc.BufferBytes = size_;
  desc.Format = &format_;
  if (SndSucceeded(sound->CreateSoundBuffer(desc, buffer_)) && buffer_) closed_ = false;
}

void TwinWaveOutBuffer::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> hold(ring_lock_);
    if (buffer_) buffer_->Stop();
    closed_ = true;
  }
  if (thread_) thread_->StopAndWait();
  thread_ = nullptr;
  buffer_ = nullptr;
  TWaveOutBuffer::Dispose();
}

int32_t TwinWaveOutBuffer::Attenuation(float volume) {
  if (!(volume > 0)) return kSndVolumeMin;
  const double a = std::nearbyint(-600.0 * std::log2(1.0 / volume));
  return int32_t(std::clamp(a, double(kSndVolumeMin), double(kSndVolumeMax)));
}

float TwinWaveOutBuffer::GetVolume() {
  if (volume_ >= 0) return volume_;
  int32_t a = 0;
  if (!buffer_ || !SndSucceeded(buffer_->GetVolume(&a))) return 1.0f;
  if (a == 0) return 1.0f;
  if (a <= kSndVolumeMin) return 0.0f;
  return float(std::exp2(a / 600.0));
}

void TwinWaveOutBuffer::SetVolume(float volume) {
  volume_ = volume;
  if (buffer_) buffer_->SetVolume(Attenuation(volume));
}

void TwinWaveOutBuffer::StartThread() {
  if (!buffer_ || thread_) return;
  // The first fill and Play run here, on the caller's thread, so the buffer
  // starts at once (a new thread may get going milliseconds later, and a
  // start must land on the time its caller computed); the thread refills.
  StartPlaying();
  thread_ = MakeRef<TDSEventThread>(nullptr, [this] { Refill(); }, 100, "sound buffer refill");
  thread_->Start();
}

void TwinWaveOutBuffer::RequestRestart(const TRestartPrepare& prepare) {
  // Departure: once the buffer plays, the restart runs at once on the
  // caller's thread rather than when the refill thread next gets a core, so
  // a stop (a pause's among them) fades where it was asked for on a busy
  // machine too; the fill callbacks take no lock of their own.
  std::lock_guard<std::recursive_mutex> hold(ring_lock_);
  // Departure: `prepare` runs under the ring lock. A stop's fade set up
  // outside it could be taken by a regular fill first, written two seconds
  // ahead of the cursor: the audio before it then played on and the restart
  // found the fade already ended (a click).
  if (prepare) prepare();
  if (thread_) {
    if (!closed_) {
      RestartLocked();
      // Departure: the space behind the queued audio is filled here too, so
      // that a fade the queued audio could not hold (too little of it: a
      // starved refill thread) goes on right after it, rather than the
      // device reading on into what the ring held before.
      FillFree();
    }
    return;
  }
  restart_requested_.store(true);
}

uint32_t TwinWaveOutBuffer::GetFirstFillSize() {
  const uint32_t align = std::max<uint32_t>(format_.BlockAlign, 1);
  const uint32_t n = size_ / 4 * 3;
  return n - n % align;
}

bool TwinWaveOutBuffer::Cursors(uint32_t& play, uint32_t& write) {
  play = write = 0;
  return buffer_ && SndSucceeded(buffer_->GetCurrentPosition(&play, &write));
}

uint32_t TwinWaveOutBuffer::GetQueuedBytes() {
  uint32_t play, write;
  if (!Cursors(play, write) || size_ == 0) return 0;
  const uint32_t b = block_position_.load();
  // A block that starts at the cursor (the first fill, or a ring that ran
  // dry) has nothing before it, not a whole ring.
  if (play == b) return 0;
  return play < b ? b - play : size_ + b - play;
}

int64_t TwinWaveOutBuffer::GetPlayedMs() {
  std::lock_guard<std::mutex> hold(position_lock_);
  int64_t t = base_time_;
  // Bytes to ms with the exact rate (dividing by the byte rate / 100 first
  // loses up to half a percent at rates such as 22,050 Hz mono 8-bit).
  if (last_cursor_ >= 0 && format_.AvgBytesPerSec > 0)
    t += int64_t(uint32_t(AudioTimeMs() - position_tick_)) +
         int64_t(double(last_cursor_) * 1000.0 / format_.AvgBytesPerSec);
  return t;
}

uint64_t TwinWaveOutBuffer::FramesRead() { return buffer_ ? buffer_->FramesRead() : 0; }

uint64_t TwinWaveOutBuffer::FramesReadAt(uint32_t byte) {
  if (!buffer_ || size_ == 0) return 0;
  uint32_t next = 0;
  const uint64_t read = buffer_->FramesRead(&next);
  const uint32_t at = uint32_t((uint64_t(block_position_.load()) + byte) % size_);
  return read + (at + size_ - next) % size_ / std::max<uint32_t>(format_.BlockAlign, 1);
}

void TwinWaveOutBuffer::StartPlaying() {
  {
    std::lock_guard<std::recursive_mutex> hold(ring_lock_);
    if (closed_) return;
    write_position_ = GetFirstFillSize();
    filled_to_cursor_ = false;
    void *p1 = nullptr, *p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (write_position_ > 0 && SndSucceeded(buffer_->Lock(0, write_position_, &p1, &n1, &p2, &n2, 0))) {
      block_position_.store(0);
      if (FirstFill) FirstFill(this, static_cast<uint8_t*>(p1), n1);
      buffer_->Unlock(p1, n1, p2, n2);
    }
  }
  for (;;) {
    {
      std::lock_guard<std::recursive_mutex> hold(ring_lock_);
      if (closed_) return;
      const TSndResult r = buffer_->Play(0, 0, kSndPlayLooping);
      if (r != kSndErrBufferLost) return;
      buffer_->Restore();
    }
    SleepMs(10);
  }
}

bool TwinWaveOutBuffer::FillRegions(const TFillCallback& fill, uint32_t at, uint32_t bytes, uint32_t& n1,
                                    uint32_t& n2) {
  void *p1 = nullptr, *p2 = nullptr;
  n1 = n2 = 0;
  if (!SndSucceeded(buffer_->Lock(at, bytes, &p1, &n1, &p2, &n2, 0))) return false;
  // Each region's own start is its block position, so queued bytes plus an
  // offset into the block give the true distance from the cursor.
  block_position_.store(at);
  if (fill) fill(this, static_cast<uint8_t*>(p1), n1);
  if (!p2) n2 = 0;
  if (n2) {
    block_position_.store(0);
    if (fill) fill(this, static_cast<uint8_t*>(p2), n2);
  }
  buffer_->Unlock(p1, n1, p2, n2);
  return true;
}

void TwinWaveOutBuffer::RestartLocked() {
  // The queued audio from 5 ms past the write cursor up to our write
  // position goes through the restart fill once more.
  // Departure: 5 ms, not 25: the device's write cursor is the end of what it
  // has mixed (everything past it may still change), so the wider margin
  // only held every stop, a pause's among them, 20 ms longer.
  // Departure: the restart fill works on a copy of the queued audio, handed
  // over in one call (from the first region's block position), and the copy
  // replaces the ring in one step, only while the device has read none of
  // it: a region locked for the fill sounded as silence wherever the device
  // reached it first (a drop to zero and a burst part-way down the fade, a
  // click twice over). When the device got there meanwhile, the restart is
  // made again from its new cursor, the margin doubled each time.
  const uint32_t align = std::max<uint32_t>(format_.BlockAlign, 1);
  const uint32_t margin = (format_.SamplesPerSec / 200) * (format_.BitsPerSample / 8) * format_.Channels;
  bool made = false, written = false;
  for (uint32_t attempt = 0; attempt < kRestartAttempts; ++attempt) {
    uint32_t play, write;
    if (!Cursors(play, write)) break;
    // Departure: only what is queued is restarted: a point past our write
    // position would otherwise wrap round the whole ring.
    // Our write position at the play cursor is a full ring when the refill
    // left it there (it fills everything behind the cursor) and the device
    // has not since played the ring round: taken as empty, a stop made just
    // after such a refill was heard only when the whole ring, two seconds,
    // had played. Reached by the cursor instead, the ring ran dry.
    uint32_t queued = (write_position_ + size_ - play) % size_;
    const uint32_t ring_ms =
        format_.AvgBytesPerSec ? uint32_t(uint64_t(size_) * 1000 / format_.AvgBytesPerSec) : 0;
    if (queued == 0 && filled_to_cursor_ && AudioTimeMs() - filled_tick_ < ring_ms) queued = size_;
    const uint32_t mixed = (write + size_ - play) % size_;
    if (mixed >= queued) break;
    // Departure: with less queued past the write cursor than the margin,
    // the restart begins at the write cursor itself, so that what is queued
    // fades (the fill after it carries the fade on); it was left as it was,
    // and the device read it at full level into what the ring held before.
    uint64_t shift = uint64_t(margin) << attempt;
    if (mixed + shift >= queued) shift = 0;
    uint32_t p = uint32_t((uint64_t(write) + shift) % size_);
    p -= p % align;
    const uint32_t distance = (p + size_ - play) % size_;
    if (p == write_position_ || distance >= queued) break;
    const uint32_t length = (write_position_ + size_ - p) % size_;
    restart_copy_.resize(length);
    if (!SndSucceeded(buffer_->Read(p, length, restart_copy_.data()))) break;
    block_position_.store(p);
    if (RestartFill) RestartFill(this, restart_copy_.data(), length);
    made = true;
    written = buffer_->WriteUnread(p, restart_copy_.data(), length) != kSndErrInvalidCall;
    if (written) break;
  }
  // A restart made but never written leaves the queued audio as it was: the
  // restart fill hears of it by a fill of no bytes (it fades from the stop's
  // gain again in the fill that follows).
  if (made && !written && RestartFill) RestartFill(this, restart_copy_.data(), 0);
  restart_copy_.clear();
  restart_copy_.shrink_to_fit();
}

bool TwinWaveOutBuffer::FillFree(uint32_t* cursor) {
  // The free space behind the play cursor, at most half a second.
  uint32_t play, write;
  if (!Cursors(play, write)) return false;
  if (cursor) *cursor = play;
  if (write_position_ == play) return true;
  uint32_t free = (play + size_ - write_position_) % size_;
  free = std::min(free, refill_limit_);
  free -= free % std::max<uint32_t>(format_.BlockAlign, 1);
  uint32_t n1 = 0, n2 = 0;
  if (free > 0 && FillRegions(RegularFill, write_position_, free, n1, n2)) {
    write_position_ = n2 ? n2 : (write_position_ + n1) % size_;
    filled_to_cursor_ = write_position_ == play;
    filled_tick_ = AudioTimeMs();
  }
  return true;
}

void TwinWaveOutBuffer::Refill() {
  std::lock_guard<std::recursive_mutex> hold(ring_lock_);
  if (closed_) return;
  // 1. A restart.
  if (restart_requested_.exchange(false)) RestartLocked();
  // 2. The free space.
  uint32_t play;
  if (!FillFree(&play)) return;
  // 3. The played time: one more wrap whenever the cursor went back.
  std::lock_guard<std::mutex> position(position_lock_);
  position_tick_ = AudioTimeMs();
  if (last_cursor_ >= 0 && int64_t(play) < last_cursor_) base_time_ += 2000;
  last_cursor_ = play;
}

}  // namespace kav
