// Microsoft ADPCM: decoded block by block by our own decoder (the standard
// coefficient set) into 16-bit PCM with the file's rate and channels.
#pragma once

#include "VoRav/Music/winWavConverters.h"

namespace kav {

class TAdpcmConverter : public TWavConverter {
 public:
  bool SetInputFormat(const TMediaInfo& info) override;
  bool Convert() override;
  void Seek(double ms) override;

  // Decodes one block of `block_align` bytes into samples per block x
  // channels 16-bit samples; false for a block too short for its header.
  static bool DecodeBlock(const uint8_t* block, size_t block_align, int channels, int16_t* out,
                          uint32_t samples_per_block);

 private:
  TWaveFormat source_{};
  uint32_t samples_per_block_ = 0;
};

}  // namespace kav
