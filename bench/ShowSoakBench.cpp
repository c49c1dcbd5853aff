// A long run of a looping show, headless: 20 photos with a transition on
// every slide and music over the whole show, played through the engine over
// the null window backend, the software device on the offscreen sink and the
// real music player on SDL's sound output (SDL's "disk" driver writing to
// /dev/null unless SDL_AUDIODRIVER names another), one pass per 16.7 ms.
//
// BM_ShowSoak plays for KAV_SOAK_SECONDS (20 by default, so that a plain
// benchmark run stays short; 3600 for an hour). Every KAV_SOAK_SAMPLE_SECONDS
// (10) it prints the resident size (with its anonymous and file-backed
// parts), the malloc heap in use and held and its arenas, the open
// descriptors and the threads, and at every loop of the show the loop's
// peak resident size, the size and heap at its end and the live picture
// handles.
// Counters: the first loop's peak, the highest later loop peak and the
// final resident size against it (in per cent), the least-squares slope of
// the resident size in MB per hour (over the samples after the first loop
// when there are enough, and over the sizes at the loops' ends), and
// descriptors and threads at the start, the end and their highest; the
// cores used and passes a second. KAV_SOAK_SHOW names another packed show
// to play in its place; KAV_SOAK_HEAP_POLICY=0 leaves out the player's
// heap policy.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BenchMedia.h"
#include "HeadlessShow.h"
#include "Kav/KavViewer/KavShowMusic.h"
#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavClasses/KavShowLocator.h"
#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "KavLib2/KavEngine/KavEngineMusic.h"
#include "KavLib2/KavEngine/KavEventCodes.h"
#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "KavLib2/KavProcess/KavMemoryPolicy.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "KavPacker.h"
#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxUTF8.h"
#include "platform/d3d/SwDirect3D.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "platform/sound/sdl/SndSdlDevice.h"
#include "platform/window/WinApi.h"
#include "platform/window/null/NullWindowBackend.h"

using namespace kav;

namespace {

constexpr int kSlides = 20;
constexpr int kSlideMs = 3000;
constexpr int kMusicSeconds = 40;
using benchshow::kHeight;
using benchshow::kWidth;
using benchshow::kWindow;
using benchshow::THeadless;

int EnvInt(const char* name, int fallback, int least) {
  const char* v = std::getenv(name);
  const int n = v ? std::atoi(v) : fallback;
  return n >= least ? n : fallback;
}

// The show's music: a slowly changing chord, 16-bit stereo at 44,100 Hz,
// as MP3 through lame when it is there (as the demo's music is), otherwise
// as WAV. Made once in the temporary folder; empty when it cannot be written.
std::string MakeMusic() {
  const auto dir = std::filesystem::temp_directory_path();
  const std::string wav = (dir / "kav-soak-music.wav").string(), mp3 = (dir / "kav-soak-music.mp3").string();
  const bool have_lame = access("/usr/bin/lame", X_OK) == 0;
  if (std::filesystem::exists(have_lame ? mp3 : wav)) return have_lame ? mp3 : wav;
  const uint32_t rate = 44100, frames = rate * kMusicSeconds, bytes = frames * 4;
  std::ofstream out(wav, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.put(char(v)).put(char(v >> 8)).put(char(v >> 16)).put(char(v >> 24)); };
  auto u16 = [&](uint16_t v) { out.put(char(v)).put(char(v >> 8)); };
  out << "RIFF";
  u32(36 + bytes);
  out << "WAVEfmt ";
  u32(16), u16(1), u16(2), u32(rate), u32(rate * 4), u16(4), u16(16);
  out << "data";
  u32(bytes);
  const double notes[] = {220.0, 277.18, 329.63, 440.0};
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    double s = 0;
    for (int k = 0; k < 4; ++k) s += std::sin(2 * M_PI * notes[k] * t) * (0.5 + 0.5 * std::sin(2 * M_PI * t / (3 + k)));
    const auto v = int16_t(std::lround(s * 3000));
    u16(uint16_t(v)), u16(uint16_t(v));
  }
  out.close();
  if (!out) return {};
  if (!have_lame) return wav;
  const bool ok = bench::Run({"/usr/bin/lame", "--quiet", "-b", "128", wav, mp3}) == 0;
  std::filesystem::remove(wav);
  return ok ? mp3 : std::string();
}

