// The show engine end to end, headless: a packed show of 20 slides, each a
// full-screen 24-megapixel JPEG, opened through the engine over the null
// window backend and a software 3D device presenting to the offscreen sink.
//
// BM_ShowLaunchToFirstFrame: open the packed file, open the show in the
// engine and run passes until the sink holds the first frame. Beside it,
// BM_ShowFirstPhotoDecodeOnly decodes the first photo alone at the level
// the slide draws it from.
//
// BM_ShowPlayback: plays the show for KAV_BENCH_PLAY_SECONDS (60 by
// default; 600 for the full ten minutes) on two cores with two raster
// threads, one pass every 16.7 ms. A pass that draws presents a frame; one
// that has nothing new to draw (a still slide) waits on the engine's queue
// for the next frame time and presents nothing. Counters:
//   frames, late_frames, worst_frame_ms: frames presented, and those that
//     arrived more than 16.7 ms after their pass began;
//   late_cpu_bound: late frames whose pass kept the engine thread on the
//     CPU at least 3/4 of the time (drawing work over budget); the others
//     waited (for a core, a worker or a lock);
//   passes, late_passes, worst_pass_ms: every pass, and those that took
//     longer than 16.7 ms, the engine's own sleeps and waits included;
//   peak resident memory, and at the end the drift between the engine's
//     show time and the wall clock since playback started (the engine runs
//     on its silent clock: no sound device).
// KAV_BENCH_LATE=1 lists every late frame and late pass on stderr: show
// time, frame and pass ms, CPU ms, and the context switches in the pass;
// KAV_BENCH_LATE=all lists every frame too.
// BM_ShowTransitionPlayback: the same with a one-second transition from the
// standard set into every slide in turn, so that frames are drawn all
// through each transition while the loader decodes the next photos.
#include <benchmark/benchmark.h>

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BenchMedia.h"
#include "HeadlessShow.h"
#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavEventCodes.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "KavPacker.h"
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxUTF8.h"
#include "platform/d3d/SwDirect3D.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "platform/window/WinApi.h"
#include "platform/window/null/NullWindowBackend.h"

using namespace kav;

