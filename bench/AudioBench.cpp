// Audio: decoding a 5-minute MP3 through the converter chain beside the
// mpg123 program writing the same file as WAV (x_mpg123: our time over
// its), and mixing 8 channels for 10 minutes of output beside a plain sum
// loop over the same samples (x_plain; core: our time over 10 minutes, the
// share of one core mixing takes in real time).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <vector>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/winWavConverters.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpFileStream.h"
#include "platform/sound/null/SndNullDevice.h"
#include "tests/VoRav/Graphics/ToolRun.h"

using namespace kav;

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Mp3 {
  test::TScratchDir dir{"audiobench"};
  std::string file;
  double reference = 0;  // best of three mpg123 -w runs
};

const Mp3& SharedMp3() {
  static const Mp3* m = [] {
    auto* m = new Mp3;
    const std::string wav = m->dir / "five.wav";
    m->file = m->dir / "five.mp3";
    test::RunTool({"/usr/bin/sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "300", "sine", "200-4000",
                   "vol", "0.5"});
    test::RunTool({"/usr/bin/lame", "--quiet", "-b", "192", wav, m->file});
    m->reference = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      test::RunTool({"/usr/bin/mpg123", "-q", "-w", m->dir / "ref.wav", m->file});
      m->reference = std::min(m->reference, Seconds(t0));
    }
    return m;
  }();
  return *m;
}

void BM_DecodeMp3FiveMinutes_Converter(benchmark::State& state) {
  const Mp3& m = SharedMp3();
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    Ref<TStream> stream = OpenFileStreamRead(SystemUTF8ToWide(m.file));
    TMediaInfo info;
    if (!TMediaInfoExtractor::Extract(u"five.mp3", stream.get(), info)) state.SkipWithError("info");
    Ref<TWavConverter> conv = CreateConverter(u"five.mp3", info);
    conv->SetStream(stream);
    conv->SetInputFormat(info);
    size_t total = 0;
    while (conv->Fill(88200)) {
      total += conv->Output().Used();
      conv->Output().Consume(conv->Output().Used());
    }
    benchmark::DoNotOptimize(total);
    seconds += Seconds(t0);
  }
  state.counters["x_mpg123"] = seconds / double(state.iterations()) / m.reference;
}

constexpr uint64_t kTenMinutes = 44100ull * 600;
constexpr int kChannels = 8;

void BM_MixEightChannelsTenMinutes_PlainSum(benchmark::State& state) {
  std::vector<std::vector<int16_t>> ch(kChannels, std::vector<int16_t>(88200 * 2));
  std::mt19937 rng(1);
  for (auto& c : ch)
    for (auto& s : c) s = int16_t(rng() % 8000);
  std::vector<int16_t> out(4096 * 2);
  for (auto _ : state) {
    for (uint64_t done = 0; done < kTenMinutes; done += 4096) {
      const size_t at = size_t(done % 84000) * 2;
      for (size_t i = 0; i < out.size(); ++i) {
        int32_t sum = 0;
        for (int c = 0; c < kChannels; ++c) sum += ch[size_t(c)][at + i];
        out[i] = int16_t(std::clamp(sum, -32768, 32767));
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
}

void BM_MixEightChannelsTenMinutes_Mixer(benchmark::State& state) {
  uint64_t us = 0;
  auto device = MakeRef<TSndNullDevice>([&] { return int64_t(us); });
  device->SetCooperativeLevel(nullptr, kSndCoopPriority);
  std::vector<Ref<TSndBuffer>> buffers;
  // Six in the output format, two that are resampled (22,050 Hz mono, 48 kHz).
  const TWaveFormat formats[3] = {kOutputWaveFormat, {1, 1, 22050, 44100, 2, 16, 0}, {1, 2, 48000, 192000, 4, 16, 0}};
  std::mt19937 rng(1);
  for (int i = 0; i < kChannels; ++i) {
    const TWaveFormat& f = formats[i < 6 ? 0 : i - 5];
    TSndBufferDesc desc;
    desc.Flags = kSndCapsCtrlVolume;
    desc.BufferBytes = f.AvgBytesPerSec * 2;
    desc.Format = &f;
    Ref<TSndBuffer> b;
    device->CreateSoundBuffer(desc, b);
    void *p1, *p2;
    uint32_t n1, n2;
    b->Lock(0, desc.BufferBytes, &p1, &n1, &p2, &n2, 0);
    auto* s = static_cast<int16_t*>(p1);
    for (uint32_t k = 0; k < n1 / 2; ++k) s[k] = int16_t(rng() % 8000);
    b->Unlock(p1, n1, p2, n2);
    if (i % 2) b->SetVolume(-600);
    b->Play(0, 0, kSndPlayLooping);
    buffers.push_back(b);
  }
  std::vector<int16_t> out(4096 * 2);
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    for (uint64_t done = 0; done < kTenMinutes; done += 4096) device->Render(out.data(), 4096);
    benchmark::DoNotOptimize(out.data());
    seconds += Seconds(t0);
  }
  state.counters["core"] = seconds / double(state.iterations()) / 600.0;
}

}  // namespace

BENCHMARK(BM_DecodeMp3FiveMinutes_Converter)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MixEightChannelsTenMinutes_PlainSum)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_MixEightChannelsTenMinutes_Mixer)->Unit(benchmark::kMillisecond)->Iterations(2);