// The packed looping show: 20 photos (each its own entry, so none is found
// cached), slowly panned and zoomed, a transition of one second into every
// slide in turn from the standard set, and the music from the show's start.
std::string SoakShow() {
  const auto path = std::filesystem::temp_directory_path() / "kav-bench-soak-show.exe";
  if (std::filesystem::exists(path)) return path.string();
  const std::string jpg = bench::MakePhotoJpeg(3000, 2000, "kav-bench-6mp");
  const std::string music = MakeMusic();
  if (jpg.empty() || music.empty()) return {};
  auto read = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const std::vector<uint8_t> photo = read(jpg);
  const std::string music_name = std::filesystem::path(music).extension() == ".mp3" ? "tune.mp3" : "tune.wav";
  std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_full=0\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "opt_repeat=repeat\r\nopt_fullyplaysound=1\r\n"
      "object Music:TMusic\r\nobject Options:TMusicOptions\r\nIsRepeat=0\r\nIsMute=0\r\nend\r\n"
      "object Track1:TMusicTrack\r\nobject Tune:TMusicItem\r\nGUID={soak-tune}\r\nFileName=" + music_name +
      "\r\nStartTime=0\r\nDuration=" + std::to_string(kMusicSeconds * 1000) +
      "\r\nCrossMode=0\r\nFadeIn=1000\r\nFadeOut=1500\r\nVolume=80\r\nend\r\nend\r\nend\r\n" +
      std::string(benchshow::kEffectObjects) + "[Times]\r\nopt_slidescount=" + std::to_string(kSlides) + "\r\n";
  for (int i = 1; i <= kSlides; ++i) project += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * kSlideMs) + "\r\n";
  std::vector<packer::Entry> entries;
  for (int i = 1; i <= kSlides; ++i) {
    const std::string name = "photo" + std::to_string(i) + ".jpg";
    const std::string shift = std::to_string((i % 5) - 2);
    project += "[Slide" + std::to_string(i) + "]\r\nobject TheEffect:AnEffect\r\nref=" +
               std::string(benchshow::kEffects[(i - 1) % std::size(benchshow::kEffects)]) + "\r\ntime=1000\r\nend\r\n" +
               "object Photo:Image\r\nGUID={soak-" + std::to_string(i) + "}\r\nImageName=" + name +
               "\r\nFitMode=Cover\r\n"
               "object k:KeyPoint\r\nTime=0\r\nPosition=0,0\r\nScaleX=100\r\nScaleY=100\r\nend\r\n"
               "object k:KeyPoint\r\nOrigin=SlideEnd\r\nTime=0\r\nPosition=" + shift + ",2\r\nScaleX=112\r\nScaleY=112\r\nend\r\n"
               "end\r\n";
    packer::Entry e;
    e.name = name;
    e.data = photo;
    entries.push_back(std::move(e));
  }
  packer::Entry m;
  m.name = music_name;
  m.data = read(music);
  entries.push_back(std::move(m));
  packer::Entry p;
  p.name = "Project.kav";
  p.data.assign(project.begin(), project.end());
  entries.insert(entries.begin(), std::move(p));
  if (!packer::WriteFileBytes(path.string(), packer::Pack(entries, packer::Options()))) return {};
  return path.string();
}


// What the process holds at one moment.
struct TSample {
  double Seconds = 0;  // since playback started
  int64_t Loop = 0;    // the show's loop (0 the first)
  double RssMb = 0, AnonMb = 0, FileMb = 0;
  double HeapUsedMb = 0, HeapHeldMb = 0;
  int Fds = 0, Threads = 0;
  int Arenas = 0;         // malloc's arenas
  double CpuSeconds = 0;  // the process's, user and system
  int64_t Frames = 0;     // passes so far
};

double StatusKb(const std::string& status, const char* key) {
  const size_t at = status.find(key);
  return at == std::string::npos ? 0 : std::atof(status.c_str() + at + std::strlen(key));
}

std::string ReadStatus() {
  std::ifstream in("/proc/self/status");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int n = 0;
  while (const dirent* e = readdir(dir))
    if (e->d_name[0] != '.') ++n;
  closedir(dir);
  return n - 1;  // not the listing's own
}

