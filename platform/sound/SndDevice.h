// The DirectSound-subset sound device: secondary buffers in any PCM format
// mixed into the system's output format (44,100 Hz, stereo, 16 bits).
//
// A device is made by the installed backend (SndCreateDevice): the SDL2
// audio device (platform/sound/sdl) or the null device (platform/sound/null)
// whose output follows a clock of the caller's. Buffers hold 8- or 16-bit
// PCM, 1 or 2 channels, at any rate from 100 to 384,000 Hz; the mixer
// converts channels and widths and resamples linearly to the output rate.
//
// Every call may come from any thread. The device's lock is held only inside
// a call (and while the backend mixes); Lock hands out pointers into the
// buffer's memory that stay valid until the buffer is freed, and the caller
// writes there without the lock, as DirectSound callers do. Until Unlock the
// mixer does not read a locked region: frames it reaches there sound as
// silence (a refill that came too late) instead of half-written data, and
// Unlock takes the lock, so what was written is published to the mixer.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "VoRav/SysObj2.h"
#include "platform/sound/SndTypes.h"

namespace kav {

class TSndBuffer;

class TSndDevice : public TRefObject {
 public:
  TSndDevice() = default;

  // Any level from normal to write-primary is taken; 0 or a larger value is
  // kSndErrInvalidParam. The window is not used (there is no focus here).
  TSndResult SetCooperativeLevel(void* window, uint32_t level);
  // A secondary buffer of BufferBytes (a multiple of the block alignment,
  // kSndBufferMinBytes..kSndBufferMaxBytes) in the given PCM format, filled
  // with silence, stopped at position 0. kSndErrPrioLevelNeeded before a
  // cooperative level was set; kSndErrBadFormat for a format the mixer does
  // not take; kSndErrInvalidParam for a bad description or a primary buffer.
  TSndResult CreateSoundBuffer(const TSndBufferDesc& desc, Ref<TSndBuffer>& buffer);

  // Mixes the next `frames` output frames of every playing buffer into `out`
  // (interleaved stereo); advances their play positions. Called by backends.
  void Render(int16_t* out, uint32_t frames);
  // Output frames mixed so far.
  uint64_t RenderedFrames();
  // Milliseconds of mixed output the device has not played yet: a buffer
  // started now is heard this much after the play cursors' present time.
  double LatencyMs();
  // Buffer frames the mixer read inside a region still locked (a resampled
  // frame counts once per read), which sounded as silence: a refill came
  // too late. Tests tell by it a run in which the machine did not let the
  // writer keep up with the device.
  uint64_t LateFrames();
  // Test hook: every buffer becomes lost (stopped; Play and Lock answer
  // kSndErrBufferLost until Restore).
  void LoseBuffers();

 protected:
  // Called with the device lock held at the start of every buffer call: the
  // null backend mixes up to its clock here.
  virtual void AdvanceLocked() {}
  // Output frames mixed but not yet heard (the device's latency now); called
  // with the lock held.
  virtual uint32_t UnheardFramesLocked() { return 0; }
  // Mixes with the lock held.
  void RenderLocked(int16_t* out, uint32_t frames);
  uint64_t RenderedLocked() const { return rendered_; }

  std::recursive_mutex lock_;

