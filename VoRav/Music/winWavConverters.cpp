#include "VoRav/Music/winWavConverters.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "VoRav/Music/vxAdpcmConverter.h"
#include "VoRav/Music/vxDllConverter.h"
#include "VoRav/Music/vxDllDec.h"
#include "VoRav/Music/vxMpegConverter.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {
// The most output frames one resampled chunk may give.
constexpr uint32_t kMaxResampledFrames = 65536;
}  // namespace

// ---------------------------------------------------------------------------
// Buffer

void TLocalBuffer::Reserve(size_t n) {
  if (FreeSpace() < n) data_.resize(used_ + n);
}

void TLocalBuffer::Append(const void* bytes, size_t n) {
  if (n == 0) return;
  Reserve(n);
  std::memcpy(data_.data() + used_, bytes, n);
  used_ += n;
}

void TLocalBuffer::Consume(size_t n) {
  n = std::min(n, used_);
  if (n == 0) return;
  std::memmove(data_.data(), data_.data() + n, used_ - n);
  used_ -= n;
}

// ---------------------------------------------------------------------------
// Resampler

TPcmResampler::TPcmResampler(const TWaveFormat& input, const TWaveFormat& output)
    : in_(input), out_(output), ratio_(double(input.SamplesPerSec) / double(output.SamplesPerSec)) {}

void TPcmResampler::Reset() {
  position_ = 0;
  primed_ = false;
  std::memset(history_, 0, sizeof history_);
}

// One input frame as a 16-bit pair.
void TPcmResampler::Frame(const uint8_t* p, int32_t& l, int32_t& r) const {
  const int bytes = in_.BitsPerSample / 8;
  auto sample = [&](int c) -> int32_t {
    const uint8_t* s = p + c * bytes;
    switch (in_.BitsPerSample) {
      case 8: return (int32_t(s[0]) - 128) * 256;
      case 16: return int16_t(s[0] | s[1] << 8);
      case 24: return int16_t(s[1] | s[2] << 8);  // the upper 16 bits
      case 32:
        if (in_.FormatTag == kWaveFormatFloat) {
          float f;
          std::memcpy(&f, s, 4);
          if (!(f == f)) return 0;  // NaN is silence
          return int32_t(std::lround(std::clamp(double(f) * 32767.0, -32768.0, 32767.0)));
        }
        // 32-bit integers are integers: their upper 16 bits.
        return int16_t(s[2] | s[3] << 8);
      default: return 0;
    }
  };
  if (in_.Channels == 1) {
    l = r = sample(0);
  } else if (in_.Channels == 6) {
    // The four-channel sums can exceed 16 bits: clamped, never wrapped.
    l = std::clamp(sample(0) + sample(1) + sample(3) + sample(5), -32768, 32767);
    r = std::clamp(sample(1) + sample(2) + sample(4) + sample(5), -32768, 32767);
  } else {
    l = sample(0);
    r = sample(1);
  }
}

template <typename Sample>
uint8_t* TPcmResampler::Emit(uint8_t* w, Sample sample, double x) const {
  // The three-point interpolation over samples 0, 1, 2 at x (1 <= x < 2).
  int32_t v[2];
  for (int side = 0; side < 2; ++side) {
    const double s0 = sample(0, side), s1 = sample(1, side), s2 = sample(2, side);
    const double sum = s0 * (x - 1) * (x - 2) + 2 * s1 * x * (2 - x) + s2 * x * (x - 1);
    v[side] = int32_t(std::clamp(std::trunc(sum / 2), -32768.0, 32767.0));
  }
  if (out_.Channels == 1) {
    const int32_t m = (v[0] + v[1]) / 2;
    if (out_.BitsPerSample == 8)
      *w++ = uint8_t(m / 256 + 128);
    else
      *w++ = uint8_t(m), *w++ = uint8_t(m >> 8);
  } else {
    for (int side = 0; side < 2; ++side) {
      if (out_.BitsPerSample == 8)
        *w++ = uint8_t(v[side] / 256 + 128);
      else
        *w++ = uint8_t(v[side]), *w++ = uint8_t(v[side] >> 8);
    }
  }
  return w;
}

