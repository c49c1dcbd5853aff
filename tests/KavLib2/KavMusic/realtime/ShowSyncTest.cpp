// The show's music end to end: a show whose slides carry sound comments of a
// known tone plays through the music player and the SDL device with SDL's
// "disk" driver; the tones' onsets in the captured output are compared with
// the slides' times on the show clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/Music/MusicClasses.h"
#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"
#include "platform/sound/sdl/SndSdlDevice.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/MachineLoad.h"

namespace kav {
namespace {

struct TShow {
  std::string text;
  std::vector<double> starts;  // slide start times that carry a tone
};

TShow ToneShow(const std::string& tone, int slides, double slide_ms) {
  TShow show;
  show.text = "object Music:TMusic\nend\n[Main]\nopt_fullyplaysound=1\nopt_repeat=stop\n[Times]\nopt_slidescount=" +
              std::to_string(slides) + "\n";
  for (int i = 1; i <= slides; ++i)
    show.text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(int64_t(i * slide_ms)) + "\n";
  // From the second slide on: a sound due at the very start of the show can
  // only start when the device next takes data (up to one callback late).
  for (int i = 2; i <= slides; ++i) {
    show.text += "[Slide" + std::to_string(i) + "]\nobject Root:TSlide\nobject Music:TMusic\n"
                 "object C:TSoundComment\nFileName=" + tone + "\nDuration=150\nend\nend\nend\n";
    show.starts.push_back((i - 1) * slide_ms);
  }
  return show;
}

// Frames where a tone begins: the first loud sample after at least 100 ms
// of near silence.
std::vector<int64_t> Onsets(const std::vector<int16_t>& left) {
  std::vector<int64_t> out;
  int64_t quiet = 4410;  // the capture starts in silence
  for (size_t i = 0; i < left.size(); ++i) {
    if (std::abs(left[i]) > 300) {
      if (quiet >= 4410) out.push_back(int64_t(i));
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return out;
}

struct TSyncResult {
  bool ok = false;  // every onset found
  double worst = 1e9, drift = 1e9;
  // How far what the device had played strayed from a steady rate (over
  // 100 ms), and that rate against the wall clock: SDL's disk driver sleeps
  // a callback's time between callbacks, so a loaded machine stalls it and
  // the capture no longer runs in real time (the show clock follows the
  // device only by a bounded slew).
  double jitter = 0, rate = 1;
};

// The device kept real time closely enough for the onsets to mean something:
// it strayed from its steady course by well under the onset bound (the show
// clock follows the device at a bounded slew, so a stall of so many ms can
// put an onset as far off, on top of a start one callback late), at a rate
// near the wall clock's.
bool KeptRealTime(const TSyncResult& r) { return r.jitter <= 8.0 && std::abs(r.rate - 1) <= 0.05; }

// Samples of (wall ms, ms the device has played); the largest 100 ms average
// of their distance from their least-squares line, and its slope, go into `r`.
void MeasureDevice(const std::vector<std::pair<double, double>>& samples, TSyncResult& r) {
  if (samples.size() < 10) return;
  double sw = 0, sh = 0, sww = 0, swh = 0;
  const double n = double(samples.size());
  for (const auto& [w, h] : samples) {
    sw += w;
    sh += h;
    sww += w * w;
    swh += w * h;
  }
  const double b = (n * swh - sw * sh) / (n * sww - sw * sw);
  const double a = (sh - b * sw) / n;
  r.rate = b;
  // Distances averaged over 100 ms: the clock reads the device's cursor
  // every 100 ms and slews toward it, so a callback a few ms late and made
  // up at once moves nothing; a stall that the device never makes up (the
  // disk driver does not catch up) stays in the average.
  r.jitter = 0;
  double sum = 0, window_start = samples.front().first;
  int count = 0;
  for (const auto& [w, h] : samples) {
    if (w - window_start >= 100 && count > 0) {
      r.jitter = std::max(r.jitter, std::abs(sum / count));
      sum = 0;
      count = 0;
      window_start = w;
    }
    sum += h - (a + b * w);
    ++count;
  }
  if (count > 0) r.jitter = std::max(r.jitter, std::abs(sum / count));
}

// One run of the show through the disk driver, measured.
TSyncResult PlayAndMeasure(const TShow& show, double show_ms, const std::string& capture) {
  TSyncResult r;
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  TSndSdlDevice::Install(441);  // 10 ms a callback: the disk driver then keeps real time
  {
    auto source = test::ShowSource(show.text);
    auto player = MakeRef<TKavMusicPlayer>(source.get(), false);
    if (!player->Audio()) return r;
    player->StartThreads();
    // The clock settles on the sound card within its first second (as it
    // does while a show opens and loads its first slides).
    SleepMs(1000);
    player->SeekTo(0, -1);
    for (int i = 0; i < 400 && !player->IsMusicReady(); ++i) SleepMs(5);
    player->SetActive(true);
    auto* wave = dynamic_cast<TwinWaveOutDevice*>(player->Audio()->Device());
    TSndDevice* device = wave ? wave->Sound() : nullptr;
    std::vector<std::pair<double, double>> samples;
    const auto t0 = std::chrono::steady_clock::now();
    while (player->GetTime() < show_ms) {
      if (device) {
        // A sample during which this thread was held up is dropped: its wall
        // time would not be the moment of its reading.
        const auto before = std::chrono::steady_clock::now();
        const double played = double(device->RenderedFrames()) * 1000.0 / kOutputRate - device->LatencyMs();
        const auto after = std::chrono::steady_clock::now();
        const std::chrono::duration<double, std::milli> wall = after - t0;
        if (after - before < std::chrono::microseconds(500)) samples.emplace_back(wall.count(), played);
      }
      SleepMs(5);
    }
    player->StopThreads();
    MeasureDevice(samples, r);
  }
  SetSndDeviceFactory(nullptr);
  const auto bytes = test::ReadFileBytes(capture);
  std::vector<int16_t> left(bytes.size() / 4);
  for (size_t i = 0; i < left.size(); ++i) left[i] = int16_t(bytes[4 * i] | bytes[4 * i + 1] << 8);
  const auto onsets = Onsets(left);
  if (onsets.size() != show.starts.size()) return r;
  // The capture starts at an arbitrary show time: its offset is the median
  // of (heard - due); every onset is compared with its due time under it.
  std::vector<double> offsets;
  for (size_t i = 0; i < onsets.size(); ++i) offsets.push_back(double(onsets[i]) * 1000.0 / 44100 - show.starts[i]);
  std::vector<double> sorted = offsets;
  std::sort(sorted.begin(), sorted.end());
  const double offset = sorted[sorted.size() / 2];
  r.worst = 0;
  for (double o : offsets) r.worst = std::max(r.worst, std::abs(o - offset));
  // Drift: the last onsets' error against the first ones'.
  r.drift = (offsets.back() + offsets[offsets.size() - 2]) / 2 - (offsets[0] + offsets[1]) / 2;
  r.ok = true;
  std::printf(
      "worst onset error %.2f ms over %zu onsets, drift %.2f ms over %.0f ms; device off its steady rate by up to "
      "%.2f ms, rate %.4f\n",
      r.worst, onsets.size(), r.drift, show.starts.back() - show.starts.front(), r.jitter, r.rate);
  return r;
}

TEST(ShowSync, ToneOnsetsLandOnTheirSlideTimes) {
  if (!test::ToolExists(test::kSox)) GTEST_SKIP() << "sox is missing";
  test::TAudioMedia media;
  const std::string tone = media.Wav("tone.wav", 44100, 2, 16, 0.15, 1000);
  const double slide_ms = 1100;
  const int slides = 12;
  const TShow show = ToneShow(tone, slides, slide_ms);
  // Real time on a shared machine: a run whose figures hold counts; up to
  // three measured runs are made. Typically within 1-4 ms; a start can still
  // land one device callback (10 ms here) late when the clock had just been
  // pulled. A run in which the device itself did not keep real time (SDL's
  // disk driver stalled by a loaded machine: the capture is then no longer a
  // time line to measure against) is set aside while the machine is loaded,
  // and a few more are made; on a machine that is not loaded it counts, so
  // a device that stalls by our own doing still fails.
  auto holds = [](const TSyncResult& r) { return r.ok && r.worst <= 12.0 && std::abs(r.drift) <= 6.0; };
  TSyncResult best;
  int measured = 0;
  double load = 0;
  std::string set_aside;
  for (int attempt = 0; attempt < 6 && measured < 3 && !holds(best); ++attempt) {
    const TSyncResult r = PlayAndMeasure(show, slides * slide_ms, media.Path("out" + std::to_string(attempt) + ".raw"));
    if (!KeptRealTime(r) && test::MachineLoaded(load)) {
      char line[160];
      std::snprintf(line, sizeof line, " [load %.1f: device off its steady rate by up to %.1f ms, rate %.4f]", load,
                    r.jitter, r.rate);
      set_aside += line;
      continue;
    }
    ++measured;
    if (r.ok && (holds(r) || r.worst < best.worst)) best = r;
  }
  if (measured == 0) GTEST_SKIP() << "the machine is too loaded for the sound device to keep real time:" << set_aside;
  ASSERT_TRUE(best.ok) << "a tone was not heard";
  EXPECT_LE(best.worst, 12.0);
  EXPECT_LE(std::abs(best.drift), 6.0);
}

}  // namespace
}  // namespace kav
