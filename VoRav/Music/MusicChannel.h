// One decoding pass over a sound file: the converter's PCM streamed into its
// own output buffer under a gain that fades in at Play and out at Stop. A
// stopped pass keeps playing until its fade-out has been heard; the channel
// killer then hands it back to its owner.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "VoRav/Music/MusicClasses.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/Music/winWavConverters.h"
#include "VoRav/Music/winWaveOutBuffer.h"

namespace kav {

class TChannelMusic;

class TMusicChannel : public TRefObject {
 public:
  enum : uint8_t { kReady = 0, kPlaying = 1, kStopping = 2 };

  TMusicChannel(TChannelMusic* owner, const TMediaInfo& info, TWaveOutDevice* device);

  // Opens the file (or nothing for an external source), makes the converter
  // and the output buffer in the converter's output format. False when any
  // of them cannot be had.
  bool OpenSource(const std::u16string& name);
  // Positions a ready pass at `ms` and decodes the first block ahead.
  void SetStartPosition(uint32_t ms);
  // A looping pass goes on from `from_ms` of the file each time its data
  // ends, sample for sample, and never ends by itself. Set before the pass
  // plays (a pass already positioned carries its first block on across the
  // loop).
  void SetLoop(uint32_t from_ms);
  bool Looping() const { return looping_; }
  // ms of the file heard so far.
  int64_t Position();
  // `lead_ms` of silence come first, so that a pass started a little early
  // is heard exactly at its time.
  void Play(uint32_t fade_ms, uint32_t lead_ms = 0);
  void Stop(uint32_t fade_ms);
  void SetOutputVolume(float volume);

  uint8_t State() const { return state_.load(); }
  bool EndOfData() const { return end_of_data_.load(); }
  // The stop has been heard at `now` (the audio clock): its deadline has
  // passed and the device has mixed the fade-out to its end, so letting the
  // pass go cuts nothing.
  bool StopHeard(uint32_t now);
  // How long past its deadline a pass waits for a device that mixes
  // nothing (a lost buffer, a device gone) before it goes all the same.
  static constexpr int64_t kMixWaitMs = 2000;
  // The owner, or null once it let go of this pass. Read under OwnerLock.
  TChannelMusic* Owner() const { return owner_; }
  void DetachOwner() { owner_ = nullptr; }
  static std::recursive_mutex& OwnerLock();

 protected:
  void Dispose() override;

 private:
  void OnFirstFill(TWaveOutBuffer* sender, uint8_t* dst, uint32_t bytes);
  void OnRegularFill(TWaveOutBuffer* sender, uint8_t* dst, uint32_t bytes);
  void OnRestartFill(TWaveOutBuffer* sender, uint8_t* dst, uint32_t bytes);
  void CopyWithGain(uint8_t* dst, const uint8_t* src, uint32_t bytes);
  // `bytes` of the converter's PCM into `dst`, going on from the loop start
  // where the data ends when looping; the rest is silence. The bytes that
  // are data.
  size_t TakeData(uint8_t* dst, size_t bytes);
  void ScheduleStop(uint32_t byte_in_block);

  TChannelMusic* owner_;
  Ref<TWaveOutDevice> device_;
  Ref<TWaveOutBuffer> buffer_;
  // The same buffer for its fill callbacks, which run on its refill thread:
  // set before that thread starts and never changed, while buffer_ is
  // cleared by Dispose as the thread may still be in a fill. The buffer
  // outlives its callbacks (it ends its thread before it goes).
  TWaveOutBuffer* fill_buffer_ = nullptr;
  Ref<TStream> stream_;
  TMusicCloseHandler close_;
  Ref<TWavConverter> converter_;
  TMediaInfo info_;
  TWaveFormat out_{};
  std::atomic<uint8_t> state_{kReady};
  std::atomic<int64_t> deadline_{-1};  // -1 while no stop is scheduled
  std::atomic<uint32_t> stop_tick_{0};
  // The buffer's FramesRead once the stop's last sound has been mixed.
  std::atomic<uint64_t> stop_frames_{0};
  std::atomic<bool> recompute_{false};
  std::atomic<bool> end_of_data_{false};
  // Written by the caller's thread and the refill thread.
  std::atomic<float> gain_{1.0f};
  std::atomic<float> gain_step_{0.0f};
  // The gain when the stop came: every restart fill fades from it.
  std::atomic<float> restart_gain_{1.0f};
  std::atomic<uint32_t> fade_out_steps_{0};
  std::atomic<bool> fade_out_running_{false};
  std::atomic<bool> fade_in_running_{false};
  uint32_t start_offset_ = 0;
  bool looping_ = false;
  uint32_t loop_from_ = 0;  // ms of the file
  std::vector<uint8_t> pre_buffer_;
  // Decoded bytes that did not fit the first fill behind the lead.
  std::vector<uint8_t> carry_;
  uint32_t lead_bytes_ = 0;
  size_t carry_real_ = SIZE_MAX;
  size_t pre_real_ = 0;
  bool have_pre_buffer_ = false;
};

// The hooks of composite descriptions (installed by the composite module):
// names that need no stream, their media information and their converter.
using TExternalSourceHook = bool (*)(const std::u16string& name);
using TMediaInfoHook = bool (*)(const std::u16string& name, TMediaInfo& info);
// The converter hook opens the pieces of the description through the
// channel's stream handlers.
using TConverterHook = Ref<TWavConverter> (*)(const std::u16string& name, const TMusicOpenHandler& open,
                                              const TMusicCloseHandler& close);
void SetMusicHooks(TExternalSourceHook source, TMediaInfoHook info, TConverterHook converter);
TExternalSourceHook ExternalSourceHook();
TMediaInfoHook MediaInfoHook();
TConverterHook ConverterHook();

}  // namespace kav
