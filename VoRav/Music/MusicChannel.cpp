#include "VoRav/Music/MusicChannel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {

std::atomic<TExternalSourceHook> g_source_hook{nullptr};
std::atomic<TMediaInfoHook> g_info_hook{nullptr};
std::atomic<TConverterHook> g_converter_hook{nullptr};

}  // namespace

void SetMusicHooks(TExternalSourceHook source, TMediaInfoHook info, TConverterHook converter) {
  g_source_hook.store(source);
  g_info_hook.store(info);
  g_converter_hook.store(converter);
}
TExternalSourceHook ExternalSourceHook() { return g_source_hook.load(); }
TMediaInfoHook MediaInfoHook() { return g_info_hook.load(); }
TConverterHook ConverterHook() { return g_converter_hook.load(); }

std::recursive_mutex& TMusicChannel::OwnerLock() {
  static std::recursive_mutex lock;
  return lock;
}

TMusicChannel::TMusicChannel(TChannelMusic* owner, const TMediaInfo& info, TWaveOutDevice* device)
    : owner_(owner), device_(device), info_(info) {}

void TMusicChannel::Dispose() {
  // The buffer first: its refill thread calls back into this pass.
  buffer_ = nullptr;
  converter_ = nullptr;
  if (stream_) CloseMusicStream(std::move(stream_), close_);
  TRefObject::Dispose();
}

bool TMusicChannel::OpenSource(const std::u16string& name) {
  if (!owner_ || !device_) return false;
  const TMusicOpenHandler& open = owner_->OpenHandler();
  close_ = owner_->CloseHandler();
  TExternalSourceHook source_hook = g_source_hook.load();
  if (!(source_hook && source_hook(name))) {
    const std::u16string file = MusicFileName(name);
    if (info_.Filled && info_.FormatCode == kMediaMpeg && info_.DataOffset != 0) {
      // The stream then starts at the first frame.
      stream_ = OpenShiftedMusicStream(file, info_.DataOffset, open);
      info_.DataOffset = 0;
    } else {
      stream_ = OpenMusicStream(file, open);
    }
    if (!stream_) return false;
  }
  TConverterHook converter_hook = g_converter_hook.load();
  converter_ = !stream_ && converter_hook ? converter_hook(name, open, close_) : CreateConverter(name, info_);
  if (!converter_) return false;
  converter_->SetStream(stream_);
  try {
    if (!converter_->SetInputFormat(info_)) return false;
  } catch (const Exception&) {
    return false;
  }
  // The buffer takes the converter's output format: resampled sources come
  // out as the system's output format, others as their own 8- or 16-bit PCM.
  out_ = converter_->OutputFormat();
  buffer_ = device_->CreateBuffer(out_);
  if (!buffer_) return false;
  fill_buffer_ = buffer_.get();
  buffer_->FirstFill = TWaveOutBuffer::TFillCallback::Bind<&TMusicChannel::OnFirstFill>(this);
  buffer_->RestartFill = TWaveOutBuffer::TFillCallback::Bind<&TMusicChannel::OnRestartFill>(this);
  buffer_->RegularFill = TWaveOutBuffer::TFillCallback::Bind<&TMusicChannel::OnRegularFill>(this);
  return true;
}

void TMusicChannel::SetStartPosition(uint32_t ms) {
  // Only a pass that has not started can be positioned.
  if (state_.load() != kReady || !converter_ || !buffer_) {
    LogLine(u"Music channel: start position of a pass that already started");
    return;
  }
  start_offset_ = ms;
  converter_->Seek(ms);
  const uint32_t n = buffer_->GetFirstFillSize();
  pre_buffer_.resize(n);
  pre_real_ = TakeData(pre_buffer_.data(), n);
  end_of_data_.store(pre_real_ < n);
  have_pre_buffer_ = true;
}

void TMusicChannel::SetLoop(uint32_t from_ms) {
  if (state_.load() != kReady || !converter_) return;
  looping_ = true;
  loop_from_ = from_ms;
  // The first block already ran out of data: it goes on from the loop start.
  if (have_pre_buffer_ && pre_real_ < pre_buffer_.size()) {
    converter_->Seek(loop_from_);
    pre_real_ += TakeData(pre_buffer_.data() + pre_real_, pre_buffer_.size() - pre_real_);
    end_of_data_.store(pre_real_ < pre_buffer_.size());
  }
}

size_t TMusicChannel::TakeData(uint8_t* dst, size_t bytes) {
  size_t done = 0;
  // Each loop gives data, or looping stops: a loop that yields nothing (or
  // thousands within one block) would spin here for ever.
  bool sought = false;
  for (int loops = 0; done < bytes; ++loops) {
    const size_t want = bytes - done;
    converter_->Fill(want);
    const size_t real = std::min<size_t>(converter_->RealBytes(), want);
    std::memcpy(dst + done, converter_->Output().Data(), want);  // data, then silence
    converter_->Output().Consume(want);
    done += real;
    if (real == want || !looping_ || (real == 0 && sought) || loops >= 1000) break;
    converter_->Seek(loop_from_);
    sought = true;
  }
  return done;
}

