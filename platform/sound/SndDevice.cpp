#include "platform/sound/SndDevice.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace kav {

namespace {

std::atomic<TSndDeviceFactory> g_factory{nullptr};

bool FormatSupported(const TWaveFormat& f) {
  if (f.FormatTag != kWaveFormatPcm) return false;
  if (f.Channels < 1 || f.Channels > 2) return false;
  if (f.BitsPerSample != 8 && f.BitsPerSample != 16) return false;
  if (f.SamplesPerSec < 100 || f.SamplesPerSec > 384000) return false;
  return f.BlockAlign == f.Channels * f.BitsPerSample / 8;
}

inline int16_t Clamp16(int32_t v) { return int16_t(std::clamp(v, -32768, 32767)); }

}  // namespace

TSndDeviceFactory SetSndDeviceFactory(TSndDeviceFactory factory) { return g_factory.exchange(factory); }

Ref<TSndDevice> SndCreateDevice() {
  TSndDeviceFactory factory = g_factory.load();
  return factory ? factory() : Ref<TSndDevice>();
}

int32_t SndGainQ15(int32_t volume) {
  volume = std::clamp(volume, kSndVolumeMin, kSndVolumeMax);
  if (volume == 0) return 32768;
  return int32_t(std::lround(32768.0 * std::pow(10.0, volume / 2000.0)));
}

// ---------------------------------------------------------------------------
// Device

TSndResult TSndDevice::SetCooperativeLevel(void*, uint32_t level) {
  if (level < kSndCoopNormal || level > kSndCoopWritePrimary) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  cooperative_ = true;
  return kSndOk;
}

TSndResult TSndDevice::CreateSoundBuffer(const TSndBufferDesc& desc, Ref<TSndBuffer>& buffer) {
  buffer = nullptr;
  if (desc.Size != 36 || (desc.Flags & kSndCapsPrimary) || !desc.Format) return kSndErrInvalidParam;
  if (!FormatSupported(*desc.Format)) return kSndErrBadFormat;
  if (desc.BufferBytes < kSndBufferMinBytes || desc.BufferBytes > kSndBufferMaxBytes ||
      desc.BufferBytes % desc.Format->BlockAlign != 0)
    return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (!cooperative_) return kSndErrPrioLevelNeeded;
  try {
    buffer = Ref<TSndBuffer>::Adopt(new TSndBuffer(this, desc));
  } catch (const std::bad_alloc&) {
    return kSndErrOutOfMemory;
  }
  buffers_.push_back(buffer.get());
  return kSndOk;
}

void TSndDevice::Render(int16_t* out, uint32_t frames) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  RenderLocked(out, frames);
}

void TSndDevice::RenderLocked(int16_t* out, uint32_t frames) {
  constexpr uint32_t kChunk = 4096;
  accumulators_.resize(kChunk * 2);
  while (frames > 0) {
    const uint32_t n = std::min(frames, kChunk);
    int32_t* acc = accumulators_.data();
    std::fill(acc, acc + n * 2, 0);
    for (TSndBuffer* b : buffers_)
      if (b->playing_ && !b->lost_) b->MixInto(acc, n);
    if (out) {
      for (uint32_t i = 0; i < n * 2; ++i) out[i] = Clamp16(acc[i]);
      out += n * 2;
    }
    rendered_ += n;
    frames -= n;
  }
}

uint64_t TSndDevice::RenderedFrames() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  return rendered_;
}

double TSndDevice::LatencyMs() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  return UnheardFramesLocked() * 1000.0 / kOutputRate;
}

uint64_t TSndDevice::LateFrames() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  return late_frames_;
}

void TSndDevice::LoseBuffers() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  AdvanceLocked();
  for (TSndBuffer* b : buffers_) {
    b->lost_ = true;
    b->playing_ = false;
  }
}

// ---------------------------------------------------------------------------
// Buffer