 private:
  friend class TSndBuffer;
  bool cooperative_ = false;
  uint64_t rendered_ = 0;
  uint64_t late_frames_ = 0;
  std::vector<TSndBuffer*> buffers_;
  std::vector<int32_t> accumulators_;
};

class TSndBuffer : public TRefObject {
 public:
  // Two regions of the ring from `offset` (or from the write cursor) for
  // `bytes` (or the whole buffer): the second one is used when the first
  // reaches the end. Region pointers point into the buffer's memory.
  TSndResult Lock(uint32_t offset, uint32_t bytes, void** ptr1, uint32_t* bytes1, void** ptr2, uint32_t* bytes2,
                  uint32_t flags);
  // Pointers must be those Lock gave (or null); releases the regions Lock
  // handed out at those pointers to the mixer.
  TSndResult Unlock(void* ptr1, uint32_t bytes1, void* ptr2, uint32_t bytes2);
  // Copies `bytes` of the ring from `offset` (wrapping round its end) into
  // `dst`.
  TSndResult Read(uint32_t offset, uint32_t bytes, void* dst);
  // Replaces `bytes` of the ring from `offset` (wrapping) with `src` in one
  // step under the device lock, so that the mixer reads either all of the
  // old data there or all of the new, and never silence in its place (as it
  // does inside a locked region). kSndErrInvalidCall, writing nothing, when
  // the mixer's next frame lies past `offset` inside that range: part of
  // the old data has been read already.
  TSndResult WriteUnread(uint32_t offset, const void* src, uint32_t bytes);
  // Starts playing from the current position; kSndPlayLooping repeats the
  // ring, else playing stops at its end.
  TSndResult Play(uint32_t reserved, uint32_t priority, uint32_t flags);
  TSndResult Stop();
  // The play cursor (what has been heard) and the write cursor (the first byte
  // the mixer has not read yet), both in bytes; either pointer may be null.
  TSndResult GetCurrentPosition(uint32_t* play, uint32_t* write);
  TSndResult SetCurrentPosition(uint32_t position);
  // Frames the mixer has read since Play (a resampled frame once), and in
  // `next` the byte it reads next (the write cursor), taken together.
  uint64_t FramesRead(uint32_t* next = nullptr);
  // Hundredths of a decibel, kSndVolumeMin..kSndVolumeMax; needs
  // kSndCapsCtrlVolume.
  TSndResult SetVolume(int32_t volume);
  TSndResult GetVolume(int32_t* volume);
  // Makes a lost buffer usable again (its memory is silence again).
  TSndResult Restore();
  bool IsPlaying();

  uint32_t SizeBytes() const { return size_; }
  const TWaveFormat& Format() const { return format_; }

 protected:
  void Dispose() override;

 private:
  friend class TSndDevice;
  TSndBuffer(TSndDevice* device, const TSndBufferDesc& desc);
  // Adds `frames` output frames of this buffer into the accumulators.
  void MixInto(int32_t* acc, uint32_t frames);
  template <typename Fetch>
  void MixResampled(int32_t* acc, uint32_t frames, Fetch fetch);
  void StopAtEnd();
  // A frame inside a region handed out by Lock and not yet unlocked.
  bool FrameLocked(uint32_t frame) const;
  // Frames from `frame` on (1..limit) that are all locked or all readable;
  // `locked` tells which.
  uint32_t UniformRun(uint32_t frame, uint32_t limit, bool& locked) const;
  void AddLockedRegion(uint32_t offset, uint32_t bytes);
  void ReleaseLockedRegion(uint32_t offset);

  Ref<TSndDevice> device_;
  TWaveFormat format_;
  uint32_t flags_;
  uint32_t size_;
  uint32_t frame_count_;
  std::vector<uint8_t> data_;
  // Regions handed out by Lock, in frames [first, end), with the byte offset
  // Unlock names them by; guarded by the device lock. A caller that never
  // unlocks cannot grow it past kMaxLockedRegions (the oldest goes).
  struct TLockedRegion {
    uint32_t offset;
    uint32_t first;
    uint32_t end;
  };
  static constexpr size_t kMaxLockedRegions = 8;
  std::vector<TLockedRegion> locked_;
  bool playing_ = false;
  bool looping_ = false;
  bool lost_ = false;
  uint32_t position_ = 0;     // frame the mixer reads next
  uint32_t fraction_ = 0;     // fractional frame, 32-bit fixed point
  uint64_t step_;             // source frames per output frame, 32.32 fixed point
  uint64_t since_play_ = 0;   // source frames mixed since Play
  int32_t volume_ = 0;
  int32_t gain_q15_ = 32768;  // linear gain, 32768 = 0 dB
};

// The backend: made once at start-up. Returns null when no backend is
// installed or the backend has no device (the "sound library missing" case).
using TSndDeviceFactory = Ref<TSndDevice> (*)();
TSndDeviceFactory SetSndDeviceFactory(TSndDeviceFactory factory);
Ref<TSndDevice> SndCreateDevice();

// Hundredths of a decibel as a gain with 32768 = 0 dB (rounded).
int32_t SndGainQ15(int32_t volume);

}  // namespace kav
