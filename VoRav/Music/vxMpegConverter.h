// MPEG audio (layers I to III) through libmpg123, 16-bit PCM with the
// file's rate and channels. One process-wide decoder wrapper counts its
// users; every decoder call runs under its lock.
#pragma once

#include "VoRav/Music/winWavConverters.h"

struct mpg123_handle_struct;

namespace kav {

class TMpegConverter : public TWavConverter {
 public:
  TMpegConverter();
  bool SetInputFormat(const TMediaInfo& info) override;
  bool Convert() override;
  void Seek(double ms) override;

 protected:
  void Dispose() override;

 private:
  bool OpenDecoder();
  void CloseDecoder();
  // Decodes the input chunk and what the decoder still holds into `pcm_`.
  bool DecodeInput();

  mpg123_handle_struct* handle_ = nullptr;
  Ref<TLocalBuffer> pcm_;
  bool acquired_ = false;
};

}  // namespace kav