namespace {

constexpr int kSlides = 20;
using benchshow::kHeight;
using benchshow::kWidth;
using benchshow::kWindow;
using benchshow::kEffectObjects;
using benchshow::kEffects;
using benchshow::THeadless;
constexpr double kFrameMs = 1000.0 / 60.0;

// The packed show with slides of `slide_ms` each, written once per length:
// cuts, or with `transitions` a one-second transition into every slide.
std::string PackedShow(int slide_ms, bool transitions = false) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("kav-bench-show-" + std::to_string(slide_ms) + (transitions ? "-t" : "") + ".exe");
  if (std::filesystem::exists(path)) return path.string();
  const std::string jpg = bench::MakePhotoJpeg(6000, 4000, "kav-bench-24mp");
  if (jpg.empty()) return {};
  std::ifstream in(jpg, std::ios::binary);
  const std::vector<uint8_t> photo((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<packer::Entry> entries;
  std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_full=0\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n" +
      std::string(transitions ? kEffectObjects : "") + "[Times]\r\nopt_slidescount=" + std::to_string(kSlides) + "\r\n";
  for (int i = 1; i <= kSlides; ++i) project += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * slide_ms) + "\r\n";
  for (int i = 1; i <= kSlides; ++i) {
    // Each slide its own photo entry, so no slide finds its picture cached.
    const std::string name = "photo" + std::to_string(i) + ".jpg";
    project += "[Slide" + std::to_string(i) + "]\r\n";
    if (transitions)
      project += "object TheEffect:AnEffect\r\nref=" + std::string(kEffects[(i - 1) % std::size(kEffects)]) +
                 "\r\ntime=1000\r\nend\r\n";
    project += "object big:Image\r\nGUID={big}\r\nImageName=" + name + "\r\nend\r\n";
    packer::Entry e;
    e.name = name;
    e.data = photo;
    entries.push_back(std::move(e));
  }
  packer::Entry p;
  p.name = "Project.kav";
  p.data.assign(project.begin(), project.end());
  entries.insert(entries.begin(), std::move(p));
  if (!packer::WriteFileBytes(path.string(), packer::Pack(entries, packer::Options()))) return {};
  return path.string();
}


bool Ready(benchmark::State& state, const std::string& show) {
  if (access(bench::kCjpeg.c_str(), X_OK) != 0 || show.empty()) {
    state.SkipWithError("cjpeg (libjpeg-turbo-progs) is not installed or the show could not be written");
    return false;
  }
  InstallShowServices();
  return true;
}

struct TOpened {
  Ref<TKavShowLocator> Locator;
  Ref<TKavEngine> Engine;
  ~TOpened() {
    if (Engine) Engine->StopEngine();
    Engine = nullptr;
  }
};

// Opens the packed show in a paused engine; false when it does not open.
bool Open(THeadless& h, const std::string& path, TOpened& out) {
  std::u16string error;
  out.Locator = LoadPackedShow(UTF8Decode(path), error);
  if (!out.Locator || !out.Locator->GetSource()) return false;
  out.Engine = MakeRef<TKavEngine>(h.App.get(), h.Device.get(), false, true, false);
  return out.Engine->OpenShow(out.Locator->Accessor(), out.Locator->Ini(), 0);
}

void BM_ShowLaunchToFirstFrame(benchmark::State& state) {
  const std::string path = PackedShow(3000);
  if (!Ready(state, path)) return;
  int passes = 0;
  for (auto _ : state) {
    THeadless h(0);
    const auto t0 = std::chrono::steady_clock::now();
    TOpened o;
    if (!Open(h, path, o)) {
      state.SkipWithError("the show did not open");
      return;
    }
    passes = 0;
    while (h.Presents() == 0 && passes < 100000) {
      o.Engine->MainLoop();
      ++passes;
    }
    const auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    if (h.Presents() == 0) state.SkipWithError("no frame was presented");
    // KAV_BENCH_DUMP=<file.png> keeps the first frame for a look.
    if (const char* dump = std::getenv("KAV_BENCH_DUMP")) h.Sink->WritePng(kWindow, dump);
    state.PauseTiming();
    o.Engine->StopEngine();
    o.Engine = nullptr;
    THeadless::Drain();
    state.ResumeTiming();
  }
  state.counters["passes"] = passes;
}

// The first photo alone, decoded from the packed show at the level its slide
// draws it from.
void BM_ShowFirstPhotoDecodeOnly(benchmark::State& state) {
  const std::string path = PackedShow(3000);
  if (!Ready(state, path)) return;
  std::u16string error;
  Ref<TKavShowLocator> locator = LoadPackedShow(UTF8Decode(path), error);
  if (!locator || !locator->GetSource()) {
    state.SkipWithError("the show did not open");
    return;
  }
  auto producer = MakeRef<TSlideProducer>(locator->GetSource(), nullptr, TKavSlideHost::TEffectResourceFill(), false);
  producer->CurrentTiming = MakeRef<TTiming>(0);
  producer->SetAspectRatio(TSize{kWidth, kHeight}, false, 100, 100);
  Ref<TDrawContainer> c = producer->ProduceSlide(0);
  c->SetTime(100);
  auto* image = c->Slide->ChildCount() > 0 ? dynamic_cast<TKavImage*>(c->Slide->GetChild(0)) : nullptr;
  if (!image) {
    state.SkipWithError("the first slide has no picture");
    return;
  }
  const int32_t level = image->MipLevel();
  c = nullptr;
  producer = nullptr;
  state.counters["level"] = level;
  for (auto _ : state) {
    Ref<TImage> p = LoadImageHandle(locator->Accessor(), u"photo1.jpg");
    benchmark::DoNotOptimize(p->Store()->GetMipLevel(level).get());
  }
}

int PlaySeconds() {
  const char* v = std::getenv("KAV_BENCH_PLAY_SECONDS");
  const int s = v ? std::atoi(v) : 60;
  return s >= 5 ? s : 60;
}

// The process's peak resident memory (VmHWM), from the last ResetPeakRss.
double PeakRssMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) / 1024.0;
}

// Starts the peak over from the present resident size, so that earlier
// benchmarks of the same run do not count.
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// This thread's CPU time in ms, and its voluntary and involuntary context
// switches.
struct TThreadUse {
  double CpuMs = 0;
  long Waits = 0, Preempted = 0;
  static TThreadUse Now() {
    TThreadUse u;
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    u.CpuMs = double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
    rusage r{};
    getrusage(RUSAGE_THREAD, &r);
    u.Waits = r.ru_nvcsw;
    u.Preempted = r.ru_nivcsw;
    return u;
  }
};