void TPcmResampler::Flush(TLocalBuffer& out) {
  // Departure: the output samples at the positions of the last input frame
  // and before the next one wait for that next frame; at the end of the
  // data they are made with the last frames' slope carried on (the sound's
  // own course over less than a frame). Left out, they were as many samples
  // of silence where the next sound joins this one (2 after 22,050 Hz, 4
  // after 11,025 Hz).
  int64_t count = 0;
  for (double p = position_; p < 0; p += ratio_) ++count;
  if (count == 0) return;
  out.Reserve(size_t(count) * out_.BlockAlign);
  uint8_t* w = out.WritePtr();
  auto sample = [this](int k, int side) {
    const double older = history_[0][side], last = history_[1][side];
    return k == 0 ? older : k == 1 ? last : 2 * last - older;
  };
  for (int64_t n = 0; n < count; ++n, position_ += ratio_) w = Emit(w, sample, 2.0 + position_);
  out.Commit(size_t(count) * out_.BlockAlign);
}

void TPcmResampler::Process(const uint8_t* in, size_t bytes, TLocalBuffer& out) {
  const size_t align = in_.BlockAlign;
  if (align == 0) return;
  const int64_t frames = int64_t(bytes / align);
  const int out_bytes = out_.BlockAlign;
  // Output frames of this block, counted with the same stepping.
  int64_t count = 0;
  for (double p = position_; int64_t(std::floor(p)) + 1 < frames; p += ratio_) ++count;
  out.Reserve(size_t(count) * out_bytes);
  uint8_t* w = out.WritePtr();
  auto at = [&](int64_t k, int side) -> int32_t {
    if (k < 0) return history_[k == -1 ? 1 : 0][side];
    int32_t l, r;
    Frame(in + size_t(k) * align, l, r);
    return side == 0 ? l : r;
  };
  if (!primed_ && frames > 0) {
    // Departure: the frames before the first one carry on the first ones'
    // slope rather than being silence, so that the samples between the
    // first two frames lie on the sound's own course: silence there pulled
    // them toward 0 (a click where a sound of another rate joins the one
    // before it).
    primed_ = true;
    for (int side = 0; side < 2; ++side) {
      const int32_t first = at(0, side), slope = frames > 1 ? at(1, side) - first : 0;
      history_[1][side] = std::clamp(first - slope, -32768, 32767);
      history_[0][side] = std::clamp(first - 2 * slope, -32768, 32767);
    }
  }
  int64_t produced = 0;
  while (produced < count) {
    const int64_t index = int64_t(std::floor(position_)) + 1;
    w = Emit(w, [&](int64_t k, int side) { return double(at(index - 2 + k, side)); }, 2.0 + position_ - double(index));
    ++produced;
    position_ += ratio_;
  }
  out.Commit(size_t(produced) * out_bytes);
  // Carry the last two frames and the position over to the next block.
  if (frames >= 2) {
    for (int side = 0; side < 2; ++side) {
      history_[0][side] = at(frames - 2, side);
      history_[1][side] = at(frames - 1, side);
    }
  } else if (frames == 1) {
    for (int side = 0; side < 2; ++side) {
      history_[0][side] = history_[1][side];
      history_[1][side] = at(0, side);
    }
  }
  position_ -= double(frames);
}

// ---------------------------------------------------------------------------
// Plain PCM

TWavConverter::TWavConverter() : input_(MakeRef<TLocalBuffer>()), output_(MakeRef<TLocalBuffer>()) {}

bool TWavConverter::SetInputFormat(const TMediaInfo& info) {
  info_ = info;
  const TWaveFormat& f = info.Format;
  if (f.BlockAlign == 0 || f.AvgBytesPerSec == 0 || f.Channels == 0) return false;
  chunk_ = f.BitsPerSample == 24 ? 12288 : 4096;
  // Whole frames per chunk, so no frame is split between two chunks.
  chunk_ -= chunk_ % f.BlockAlign;
  if (chunk_ == 0) chunk_ = f.BlockAlign;
  input_->Format = f;
  output_->Format = f;
  input_->Reserve(chunk_);
  output_->Reserve(chunk_);
  // Float, 24- and 32-bit sources and more than two channels are resampled to
  // the output format; the channel's buffer then takes that format too.
  if (info.FormatCode == kMediaFloat || f.BitsPerSample == 24 || f.BitsPerSample == 32 || f.Channels > 2) {
    if (f.SamplesPerSec == 0) return false;  // nothing to step by
    resampler_ = std::make_unique<TPcmResampler>(f, kOutputWaveFormat);
    output_->Format = kOutputWaveFormat;
    // A chunk of a very low rate would multiply into megabytes at once (a
    // 3 Hz file gives 14,700 output frames per input frame): such chunks are
    // cut so that one gives at most 65,536 output frames. Rates from 2,757 Hz
    // up keep the whole chunk.
    const uint64_t most = uint64_t(kMaxResampledFrames) * f.SamplesPerSec / kOutputWaveFormat.SamplesPerSec;
    const uint64_t frames = std::max<uint64_t>(most, 1);
    if (frames * f.BlockAlign < chunk_) chunk_ = size_t(frames * f.BlockAlign);
  }
  Seek(0);
  return true;
}

