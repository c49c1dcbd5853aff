// Decoding a whole file through the converter factory, and comparing the
// samples with a reference decoder's.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/winWavConverters.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav::test {

struct TDecoded {
  TWaveFormat format{};
  std::vector<int16_t> samples;
  size_t chunk = 0;
};

inline Ref<TWavConverter> OpenConverter(const std::string& path, Ref<TStream>& stream, TMediaInfo& info) {
  stream = test::OpenTestFile(path);
  if (!TMediaInfoExtractor::Extract(SystemUTF8ToWide(path), stream.get(), info)) return nullptr;
  auto conv = CreateConverter(SystemUTF8ToWide(path), info);
  if (!conv) return nullptr;
  conv->SetStream(stream);
  if (!conv->SetInputFormat(info)) return nullptr;
  return conv;
}

// Everything the converter gives to the end of the data, without padding.
inline TDecoded DecodeAll(const std::string& path, double seek_ms = -1) {
  TDecoded out;
  Ref<TStream> stream;
  TMediaInfo info;
  auto conv = OpenConverter(path, stream, info);
  if (!conv) return out;
  if (seek_ms >= 0) conv->Seek(seek_ms);
  out.format = conv->OutputFormat();
  std::vector<uint8_t> bytes;
  TLocalBuffer& o = conv->Output();
  for (int guard = 0; guard < 1000000; ++guard) {
    bytes.insert(bytes.end(), o.Data(), o.Data() + o.Used());
    o.Consume(o.Used());
    if (!conv->ReadChunk() || !conv->Convert()) break;
  }
  conv->Drain();
  bytes.insert(bytes.end(), o.Data(), o.Data() + o.Used());
  out.samples = Samples16(bytes);
  return out;
}

// The data chunk of a 16-bit WAV that sox or a decoder wrote.
inline std::vector<int16_t> WavSamples(const std::string& path) {
  auto s = test::OpenTestFile(path);
  TMediaInfo info;
  EXPECT_TRUE(ParseRiffInfo(s.get(), info)) << path;
  std::vector<uint8_t> bytes(info.DataLength);
  s->SetPosition(info.DataOffset);
  s->Read(std::span<uint8_t>(bytes), int64_t(bytes.size()));
  return Samples16(bytes);
}

// The shift of `got` against `want` (within +-max) with the least squared
// difference over a stretch, and that difference's RMS.
inline std::pair<int, double> BestAlignment(const std::vector<int16_t>& want, const std::vector<int16_t>& got, int max) {
  std::pair<int, double> best{0, 1e300};
  const size_t n = std::min<size_t>(20000, std::min(want.size(), got.size()) - size_t(2 * max) - 1);
  for (int shift = -max; shift <= max; ++shift) {
    double sum = 0;
    for (size_t i = size_t(max); i < n; ++i) {
      const double d = double(want[i]) - double(got[size_t(int64_t(i) + shift)]);
      sum += d * d;
    }
    const double rms = std::sqrt(sum / double(n - size_t(max)));
    if (rms < best.second) best = {shift, rms};
  }
  return best;
}

}  // namespace kav::test
