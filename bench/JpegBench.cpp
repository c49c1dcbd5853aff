// JPEG decoding of a 24-megapixel photo-like picture (made here with cjpeg)
// at levels 0-3, each beside djpeg decoding the same file at the same scale
// in the same run. The time is ours; "djpeg_ms" is djpeg's (a process
// started without a shell, writing to /dev/null) and "ratio" ours / djpeg's.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchMedia.h"
#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"

using namespace kav;
using kav::bench::kCjpeg;
using kav::bench::kDjpeg;
using kav::bench::MakePhotoJpeg;
using kav::bench::Run;

namespace {

// 6000 x 4000: gradients, soft shapes and grain, compressed at quality 90.
const std::string& PhotoFile() {
  static const std::string path = MakePhotoJpeg(6000, 4000, "kav-bench-24mp");
  return path;
}

void BM_JpegDecodeBesideDjpeg(benchmark::State& state) {
  const int level = int(state.range(0));
  if (access(kCjpeg.c_str(), X_OK) != 0 || access(kDjpeg.c_str(), X_OK) != 0 || PhotoFile().empty()) {
    state.SkipWithError("cjpeg/djpeg (libjpeg-turbo-progs) are not installed");
    return;
  }
  std::ifstream in(PhotoFile(), std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto stream = MakeRef<TMemoryStream>();
  stream->WriteBytes(bytes);
  stream->SetPosition(0);
  auto image = MakeRef<TJpegImage>();
  image->LoadFromStream(stream.get());
  const std::vector<std::string> djpeg{kDjpeg, "-scale", "1/" + std::to_string(1 << level), "-outfile", "/dev/null",
                                       PhotoFile()};
  double ours = 0, theirs = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    Ref<TFastDIB> dib = image->Decode(uint8_t(level));
    benchmark::DoNotOptimize(dib.get());
    const auto t1 = Clock::now();
    if (Run(djpeg) != 0) state.SkipWithError("djpeg failed");
    const auto t2 = Clock::now();
    const double a = std::chrono::duration<double>(t1 - t0).count(), b = std::chrono::duration<double>(t2 - t1).count();
    ours += a;
    theirs += b;
    state.SetIterationTime(a);
  }
  state.counters["djpeg_ms"] = benchmark::Counter(theirs * 1000 / double(state.iterations()));
  state.counters["ratio"] = benchmark::Counter(theirs > 0 ? ours / theirs : 0);
  state.counters["Mpix"] = benchmark::Counter(24.0 / double(1 << (2 * level)));
}
BENCHMARK(BM_JpegDecodeBesideDjpeg)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
