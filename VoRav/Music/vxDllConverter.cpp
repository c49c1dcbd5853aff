#include "VoRav/Music/vxDllConverter.h"

#include <cmath>

#include "VoRav/Music/vxMusicStreams.h"

namespace kav {

void TDllConverter::Output(void* self, const void* pcm, uint32_t bytes) {
  if (pcm && bytes) static_cast<TDllConverter*>(self)->pcm_->Append(pcm, bytes);
}

bool TDllConverter::SetInputFormat(const TMediaInfo& info) {
  const TWaveFormat& f = info.Format;
  if (!plugin_ || !stream_ || f.Channels < 1 || f.Channels > 2 || f.SamplesPerSec == 0) return false;
  TMediaInfo pcm = info;
  pcm.Format = TWaveFormat{kWaveFormatPcm, f.Channels, f.SamplesPerSec, f.SamplesPerSec * f.Channels * 2,
                           uint16_t(f.Channels * 2), 16, 0};
  decoder_ = plugin_->CreateDecoder(stream_.get(), MusicStreamFunctions(), &TDllConverter::Output, this, 0);
  if (!decoder_) return false;
  return TWavConverter::SetInputFormat(pcm);
}

bool TDllConverter::Convert() {
  if (!plugin_->Decode(decoder_)) ended_ = true;
  const size_t align = output_->Format.BlockAlign;
  const size_t whole = pcm_->Used() - pcm_->Used() % align;
  Produce(pcm_->Data(), whole);
  pcm_->Consume(whole);
  // The end of the data is no failure: Fill pads the rest with silence.
  return true;
}

void TDllConverter::Seek(double ms) {
  input_->Clear();
  output_->Clear();
  pcm_->Clear();
  time_ = std::max(ms, 0.0);
  if (!decoder_) return;
  uint32_t position = uint32_t(std::llround(time_));
  if (plugin_->SetPosition(decoder_, &position)) {
    time_ = position;
    ended_ = false;
  }
}

void TDllConverter::Dispose() {
  if (decoder_) plugin_->DestroyDecoder(decoder_);
  decoder_ = nullptr;
  TWavConverter::Dispose();
}

}  // namespace kav
