// Decoding a 1080p H.264 clip frame by frame into YUV planes through the
// media-library frame source, beside `ffmpeg -f null` decoding the same clip
// with the same thread count ("x_ffmpeg"; ffmpeg's own -benchmark real time,
// without its start-up). The clip is made with ffmpeg at run time.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>

#include "VoRav/Graphics/Video/FFMpegVideoSource.h"
#include "tests/VoRav/Graphics/Video/MemYUVImage.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

constexpr int kFrames = 100;

const std::string& Clip1080() {
  static const std::string clip = [] {
    testclips::TClipDesc s = testclips::ClipDesc("bench1080.mp4");
    s.Width = 1920;
    s.Height = 1080;
    s.Seconds = kFrames / 25.0;
    s.Codec = {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p"};
    return testclips::MakeClip(s);
  }();
  return clip;
}

// ffmpeg's "rtime" of decoding the clip to nothing, in ms; 0 on failure.
double FfmpegNullMs(int threads) {
  std::string log = (testclips::ClipFolder() / "ffmpeg_bench.txt").string();
  std::vector<std::string> args{"ffmpeg", "-nostdin", "-benchmark", "-threads", std::to_string(threads),
                                "-i", Clip1080(), "-map", "0:v:0", "-f", "null", "-"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", &fa, nullptr, argv.data(), environ) != 0) return 0;
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  waitpid(pid, &status, 0);
  std::ifstream f(log);
  std::stringstream text;
  text << f.rdbuf();
  std::smatch m;
  std::string s = text.str();
  if (!std::regex_search(s, m, std::regex("rtime=([0-9.]+)s"))) return 0;
  return std::stod(m[1]) * 1000.0;
}

void BM_Decode1080pIntoPlanes(benchmark::State& state) {
  const int threads = int(state.range(0));
  if (Clip1080().empty()) {
    state.SkipWithError("ffmpeg could not make the clip");
    return;
  }
  TWinVideoSource::SetDecoderThreads(threads);
  double best = 1e9;
  for (auto _ : state) {
    auto source = MakeRef<TWinVideoSource>(nullptr, false, std::u16string(Clip1080().begin(), Clip1080().end()));
    auto image = MakeRef<testing::TMemYUVImage>(1920, 1080);
    auto t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < kFrames; ++n) benchmark::DoNotOptimize(source->GetFrame(n, image.get()));
    best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  TWinVideoSource::SetDecoderThreads(0);
  double ffmpeg = 1e9;
  for (int i = 0; i < 3; ++i) ffmpeg = std::min(ffmpeg, FfmpegNullMs(threads));
  state.counters["ours_ms"] = best;
  state.counters["ffmpeg_ms"] = ffmpeg;
  state.counters["x_ffmpeg"] = ffmpeg > 0 ? best / ffmpeg : 0;
}
BENCHMARK(BM_Decode1080pIntoPlanes)->Arg(1)->Arg(4)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kav