// state.range(0): 1 for the show with transitions.
void BM_ShowPlayback(benchmark::State& state) {
  const int seconds = PlaySeconds();
  const std::string path = PackedShow(seconds * 1000 / kSlides, state.range(0) != 0);
  if (!Ready(state, path)) return;
  // Two cores: this thread and every thread started from it (loader,
  // raster) run on the first two CPUs the process may use.
  cpu_set_t old_set, two;
  sched_getaffinity(0, sizeof old_set, &old_set);
  CPU_ZERO(&two);
  for (int cpu = 0, n = 0; cpu < CPU_SETSIZE && n < 2; ++cpu)
    if (CPU_ISSET(cpu, &old_set)) CPU_SET(cpu, &two), ++n;
  sched_setaffinity(0, sizeof two, &two);
  ResetPeakRss();
  const double rss_before = PeakRssMb();
  // The benchmark paces its passes itself: a pass over a still picture
  // waits at most a frame, as before the engine waited for the next change.
  SetEngineWaitLimit(16);
  for (auto _ : state) {
    THeadless h(2);
    TOpened o;
    if (!Open(h, path, o)) {
      state.SkipWithError("the show did not open");
      break;
    }
    while (h.Presents() == 0) o.Engine->MainLoop();
    o.Engine->EventList()->PostEvent(kEngineMode, new TModeData(false));
    while (!o.Engine->Active()) o.Engine->MainLoop();
    // Playback begins with the pass that took up the request.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const double show_start = o.Engine->LoaderTime();
    const auto end = start + std::chrono::seconds(seconds);
    int64_t passes = 0, late_passes = 0, frames = 0, late = 0, late_cpu = 0;
    const char* list = std::getenv("KAV_BENCH_LATE");
    const bool list_late = list != nullptr, list_all = list && std::string(list) == "all";
    double worst_pass = 0, worst_frame = 0;
    auto next = start;
    double drift = 0;
    int32_t max_handles = 0;
    auto last_pass = start;
    while (clock::now() < end) {
      const TThreadUse u0 = TThreadUse::Now();
      const uint64_t presents = h.Presents();
      const auto p0 = clock::now();
      o.Engine->MainLoop();
      last_pass = clock::now();
      const TThreadUse u1 = TThreadUse::Now();
      const double ms = std::chrono::duration<double, std::milli>(last_pass - p0).count();
      const bool drew = h.Presents() != presents;
      const double frame_ms = drew ? std::chrono::duration<double, std::milli>(h.Sink->Last() - p0).count() : 0.0;
      ++passes;
      frames += drew;
      late_passes += ms > kFrameMs;
      if (frame_ms > kFrameMs) {
        ++late;
        if (u1.CpuMs - u0.CpuMs >= 0.75 * frame_ms) ++late_cpu;
      }
      if ((list_late && (ms > kFrameMs || frame_ms > kFrameMs)) || (list_all && drew))
        std::fprintf(stderr, "%s at show %.0f ms: frame %.1f ms, pass %.1f ms, cpu %.1f ms, waits %ld, preempted %ld\n",
                     frame_ms > kFrameMs ? "late frame"
                     : ms > kFrameMs     ? (drew ? "late pass, frame in time" : "late pass, no frame")
                                         : "frame in time",
                     o.Engine->LoaderTime() - show_start, frame_ms, ms,
                     u1.CpuMs - u0.CpuMs, u1.Waits - u0.Waits, u1.Preempted - u0.Preempted);
      worst_pass = std::max(worst_pass, ms);
      worst_frame = std::max(worst_frame, frame_ms);
      if (passes % 60 == 0) THeadless::Drain();
      max_handles = std::max(max_handles, ImageHandleCount());
      next += std::chrono::microseconds(16667);
      if (next > clock::now()) std::this_thread::sleep_until(next);
      else next = clock::now();
    }
    // The show time of the last pass against the wall clock at its end.
    if (const char* dump = std::getenv("KAV_BENCH_DUMP")) h.Sink->WritePng(kWindow, std::string(dump) + ".end.png");
    drift = o.Engine->LoaderTime() - show_start - std::chrono::duration<double, std::milli>(last_pass - start).count();
    state.counters["seconds"] = seconds;
    state.counters["frames"] = double(frames);
    state.counters["late_frames"] = double(late);
    state.counters["late_cpu_bound"] = double(late_cpu);
    state.counters["worst_frame_ms"] = worst_frame;
    state.counters["passes"] = double(passes);
    state.counters["late_passes"] = double(late_passes);
    state.counters["worst_pass_ms"] = worst_pass;
    state.counters["end_drift_ms"] = drift;
    state.counters["slides_reached"] = o.Engine->LoaderTime() / (seconds * 1000.0 / kSlides);
    // Pictures alive at the end (each holds its compressed file).
    state.counters["image_handles"] = ImageHandleCount();
    state.counters["max_image_handles"] = max_handles;
  }
  SetEngineWaitLimit(0);
  state.counters["peak_rss_mb"] = PeakRssMb();
  state.counters["rss_before_mb"] = rss_before;
  state.counters["goal_rss_mb"] = 3.0 * kWidth * kHeight * 4 / (1024.0 * 1024.0) + 150;
  sched_setaffinity(0, sizeof old_set, &old_set);
}

BENCHMARK(BM_ShowFirstPhotoDecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ShowLaunchToFirstFrame)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_ShowPlayback)->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(0);
// The same with a transition into every slide: frames presented all through
// each transition while the loader decodes the next photos on the same cores.
BENCHMARK(BM_ShowPlayback)->Name("BM_ShowTransitionPlayback")->Unit(benchmark::kMillisecond)->Iterations(1)->Arg(1);

}  // namespace