TSndBuffer::TSndBuffer(TSndDevice* device, const TSndBufferDesc& desc)
    : device_(device),
      format_(*desc.Format),
      flags_(desc.Flags),
      size_(desc.BufferBytes),
      frame_count_(desc.BufferBytes / desc.Format->BlockAlign),
      data_(desc.BufferBytes, desc.Format->BitsPerSample == 8 ? 128 : 0),
      step_((uint64_t(desc.Format->SamplesPerSec) << 32) / kOutputRate) {}

void TSndBuffer::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> hold(device_->lock_);
    auto& list = device_->buffers_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  device_ = nullptr;
  TRefObject::Dispose();
}

TSndResult TSndBuffer::Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2,
                            uint32_t* bytes2, uint32_t flags) {
  if (!ptr1 || !bytes1) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (lost_) return kSndErrBufferLost;
  if (flags & kSndLockFromWriteCursor) offset = position_ * format_.BlockAlign;
  if (flags & kSndLockEntireBuffer) bytes = size_;
  if (offset >= size_ || bytes == 0 || bytes > size_) return kSndErrInvalidParam;
  const uint32_t first = std::min(bytes, size_ - offset);
  *ptr1 = data_.data() + offset;
  *bytes1 = first;
  if (bytes > first && !ptr2) return kSndErrInvalidParam;
  if (ptr2) *ptr2 = bytes > first ? data_.data() : nullptr;
  if (bytes2) *bytes2 = bytes - first;
  AddLockedRegion(offset, first);
  if (bytes > first) AddLockedRegion(0, bytes - first);
  return kSndOk;
}

TSndResult TSndBuffer::Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2) {
  const uint8_t* begin = data_.data();
  auto inside = [&](void* p, uint32_t n) {
    if (!p) return n == 0;
    const uint8_t* q = static_cast<const uint8_t*>(p);
    return q >= begin && q <= begin + size_ && n <= size_ - uint32_t(q - begin);
  };
  if (!inside(ptr1, bytes1) || !inside(ptr2, bytes2)) return kSndErrInvalidParam;
  // Taking the lock orders the caller's writes before every later mix.
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  if (ptr1) ReleaseLockedRegion(uint32_t(static_cast<const uint8_t*>(ptr1) - begin));
  if (ptr2) ReleaseLockedRegion(uint32_t(static_cast<const uint8_t*>(ptr2) - begin));
  return kSndOk;
}

TSndResult TSndBuffer::Read(uint32_t offset, uint32_t bytes, void* dst) {
  if (!dst || offset >= size_ || bytes > size_) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (lost_) return kSndErrBufferLost;
  const uint32_t first = std::min(bytes, size_ - offset);
  std::memcpy(dst, data_.data() + offset, first);
  std::memcpy(static_cast<uint8_t*>(dst) + first, data_.data(), bytes - first);
  return kSndOk;
}

TSndResult TSndBuffer::WriteUnread(uint32_t offset, const void* src, uint32_t bytes) {
  if (!src || offset >= size_ || bytes > size_ || offset % format_.BlockAlign != 0) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (lost_) return kSndErrBufferLost;
  if (playing_) {
    // Frames from the range's first to the mixer's next one: none read yet
    // when that is 0 (the mixer is at the first) or the whole range or more.
    const uint32_t first = offset / format_.BlockAlign;
    const uint32_t read = (position_ + frame_count_ - first) % frame_count_;
    if (read > 0 && uint64_t(read) * format_.BlockAlign < bytes) return kSndErrInvalidCall;
  }
  const uint32_t head = std::min(bytes, size_ - offset);
  std::memcpy(data_.data() + offset, src, head);
  std::memcpy(data_.data(), static_cast<const uint8_t*>(src) + head, bytes - head);
  return kSndOk;
}

void TSndBuffer::AddLockedRegion(uint32_t offset, uint32_t bytes) {
  const uint32_t align = format_.BlockAlign;
  const TLockedRegion region{offset, offset / align, uint32_t((uint64_t(offset) + bytes + align - 1) / align)};
  for (TLockedRegion& r : locked_)
    if (r.offset == offset) {
      r = region;
      return;
    }
  if (locked_.size() >= kMaxLockedRegions) locked_.erase(locked_.begin());
  locked_.push_back(region);
}

