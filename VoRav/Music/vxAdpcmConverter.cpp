#include "VoRav/Music/vxAdpcmConverter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "VoRav/Music/vxMusicStreams.h"

namespace kav {

namespace {

constexpr int32_t kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int32_t kCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}};

int16_t S16(const uint8_t* p) { return int16_t(p[0] | p[1] << 8); }

}  // namespace

bool TAdpcmConverter::DecodeBlock(const uint8_t* block, size_t block_align, int channels, int16_t* out,
                                  uint32_t samples_per_block) {
  if (channels < 1 || channels > 2 || block_align < size_t(7 * channels) || samples_per_block < 2) return false;
  int32_t c1[2], c2[2], delta[2], s1[2], s2[2];
  const uint8_t* p = block;
  for (int c = 0; c < channels; ++c) {
    // A predictor index past the table is taken as the first entry.
    const int index = p[c] < 7 ? p[c] : 0;
    c1[c] = kCoefficients[index][0];
    c2[c] = kCoefficients[index][1];
  }
  p += channels;
  for (int c = 0; c < channels; ++c, p += 2) delta[c] = S16(p);
  for (int c = 0; c < channels; ++c, p += 2) s1[c] = S16(p);
  for (int c = 0; c < channels; ++c, p += 2) s2[c] = S16(p);
  // The header's two samples come first, the older one first.
  for (int c = 0; c < channels; ++c) out[c] = int16_t(s2[c]);
  for (int c = 0; c < channels; ++c) out[channels + c] = int16_t(s1[c]);
  const uint8_t* end = block + block_align;
  size_t written = 2 * size_t(channels);
  const size_t total = size_t(samples_per_block) * channels;
  int c = 0;
  for (; p < end && written < total; ++p) {
    for (int half = 0; half < 2 && written < total; ++half) {
      const int nibble = half == 0 ? *p >> 4 : *p & 15;
      const int signed_nibble = nibble >= 8 ? nibble - 16 : nibble;
      const int32_t predicted = (s1[c] * c1[c] + s2[c] * c2[c]) >> 8;
      const int32_t sample = std::clamp(predicted + signed_nibble * delta[c], -32768, 32767);
      s2[c] = s1[c];
      s1[c] = sample;
      // Bounded, so a hostile block cannot overflow the step.
      delta[c] = int32_t(std::clamp<int64_t>((int64_t(kAdaptation[nibble]) * delta[c]) / 256, 16, 1 << 23));
      out[written++] = int16_t(sample);
      c = (c + 1) % channels;
    }
  }
  // A short last block leaves silence.
  std::fill(out + written, out + total, int16_t(0));
  return true;
}

bool TAdpcmConverter::SetInputFormat(const TMediaInfo& info) {
  const TWaveFormat& f = info.Format;
  if (f.Channels < 1 || f.Channels > 2 || f.BlockAlign < 7 * f.Channels || f.SamplesPerSec == 0) return false;
  source_ = f;
  // Two samples in the header, two per byte after it.
  samples_per_block_ = (f.BlockAlign - 7u * f.Channels) * 2 / f.Channels + 2;
  TMediaInfo pcm = info;
  pcm.Format = TWaveFormat{kWaveFormatPcm, f.Channels, f.SamplesPerSec, f.SamplesPerSec * f.Channels * 2,
                           uint16_t(f.Channels * 2), 16, 0};
  if (!TWavConverter::SetInputFormat(pcm)) return false;
  info_.Format = source_;
  info_.FormatCode = kMediaAdpcm;
  input_->Format = source_;
  chunk_ = std::max<size_t>(2048 - 2048 % f.BlockAlign, f.BlockAlign);
  return true;
}

bool TAdpcmConverter::Convert() {
  const size_t align = source_.BlockAlign;
  std::vector<int16_t> pcm(size_t(samples_per_block_) * source_.Channels);
  size_t at = 0;
  for (; at + align <= input_->Used(); at += align) {
    if (!DecodeBlock(input_->Data() + at, align, source_.Channels, pcm.data(), samples_per_block_)) return false;
    Produce(reinterpret_cast<const uint8_t*>(pcm.data()), pcm.size() * 2);
  }
  // The file's last block may be short.
  if (at < input_->Used() && input_->Used() - at >= size_t(7 * source_.Channels) &&
      MusicStreamGetPosition(stream_.get()) >= int64_t(info_.DataOffset) + info_.DataLength) {
    const size_t rest = input_->Used() - at;
    const size_t samples = 2 + (rest - 7 * source_.Channels) * 2 / source_.Channels;
    DecodeBlock(input_->Data() + at, rest, source_.Channels, pcm.data(), samples_per_block_);
    Produce(reinterpret_cast<const uint8_t*>(pcm.data()), std::min(samples, size_t(samples_per_block_)) *
                                                              source_.Channels * 2);
    at = input_->Used();
  }
  input_->Consume(at);
  return true;
}

void TAdpcmConverter::Seek(double ms) {
  // To the block that holds the time: whole blocks only.
  ms = std::max(ms, 0.0);
  input_->Clear();
  output_->Clear();
  if (samples_per_block_ == 0) {
    time_ = ms;
    return;
  }
  const int64_t block = int64_t(ms / 1000.0 * source_.SamplesPerSec) / samples_per_block_;
  const int64_t offset = std::min<int64_t>(block * source_.BlockAlign, info_.DataLength);
  if (stream_) MusicStreamSeek(stream_.get(), int64_t(info_.DataOffset) + offset, 0);
  const double block_start = double(block) * samples_per_block_ * 1000.0 / source_.SamplesPerSec;
  // Decode the block and drop what lies before the time.
  time_ = block_start;
  if (ms > block_start && stream_ && ReadChunk() && Convert()) {
    const size_t drop = size_t(std::llround((ms - block_start) / 1000.0 * source_.SamplesPerSec)) * source_.Channels * 2;
    output_->Consume(drop);
  }
  time_ = ms + double(output_->Used()) * 1000.0 / output_->Format.AvgBytesPerSec;
}

}  // namespace kav