// malloc's arenas, counted in its own report.
int MallocArenas() {
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  if (!f) return -1;
  malloc_info(0, f);
  std::fclose(f);
  int n = 0;
  for (const char* p = text; (p = std::strstr(p, "<heap nr=")) != nullptr; ++p) ++n;
  std::free(text);
  return n;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TSample Take(double seconds, int64_t loop, int64_t frames) {
  TSample s;
  s.Seconds = seconds;
  s.Loop = loop;
  s.Frames = frames;
  s.CpuSeconds = CpuSeconds();
  const std::string status = ReadStatus();
  s.RssMb = StatusKb(status, "VmRSS:") / 1024.0;
  s.AnonMb = StatusKb(status, "RssAnon:") / 1024.0;
  s.FileMb = StatusKb(status, "RssFile:") / 1024.0;
  s.Threads = int(StatusKb(status, "Threads:"));
  const struct mallinfo2 mi = mallinfo2();
  s.HeapUsedMb = double(mi.uordblks + mi.hblkhd) / (1024.0 * 1024.0);
  s.HeapHeldMb = double(mi.arena + mi.hblkhd) / (1024.0 * 1024.0);
  s.Fds = OpenDescriptors();
  s.Arenas = MallocArenas();
  return s;
}

// The peak resident size since the last ResetPeakRss.
double PeakRssMb() { return StatusKb(ReadStatus(), "VmHWM:") / 1024.0; }
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Least-squares slope of the resident size, MB per hour.
double SlopeMbPerHour(const std::vector<TSample>& samples) {
  const size_t n = samples.size();
  if (n < 2) return 0;
  double sx = 0, sy = 0;
  for (const auto& s : samples) sx += s.Seconds, sy += s.RssMb;
  const double mx = sx / n, my = sy / n;
  double sxy = 0, sxx = 0;
  for (const auto& s : samples) sxy += (s.Seconds - mx) * (s.RssMb - my), sxx += (s.Seconds - mx) * (s.Seconds - mx);
  return sxx > 0 ? sxy / sxx * 3600.0 : 0;
}

void BM_ShowSoak(benchmark::State& state) {
  const int seconds = EnvInt("KAV_SOAK_SECONDS", 20, 1);
  const int sample_every = EnvInt("KAV_SOAK_SAMPLE_SECONDS", 10, 1);
  // KAV_SOAK_SHOW=<packed show> plays that show instead (the demo, say).
  const char* other = std::getenv("KAV_SOAK_SHOW");
  const std::string path = other ? std::string(other) : SoakShow();
  if (!other && (access(bench::kCjpeg.c_str(), X_OK) != 0 || path.empty())) {
    state.SkipWithError("cjpeg (libjpeg-turbo-progs) is not installed or the show could not be written");
    return;
  }
  // The player's heap policy, as kavplay sets it at start-up;
  // KAV_SOAK_HEAP_POLICY=0 leaves glibc's default to compare.
  if (EnvInt("KAV_SOAK_HEAP_POLICY", 1, 0) != 0) SetLongRunHeapPolicy();
  InstallShowServices();
  // Sound output that keeps real time without a sound card.
  if (!std::getenv("SDL_AUDIODRIVER")) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  }
  TSndSdlDevice::Install();
  InstallShowMusic();
  std::vector<TSample> samples;
  std::vector<double> loop_peaks;  // the peak resident size of every loop begun
  std::vector<TSample> loop_ends;  // taken as every loop ended
  for (auto _ : state) {
    THeadless h(2);
    Ref<TKavShowLocator> locator;
    Ref<TKavEngine> engine;
    std::u16string error;
    locator = LoadPackedShow(UTF8Decode(path), error);
    if (!locator || !locator->GetSource()) {
      state.SkipWithError("the show did not open");
      break;
    }
    engine = MakeRef<TKavEngine>(h.App.get(), h.Device.get(), false, true, false);
    if (!engine->OpenShow(locator->Accessor(), locator->Ini(), 0)) {
      state.SkipWithError("the show did not open");
      break;
    }
    auto* music = dynamic_cast<TShowMusic*>(engine->Music());
    if (!music || !music->Player()->Audio()) {
      engine->StopEngine();
      state.SkipWithError("the show's music has no sound output (SDL audio did not open)");
      break;
    }
    while (h.Presents() == 0) engine->MainLoop();
    engine->EventList()->PostEvent(kEngineMode, new TModeData(false));
    while (!engine->Active()) engine->MainLoop();
    const double loop_ms = engine->Source()->Duration();
    const double show_start = engine->LoaderTime();
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto next = start, next_sample = start;
    int64_t frames = 0, loop = 0;
    ResetPeakRss();
    std::printf("%8s %5s %9s %9s %9s %9s %9s %6s %5s %7s %6s %5s\n", "seconds", "loop", "rss_mb", "anon_mb",
                "file_mb", "heap_use", "heap_held", "arenas", "fds", "threads", "cores", "fps");
    const double cpu_start = CpuSeconds();
    while (clock::now() < end) {
      engine->MainLoop();
      ++frames;
      if (frames % 60 == 0) THeadless::Drain();
      const auto now = clock::now();
      const int64_t loop_now = loop_ms > 0 ? int64_t((engine->LoaderTime() - show_start) / loop_ms) : 0;
      if (loop_now != loop) {
        loop_peaks.push_back(PeakRssMb());
        // At the same show time every loop: what lives then is comparable.
        const TSample at_end = Take(std::chrono::duration<double>(now - start).count(), loop, frames);
        loop_ends.push_back(at_end);
        std::printf("loop %lld ended: peak %.1f MB, now %.1f MB, heap in use %.1f MB, held %.1f MB, %d images\n",
                    static_cast<long long>(loop), loop_peaks.back(), at_end.RssMb, at_end.HeapUsedMb,
                    at_end.HeapHeldMb, int(ImageHandleCount()));
        ResetPeakRss();
        loop = loop_now;
      }
      if (now >= next_sample) {
        samples.push_back(Take(std::chrono::duration<double>(now - start).count(), loop, frames));
        const TSample& s = samples.back();
        // Cores and passes a second since the sample before.
        const TSample* p = samples.size() > 1 ? &samples[samples.size() - 2] : nullptr;
        const double span = p ? s.Seconds - p->Seconds : 0;
        std::printf("%8.0f %5lld %9.1f %9.1f %9.1f %9.1f %9.1f %6d %5d %7d %6.2f %5.1f\n", s.Seconds,
                    static_cast<long long>(s.Loop), s.RssMb, s.AnonMb, s.FileMb, s.HeapUsedMb, s.HeapHeldMb, s.Arenas, s.Fds,
                    s.Threads, span > 0 ? (s.CpuSeconds - p->CpuSeconds) / span : 0.0,
                    span > 0 ? double(s.Frames - p->Frames) / span : 0.0);
        std::fflush(stdout);
        // KAV_BENCH_DUMP=<prefix> keeps the frame of every sample of the
        // first loop as <prefix>-<seconds>.png for a look.
        if (const char* dump = std::getenv("KAV_BENCH_DUMP"); dump && loop == 0)
          h.Sink->WritePng(kWindow, std::string(dump) + "-" + std::to_string(int(s.Seconds)) + ".png");
        next_sample += std::chrono::seconds(sample_every);
      }
      next += std::chrono::microseconds(16667);
      if (next > clock::now()) std::this_thread::sleep_until(next);
      else next = clock::now();
    }
    loop_peaks.push_back(PeakRssMb());  // the loop under way (partial)
    const double played = std::chrono::duration<double>(clock::now() - start).count();
    samples.push_back(Take(played, loop, frames));
    state.counters["frames"] = double(frames);
    state.counters["fps"] = double(frames) / played;
    state.counters["cores"] = (CpuSeconds() - cpu_start) / played;
    state.counters["loops"] = (engine->LoaderTime() - show_start) / loop_ms;
    engine->StopEngine();
    engine = nullptr;
    THeadless::Drain();
  }
  SetEngineMusicFactory(nullptr);
  SetSndDeviceFactory(nullptr);
  if (samples.empty() || loop_peaks.empty()) return;
  // The steady state: the samples after the first loop, when there are
  // enough of them for a slope.
  std::vector<TSample> later;
  for (const auto& s : samples)
    if (s.Loop >= 1) later.push_back(s);
  const double first_peak = loop_peaks.front();
  double later_peak = 0;
  for (size_t i = 1; i < loop_peaks.size(); ++i) later_peak = std::max(later_peak, loop_peaks[i]);
  const TSample& first = samples.front();
  const TSample& last = samples.back();
  int fds_max = 0, threads_max = 0;
  for (const auto& s : samples) fds_max = std::max(fds_max, s.Fds), threads_max = std::max(threads_max, s.Threads);
  state.counters["seconds"] = seconds;
  state.counters["first_loop_peak_mb"] = first_peak;
  state.counters["later_peak_mb"] = later_peak;
  state.counters["later_peak_pct"] = later_peak > 0 ? (later_peak / first_peak - 1) * 100 : 0;
  state.counters["final_rss_mb"] = last.RssMb;
  state.counters["final_pct"] = (last.RssMb / first_peak - 1) * 100;
  state.counters["slope_mb_per_h"] = SlopeMbPerHour(later.size() >= 6 ? later : samples);
  // The same at the same show time every loop, from the first loop's end
  // on: the swing within a loop does not alias into it.
  state.counters["slope_loop_end_mb_per_h"] = SlopeMbPerHour(loop_ends);
  state.counters["heap_used_first_mb"] = first.HeapUsedMb;
  state.counters["heap_used_last_mb"] = last.HeapUsedMb;
  state.counters["fds_first"] = first.Fds;
  state.counters["fds_last"] = last.Fds;
  state.counters["fds_max"] = fds_max;
  state.counters["threads_first"] = first.Threads;
  state.counters["threads_last"] = last.Threads;
  state.counters["threads_max"] = threads_max;
}

BENCHMARK(BM_ShowSoak)->Unit(benchmark::kSecond)->MeasureProcessCPUTime()->Iterations(1);

}  // namespace