void TSndBuffer::ReleaseLockedRegion(uint32_t offset) {
  locked_.erase(std::remove_if(locked_.begin(), locked_.end(), [&](const TLockedRegion& r) { return r.offset == offset; }),
                locked_.end());
}

bool TSndBuffer::FrameLocked(uint32_t frame) const {
  for (const TLockedRegion& r : locked_)
    if (frame >= r.first && frame < r.end) return true;
  return false;
}

uint32_t TSndBuffer::UniformRun(uint32_t frame, uint32_t limit, bool& locked) const {
  locked = false;
  uint32_t run = limit;
  for (const TLockedRegion& r : locked_) {
    if (frame >= r.first && frame < r.end) {
      if (!locked) run = 0;
      locked = true;
      run = std::max(run, std::min(limit, r.end - frame));
    } else if (!locked && r.first > frame) {
      run = std::min(run, r.first - frame);
    }
  }
  return run;
}

TSndResult TSndBuffer::Play(uint32_t, uint32_t, uint32_t flags) {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (lost_) return kSndErrBufferLost;
  if (!playing_) since_play_ = 0;
  playing_ = true;
  looping_ = (flags & kSndPlayLooping) != 0;
  return kSndOk;
}

TSndResult TSndBuffer::Stop() {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  playing_ = false;
  return kSndOk;
}

bool TSndBuffer::IsPlaying() {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  return playing_;
}

TSndResult TSndBuffer::GetCurrentPosition(uint32_t* play, uint32_t* write) {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  uint32_t heard = position_;
  if (playing_) {
    // What the device still holds, in this buffer's frames; never further
    // back than where this run of Play started.
    const uint64_t unheard = std::min<uint64_t>(
        (uint64_t(device_->UnheardFramesLocked()) * format_.SamplesPerSec) / kOutputRate, since_play_);
    heard = uint32_t((uint64_t(position_) + frame_count_ - unheard % frame_count_) % frame_count_);
  }
  if (play) *play = heard * format_.BlockAlign;
  if (write) *write = position_ * format_.BlockAlign;
  return kSndOk;
}

uint64_t TSndBuffer::FramesRead(uint32_t* next) {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (next) *next = position_ * format_.BlockAlign;
  return since_play_;
}

TSndResult TSndBuffer::SetCurrentPosition(uint32_t position) {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  if (position >= size_) return kSndErrInvalidParam;
  position_ = position / format_.BlockAlign;
  fraction_ = 0;
  since_play_ = 0;
  return kSndOk;
}

TSndResult TSndBuffer::SetVolume(int32_t volume) {
  if (!(flags_ & kSndCapsCtrlVolume)) return kSndErrControlUnavail;
  if (volume < kSndVolumeMin || volume > kSndVolumeMax) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  device_->AdvanceLocked();
  volume_ = volume;
  gain_q15_ = SndGainQ15(volume);
  return kSndOk;
}

TSndResult TSndBuffer::GetVolume(int32_t* volume) {
  if (!(flags_ & kSndCapsCtrlVolume)) return kSndErrControlUnavail;
  if (!volume) return kSndErrInvalidParam;
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  *volume = volume_;
  return kSndOk;
}

TSndResult TSndBuffer::Restore() {
  std::lock_guard<std::recursive_mutex> hold(device_->lock_);
  if (lost_) {
    lost_ = false;
    std::fill(data_.begin(), data_.end(), format_.BitsPerSample == 8 ? 128 : 0);
    position_ = 0;
    fraction_ = 0;
  }
  return kSndOk;
}

void TSndBuffer::StopAtEnd() {
  playing_ = false;
  position_ = 0;
  fraction_ = 0;
}