int64_t TMusicChannel::Position() {
  const int64_t lead_ms = out_.AvgBytesPerSec ? int64_t(lead_bytes_) * 1000 / out_.AvgBytesPerSec : 0;
  const int64_t at = std::max<int64_t>((buffer_ ? buffer_->GetPlayedMs() : 0) - lead_ms, 0) + start_offset_;
  // A looping pass is somewhere within its loop.
  const int64_t length = int64_t(info_.Duration) - loop_from_;
  if (looping_ && length > 0 && at >= int64_t(info_.Duration)) return loop_from_ + (at - loop_from_) % length;
  return at;
}

void TMusicChannel::Play(uint32_t fade_ms, uint32_t lead_ms) {
  if (!buffer_) return;
  if (!have_pre_buffer_) SetStartPosition(0);
  const uint32_t align = std::max<uint32_t>(out_.BlockAlign, 1);
  lead_bytes_ = std::min<uint32_t>(uint32_t(uint64_t(lead_ms) * out_.AvgBytesPerSec / 1000), 
                                   buffer_->GetFirstFillSize() / 2);
  lead_bytes_ -= lead_bytes_ % align;
  state_.store(kPlaying);
  const uint32_t steps = std::max<uint32_t>(uint32_t(uint64_t(fade_ms) * out_.SamplesPerSec / 1000), 1);
  gain_.store(0.0f);
  gain_step_.store(1.0f / float(steps));
  fade_in_running_.store(true);
  buffer_->StartThread();
}

void TMusicChannel::Stop(uint32_t fade_ms) {
  const uint32_t steps = std::max<uint32_t>(uint32_t(uint64_t(fade_ms) * out_.SamplesPerSec / 1000), 1);
  auto begin_fade = [this, steps] {
    restart_gain_.store(gain_.load());
    fade_out_steps_.store(steps);
    fade_in_running_.store(false);
    gain_step_.store(1.0f / float(steps));
    state_.store(kStopping);
    recompute_.store(true);
  };
  // Departure: the stop's fields are set under the ring lock, just before
  // the restart, so the fade begins where the restart begins and never in a
  // regular fill that runs meanwhile (two seconds ahead of the cursor).
  if (buffer_) buffer_->RequestRestart(begin_fade);
  else begin_fade();
}

void TMusicChannel::SetOutputVolume(float volume) {
  if (buffer_) buffer_->SetVolume(volume);
}

void TMusicChannel::OnFirstFill(TWaveOutBuffer*, uint8_t* dst, uint32_t bytes) {
  const uint8_t silence = out_.BitsPerSample == 8 ? 128 : 0;
  const uint32_t lead = std::min(lead_bytes_, bytes);
  std::memset(dst, silence, lead);
  const uint32_t n = std::min<uint32_t>(bytes - lead, uint32_t(pre_buffer_.size()));
  CopyWithGain(dst + lead, pre_buffer_.data(), n);
  if (lead + n < bytes) std::memset(dst + lead + n, silence, bytes - lead - n);
  carry_.assign(pre_buffer_.begin() + n, pre_buffer_.end());
  pre_buffer_.clear();
  pre_buffer_.shrink_to_fit();
  // The data ends inside the first block: the stop is due at its last byte;
  // when it ends in the carried part, the regular fill that plays it stops.
  carry_real_ = SIZE_MAX;
  if (pre_real_ <= n && end_of_data_.load()) ScheduleStop(uint32_t(lead + pre_real_));
  else if (end_of_data_.load()) carry_real_ = pre_real_ - n;
}

void TMusicChannel::OnRegularFill(TWaveOutBuffer*, uint8_t* dst, uint32_t bytes) {
  if (!converter_) return;
  // A stopped pass whose fade-out has ended is silent from here on: nothing
  // more is decoded (a stop fills the space behind its fade on the stopping
  // thread).
  if (state_.load() == kStopping && fade_out_running_.load() && gain_.load() <= 0.0f) {
    std::memset(dst, out_.BitsPerSample == 8 ? 128 : 0, bytes);
    return;
  }
  // What the lead pushed out of the first fill goes first.
  uint32_t used = 0;
  if (!carry_.empty()) {
    const uint32_t n = std::min<uint32_t>(bytes, uint32_t(carry_.size()));
    CopyWithGain(dst, carry_.data(), n);
    carry_.erase(carry_.begin(), carry_.begin() + n);
    if (carry_real_ != SIZE_MAX) {
      if (carry_real_ <= n) {
        ScheduleStop(uint32_t(carry_real_));
        carry_real_ = SIZE_MAX;
        carry_.clear();
        std::memset(dst + n, out_.BitsPerSample == 8 ? 128 : 0, bytes - n);
        return;
      }
      carry_real_ -= n;
    }
    used = n;
    dst += n;
    bytes -= n;
    if (bytes == 0) return;
  }
  const size_t real = TakeData(dst, bytes);
  CopyWithGain(dst, dst, bytes);
  // The stop is due where the data ran out, not after the silence that
  // pads the block.
  if (real < bytes) {
    end_of_data_.store(true);
    ScheduleStop(uint32_t(used + real));
  }
}