bool TWavConverter::ReadChunk() {
  if (!stream_) return false;
  const int64_t end = int64_t(info_.DataOffset) + info_.DataLength;
  const int64_t pos = MusicStreamGetPosition(stream_.get());
  if (pos < 0 || pos >= end) return false;
  const size_t want = size_t(std::min<int64_t>(int64_t(chunk_), end - pos));
  input_->Reserve(want);
  const int64_t got = MusicStreamRead(stream_.get(), input_->WritePtr(), int64_t(want));
  if (got <= 0) return false;
  input_->Commit(size_t(got));
  return true;
}

void TWavConverter::Produce(const uint8_t* pcm, size_t bytes) {
  output_->Append(pcm, bytes);
  time_ += double(bytes) * 1000.0 / output_->Format.AvgBytesPerSec;
}

bool TWavConverter::Convert() {
  const size_t align = input_->Format.BlockAlign;
  const size_t whole = align ? input_->Used() - input_->Used() % align : 0;
  if (resampler_) {
    const size_t before = output_->Used();
    resampler_->Process(input_->Data(), whole, *output_);
    time_ += double(output_->Used() - before) * 1000.0 / output_->Format.AvgBytesPerSec;
  } else {
    Produce(input_->Data(), whole);
  }
  input_->Consume(whole);
  return true;
}

void TWavConverter::Seek(double ms) {
  const TWaveFormat& f = info_.Format;
  if (f.BlockAlign == 0) return;
  int64_t offset = std::llround(std::max(ms, 0.0) / 1000.0 * f.AvgBytesPerSec);
  offset -= offset % f.BlockAlign;
  offset = std::min<int64_t>(offset, info_.DataLength);
  if (stream_) MusicStreamSeek(stream_.get(), int64_t(info_.DataOffset) + offset, 0);
  input_->Clear();
  output_->Clear();
  if (resampler_) resampler_->Reset();
  time_ = ms;
}

void TWavConverter::PadSilence(size_t n) {
  real_bytes_ = output_->Used();
  if (output_->Used() >= n) return;
  const size_t missing = n - output_->Used();
  output_->Reserve(missing);
  std::memset(output_->WritePtr(), output_->Format.BitsPerSample == 8 ? 128 : 0, missing);
  output_->Commit(missing);
}

bool TWavConverter::Fill(size_t n) {
  real_bytes_ = SIZE_MAX;
  while (output_->Used() < n) {
    if (ReadChunk()) {
      if (!Convert()) {
        PadSilence(n);
        return false;
      }
      CallLoadCallback(this);
    } else {
      Drain();
      if (output_->Used() >= n) return true;
      const bool had = output_->Used() > 0;
      PadSilence(n);
      return had;
    }
  }
  return true;
}

void TWavConverter::Drain() {
  if (!resampler_) return;
  const size_t before = output_->Used();
  resampler_->Flush(*output_);
  time_ += double(output_->Used() - before) * 1000.0 / output_->Format.AvgBytesPerSec;
}

// ---------------------------------------------------------------------------
// Factory

namespace {
std::atomic<TConverterFactory> g_media_library_converter{nullptr};
}

TConverterFactory SetMediaLibraryConverter(TConverterFactory factory) {
  return g_media_library_converter.exchange(factory);
}

Ref<TWavConverter> CreateConverter(const std::u16string& name, const TMediaInfo& info) {
  try {
    switch (info.FormatCode) {
      case kMediaPcm:
      case kMediaFloat: return MakeRef<TWavConverter>();
      case kMediaAdpcm: return MakeRef<TAdpcmConverter>();
      case kMediaMpeg: return MakeRef<TMpegConverter>();
      case kMediaWma: return WmaPlugin() ? MakeRef<TDllConverter>(WmaPlugin()) : nullptr;
      case kMediaOgg: return OggPlugin() ? MakeRef<TDllConverter>(OggPlugin()) : nullptr;
      case kMediaLibrary:
        if (TConverterFactory f = g_media_library_converter.load()) return f(name, info);
        return nullptr;
      default:
        // An unknown code comes from a bad record: no converter, logged.
        LogLine(u"No converter for the format code of " + name);
        return nullptr;
    }
  } catch (const Exception&) {
    return nullptr;
  }
}

}  // namespace kav