// Linear interpolation between the frame at the read position and the next
// one; `fetch` gives a frame as two 16-bit values.
template <typename Fetch>
void TSndBuffer::MixResampled(int32_t* acc, uint32_t frames, Fetch fetch) {
  const int64_t gain = gain_q15_;
  for (uint32_t n = 0; n < frames; ++n) {
    uint32_t next = position_ + 1;
    if (next >= frame_count_) next = looping_ ? 0 : position_;
    int32_t l0, r0, l1, r1;
    fetch(position_, l0, r0);
    fetch(next, l1, r1);
    const int32_t f = int32_t(fraction_ >> 17);  // 15-bit fraction
    const int32_t l = l0 + (((l1 - l0) * f) >> 15);
    const int32_t r = r0 + (((r1 - r0) * f) >> 15);
    acc[2 * n] += int32_t((l * gain) >> 15);
    acc[2 * n + 1] += int32_t((r * gain) >> 15);
    const uint64_t advanced = uint64_t(fraction_) + step_;
    fraction_ = uint32_t(advanced);
    const uint64_t whole = advanced >> 32;
    since_play_ += whole;
    const uint64_t pos = uint64_t(position_) + whole;
    if (pos >= frame_count_) {
      if (!looping_) {
        StopAtEnd();
        return;
      }
      position_ = uint32_t(pos % frame_count_);
    } else {
      position_ = uint32_t(pos);
    }
  }
}

void TSndBuffer::MixInto(int32_t* acc, uint32_t frames) {
  const uint8_t* d = data_.data();
  const bool stereo = format_.Channels == 2;
  if (format_.BitsPerSample == 16 && stereo && format_.SamplesPerSec == kOutputRate) {
    // The output format itself: no interpolation, samples added as they are
    // at 0 dB.
    const int64_t gain = gain_q15_;
    const int16_t* s = reinterpret_cast<const int16_t*>(d);
    uint32_t n = 0;
    while (n < frames) {
      uint32_t run = std::min(frames - n, frame_count_ - position_);
      bool locked = false;
      if (!locked_.empty()) run = UniformRun(position_, run, locked);
      const int16_t* src = s + size_t(position_) * 2;
      int32_t* dst = acc + size_t(n) * 2;
      if (locked) {
        // Being written: silence.
        device_->late_frames_ += run;
      } else if (gain == 32768) {
        for (uint32_t i = 0; i < run * 2; ++i) dst[i] += src[i];
      } else {
        for (uint32_t i = 0; i < run * 2; ++i) dst[i] += int32_t((src[i] * gain) >> 15);
      }
      n += run;
      since_play_ += run;
      position_ += run;
      if (position_ >= frame_count_) {
        if (!looping_) {
          StopAtEnd();
          return;
        }
        position_ = 0;
      }
    }
    return;
  }
  // Frames in a locked region are being written: they read as silence.
  auto mix = [&](auto fetch) {
    if (locked_.empty()) {
      MixResampled(acc, frames, fetch);
      return;
    }
    MixResampled(acc, frames, [&](uint32_t i, int32_t& l, int32_t& r) {
      if (FrameLocked(i)) {
        l = r = 0;
        ++device_->late_frames_;
      } else {
        fetch(i, l, r);
      }
    });
  };
  if (format_.BitsPerSample == 16) {
    const int16_t* s = reinterpret_cast<const int16_t*>(d);
    if (stereo)
      mix([s](uint32_t i, int32_t& l, int32_t& r) { l = s[2 * i], r = s[2 * i + 1]; });
    else
      mix([s](uint32_t i, int32_t& l, int32_t& r) { l = r = s[i]; });
  } else {
    if (stereo)
      mix([d](uint32_t i, int32_t& l, int32_t& r) {
        l = (int32_t(d[2 * i]) - 128) << 8, r = (int32_t(d[2 * i + 1]) - 128) << 8;
      });
    else
      mix([d](uint32_t i, int32_t& l, int32_t& r) { l = r = (int32_t(d[i]) - 128) << 8; });
  }
}

}  // namespace kav
