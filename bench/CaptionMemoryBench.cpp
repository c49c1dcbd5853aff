// The memory a long caption takes: a packed show of two or three slides, the
// first with one line of text a tenth of the slide high, opened in the engine
// headless (null window backend, offscreen sink) on the software device or on
// the GL device (Mesa, headless), and played until the text is on screen and a
// second more. Each run is a child process; its peak resident size is the
// figure. A 60-character caption is measured in the same run as the
// baseline.
//
// With two slides the window of prepared slides holds the first slide twice
// (now and again after the second, as the show loops), two images of one
// picture that share their tiles; with three it holds it once.
//
// BM_CaptionPeakMemory/<characters>/<gl>/<slides>: peak_MiB for the caption,
// baseline_MiB for the 60-character one, added_MiB (the difference) and
// ratio_to_baseline. A long line's picture is capped at 2^24 pixels
// (64 MiB at four bytes a pixel), so the added memory should stay near one
// such picture plus what the device keeps of it.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "HeadlessShow.h"
#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "KavPacker.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {

// The packed show of `slides` slides whose first shows `chars` characters
// of text in one line (the others a box), written once per length and count.
std::string CaptionShow(int chars, int slides) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kav-bench-caption-" + std::to_string(chars) + "-" + std::to_string(slides) + ".exe");
  if (std::filesystem::exists(path)) return path.string();
  std::string text;
  const std::string words = "First pictures of the sea, the harbour and the boats. ";
  while (int(text.size()) < chars) text += words;
  text.resize(size_t(chars));
  std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_full=0\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "[Times]\r\nopt_slidescount=" +
      std::to_string(slides) + "\r\n";
  for (int i = 1; i <= slides; ++i)
    project += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 30000) + "\r\n";
  project += "[Slide1]\r\nobject cap:Text\r\nGUID={cap}\r\nText=\"" + text + "\"\r\n";
  project += "object k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=10\r\nScaleY=10\r\nend\r\nend\r\n";
  for (int i = 2; i <= slides; ++i)
    project += "[Slide" + std::to_string(i) + "]\r\nobject other:Box\r\nGUID={other}\r\nColor1=0,0,128\r\nend\r\n";
  packer::Entry p;
  p.name = "Project.kav";
  p.data.assign(project.begin(), project.end());
  if (!packer::WriteFileBytes(path.string(), packer::Pack({p}, packer::Options()))) return {};
  return path.string();
}

// The peak resident size (MiB) of a child process that runs `work`; -1 when
// the work failed.
// KAV_BENCH_NO_FORK=1 runs it in this process (for a heap profiler).
double ChildPeakMiB(const std::function<bool()>& work) {
  if (std::getenv("KAV_BENCH_NO_FORK")) {
    if (!work()) return -1;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
  }
  const pid_t pid = fork();
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  struct rusage usage {};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return double(usage.ru_maxrss) / 1024.0;
}

// Opens the show and plays it until the first frame and a second of frames
// after it (the text renders on the loader's worker meanwhile).
bool PlayCaption(const std::string& path, int chars, bool gl, int slides) {
  InstallShowServices();
  benchshow::THeadless h(2, gl);
  if (!h.D3D) return false;
  std::u16string error;
  Ref<TKavShowLocator> locator = LoadPackedShow(UTF8Decode(path), error);
  if (!locator || !locator->GetSource()) return false;
  Ref<TKavEngine> engine = MakeRef<TKavEngine>(h.App.get(), h.Device.get(), false, true, false);
  if (!engine->OpenShow(locator->Accessor(), locator->Ini(), 0)) return false;
  using clock = std::chrono::steady_clock;
  const auto limit = clock::now() + std::chrono::seconds(120);
  while (h.Presents() == 0 && clock::now() < limit) engine->MainLoop();
  const auto end = clock::now() + std::chrono::seconds(1);
  while (clock::now() < end) {
    engine->MainLoop();
    benchshow::THeadless::Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(16));
  }
  const bool drawn = h.Presents() > 0;
  // KAV_BENCH_DUMP=<prefix> keeps the last frame for a look.
  if (const char* dump = std::getenv("KAV_BENCH_DUMP"))
    h.Sink->WritePng(benchshow::kWindow, std::string(dump) + "-" + std::to_string(chars) + (gl ? "-gl" : "-sw") + "-" +
                                             std::to_string(slides) + ".png");
  engine->StopEngine();
  engine = nullptr;
  benchshow::THeadless::Drain();
  return drawn;
}

// state.range(0): characters; state.range(1): 1 for the GL device;
// state.range(2): slides in the show.
void BM_CaptionPeakMemory(benchmark::State& state) {
  const int chars = int(state.range(0));
  const bool gl = state.range(1) != 0;
  const int slides = int(state.range(2));
  const std::string show = CaptionShow(chars, slides), base_show = CaptionShow(60, slides);
  if (show.empty() || base_show.empty()) {
    state.SkipWithError("the show could not be written");
    return;
  }
  const double base = ChildPeakMiB([&] { return PlayCaption(base_show, 60, gl, slides); });
  double peak = 0;
  for (auto _ : state) peak = ChildPeakMiB([&] { return PlayCaption(show, chars, gl, slides); });
  if (base < 0 || peak < 0) {
    state.SkipWithError(gl ? "no headless OpenGL, or the show did not play" : "the show did not play");
    return;
  }
  state.counters["peak_MiB"] = peak;
  state.counters["baseline_MiB"] = base;
  state.counters["added_MiB"] = peak - base;
  state.counters["ratio_to_baseline"] = peak / base;
}

}  // namespace

BENCHMARK(BM_CaptionPeakMemory)
    ->ArgsProduct({{60, 2000, 20000}, {0, 1}, {2, 3}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
