// A converter over a decoder plug-in: the plug-in reads the stream itself
// and delivers 16-bit PCM with the file's rate and channels.
#pragma once

#include "VoRav/Music/winWavConverters.h"
#include "platform/sound/SndDecoderPlugin.h"

namespace kav {

class TDllConverter : public TWavConverter {
 public:
  explicit TDllConverter(const TSndDecoderPlugin* plugin) : plugin_(plugin), pcm_(MakeRef<TLocalBuffer>()) {}
  bool SetInputFormat(const TMediaInfo& info) override;
  bool ReadChunk() override { return decoder_ != nullptr && !ended_; }
  bool Convert() override;
  void Seek(double ms) override;

 protected:
  void Dispose() override;

 private:
  static void Output(void* self, const void* pcm, uint32_t bytes);

  const TSndDecoderPlugin* plugin_;
  void* decoder_ = nullptr;
  bool ended_ = false;
  Ref<TLocalBuffer> pcm_;
};

}  // namespace kav