void TMusicChannel::OnRestartFill(TWaveOutBuffer*, uint8_t* dst, uint32_t bytes) {
  // Departure: the fade starts from the gain the stop found, and the stop's
  // release is computed again, each time: the buffer makes its restart once
  // more, further on, when the device read into it meanwhile.
  gain_.store(restart_gain_.load());
  recompute_.store(true);
  fade_in_running_.store(false);
  // A restart that was not written: the fade begins in the next fill.
  if (bytes == 0) return;
  fade_out_running_.store(true);
  CopyWithGain(dst, dst, bytes);
}

void TMusicChannel::CopyWithGain(uint8_t* dst, const uint8_t* src, uint32_t bytes) {
  if (fade_out_steps_.load() != 0) {
    fade_out_running_.store(true);
    fade_in_running_.store(false);
  }
  const uint32_t align = std::max<uint32_t>(out_.BlockAlign, 1);
  const int channels = std::max<int>(out_.Channels, 1);
  float gain = gain_.load();
  const float step = gain_step_.load();
  // The idle hook is not called per sample frame here: the converter calls
  // the load callback once per decoded chunk.
  uint32_t at = 0;
  for (; at + align <= bytes; at += align) {
    const bool in = fade_in_running_.load(std::memory_order_relaxed);
    const bool out = fade_out_running_.load(std::memory_order_relaxed);
    if (!in && !out) break;
    if (in) {
      gain += step;
      if (gain >= 1.0f) {
        gain = 1.0f;
        fade_in_running_.store(false);
      }
    } else {
      gain -= step;
      if (gain <= 0.0f) {
        // The fade-out has ended: the rest of the block is silence.
        gain = 0.0f;
        ScheduleStop(at);
        std::memset(dst + at, out_.BitsPerSample == 8 ? 128 : 0, bytes - at);
        at = bytes;
        break;
      }
    }
    for (int c = 0; c < channels; ++c) {
      if (out_.BitsPerSample == 16) {
        int16_t s;
        std::memcpy(&s, src + at + 2 * c, 2);
        const int16_t v = int16_t(std::lround(double(s) * gain));
        std::memcpy(dst + at + 2 * c, &v, 2);
      } else {
        const int32_t s = src[at + c];
        dst[at + c] = uint8_t(s > 128 ? 128 + std::lround((s - 128) * double(gain))
                                      : 128 - std::lround((128 - s) * double(gain)));
      }
    }
  }
  gain_.store(gain);
  // The rest of the block: as it is (the fade has ended) or silent (the
  // fade-out has reached 0).
  if (at < bytes && src != dst) std::memcpy(dst + at, src + at, bytes - at);
}

bool TMusicChannel::StopHeard(uint32_t now) {
  const int64_t deadline = deadline_.load();
  if (deadline < 0) return false;
  const int64_t since = int64_t(uint32_t(now - stop_tick_.load()));
  if (since <= deadline) return false;
  // Departure: the deadline alone is the clock's time, while the device may
  // not have mixed as far (its thread waiting for a core on a loaded
  // machine): a pass let go then was silent from the next mix on, a cut
  // from full level where its fade-out was due. It goes once the device
  // has read past the fade-out's end, or when a device that mixes nothing
  // has kept it kMixWaitMs past the deadline.
  if (since > deadline + kMixWaitMs) return true;
  TWaveOutBuffer* buffer = buffer_.get();
  return !buffer || buffer->FramesRead() >= stop_frames_.load();
}

void TMusicChannel::ScheduleStop(uint32_t byte_in_block) {
  const bool first = deadline_.load() == -1;
  if (first || recompute_.load()) {
    const double played = double(fill_buffer_ ? fill_buffer_->GetQueuedBytes() : 0) + byte_in_block;
    int64_t deadline = std::llround(played / std::max<uint32_t>(out_.AvgBytesPerSec, 1) * 1000);
    if (deadline < 1) deadline += 2000;
    deadline += 20;
    stop_frames_.store(fill_buffer_ ? fill_buffer_->FramesReadAt(byte_in_block) : 0);
    stop_tick_.store(AudioTimeMs());
    deadline_.store(deadline);
    // This runs on the refill thread, which holds no reference: when the
    // last one is already gone, the pass is being freed (its Dispose waits
    // for this thread) and must not be revived and handed to the killer.
    if (first && RefTryAddRef(this)) ChannelKillerAdd(Ref<TMusicChannel>::Adopt(this));
  }
  recompute_.store(false);
}

}  // namespace kav
