// JPEG decoding of a 24-megapixel photo-like picture (made here with cjpeg)
// at levels 0-3, each beside djpeg decoding the same file at the same scale
// in the same run. The time is ours; "djpeg_ms" is djpeg's (a process
// started without a shell, writing to /dev/null) and "ratio" ours / djpeg's.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"

extern char** environ;

using namespace kav;

namespace {

const std::string kCjpeg = "/usr/bin/cjpeg", kDjpeg = "/usr/bin/djpeg";

int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// 6000 x 4000: gradients, soft shapes and grain, compressed at quality 90.
const std::string& PhotoFile() {
  static const std::string path = [] {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string ppm = (dir / "kav-bench-24mp.ppm").string(), jpg = (dir / "kav-bench-24mp.jpg").string();
    if (std::filesystem::exists(jpg)) return jpg;
    constexpr int w = 6000, h = 4000;
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    std::mt19937 rng(7);
    std::vector<uint8_t> row(size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int grain = int(rng() % 9) - 4;
        const int ring = ((x - 3000) * (x - 3000) + (y - 2000) * (y - 2000)) / 40000 % 64;
        row[size_t(x) * 3] = uint8_t(std::clamp(x * 200 / w + ring + grain, 0, 255));
        row[size_t(x) * 3 + 1] = uint8_t(std::clamp(y * 180 / h + 40 + grain, 0, 255));
        row[size_t(x) * 3 + 2] = uint8_t(std::clamp(128 + ring * 2 - x * 60 / w + grain, 0, 255));
      }
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
    }
    out.close();
    const bool ok = Run({kCjpeg, "-quality", "90", "-outfile", jpg, ppm}) == 0;
    std::filesystem::remove(ppm);
    return ok ? jpg : std::string();
  }();
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
