#include "VoRav/Music/vxAudioFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <span>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/winWavConverters.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

void Check(bool ok, const char* target, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "%s: %s\n", target, what);
  std::abort();
}

Ref<TStream> Bytes(const uint8_t* data, size_t size) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(std::span<const uint8_t>(data, size));
  s->SetPosition(0);
  return s;
}

void CheckRecord(const TMediaInfo& info, size_t size, const char* target) {
  Check(uint64_t(info.DataOffset) + info.DataLength <= size, target, "audio data past the end of the file");
  Check(info.FormatCode != 0, target, "accepted without a format");
  Check(info.Format.Channels > 0 && info.Format.SamplesPerSec > 0 && info.Format.BlockAlign > 0, target,
        "accepted an empty format");
}

// Decodes the whole file through the factory's converter; the output never
// grows past what was asked and the time never goes backwards.
void DecodeAll(const Ref<TStream>& stream, const TMediaInfo& info, const char* target) {
  Ref<TWavConverter> conv = CreateConverter(u"f", info);
  if (!conv) return;
  conv->SetStream(stream);
  if (!conv->SetInputFormat(info)) return;
  conv->Seek(info.Duration / 2.0);
  conv->Seek(0);
  double last = conv->Time();
  // At most 1 MB of output (six seconds): a very low rate would otherwise
  // stretch a few bytes into hours of sound.
  size_t total = 0;
  for (int i = 0; i < 4096 && total < (size_t(1) << 20); ++i) {
    const bool more = conv->Fill(4096);
    Check(conv->Output().Used() >= 4096, target, "fill left the output short");
    total += conv->Output().Used();
    conv->Output().Consume(conv->Output().Used());
    Check(conv->Time() >= last, target, "time went backwards");
    last = conv->Time();
    if (!more) break;
  }
}

}  // namespace

int FuzzRiffInfo(const uint8_t* data, size_t size) {
  auto stream = Bytes(data, size);
  TMediaInfo info;
  if (!TMediaInfoExtractor::Extract(u"f.wav", stream.get(), info)) return 0;
  CheckRecord(info, size, "FuzzRiffInfo");
  DecodeAll(stream, info, "FuzzRiffInfo");
  return 0;
}

int FuzzMpegInfo(const uint8_t* data, size_t size) {
  auto stream = Bytes(data, size);
  TMediaInfo info;
  if (!TMediaInfoExtractor::Extract(u"f.mp3", stream.get(), info)) return 0;
  CheckRecord(info, size, "FuzzMpegInfo");
  for (double ms : {1.0, 500.0, 100000.0}) {
    double reached = 0;
    const int64_t pos = MpegSeekPosition(stream.get(), info, ms, reached);
    Check(pos <= int64_t(size), "FuzzMpegInfo", "seek past the end");
  }
  DecodeAll(stream, info, "FuzzMpegInfo");
  return 0;
}

}  // namespace kav
