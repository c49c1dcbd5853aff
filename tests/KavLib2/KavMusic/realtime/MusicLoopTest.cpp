// A repeating music track through the music player and the null device in
// real time: the mixed output runs from one repetition into the next sample
// for sample, with no gap and no jump, in both the free-running and the
// synchronised mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "KavLib2/KavMusic/KavCompositeParams.h"
#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "VoRav/vxTime.h"
#include "platform/sound/null/SndNullDevice.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav {
namespace {

struct TCapture {
  static inline TSndNullDevice* current = nullptr;
  Ref<TSndNullDevice> sound = MakeRef<TSndNullDevice>();
  TSndDeviceFactory previous;
  TCapture() {
    sound->SetCapture(true);
    current = sound.get();
    previous = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return Ref<TSndDevice>(current); });
  }
  ~TCapture() {
    SetSndDeviceFactory(previous);
    current = nullptr;
  }
};

// Left samples heard while the show ran `play_ms` of real time.
std::vector<int16_t> PlayShow(const std::string& text, int play_ms) {
  TCapture capture;
  auto source = test::ShowSource(text);
  auto player = MakeRef<TKavMusicPlayer>(source.get(), false);
  EXPECT_TRUE(player->Audio());
  player->StartThreads();
  player->SeekTo(0, -1);
  for (int i = 0; i < 2000 && !player->IsMusicReady(); ++i) SleepMs(5);
  player->SetActive(true);
  SleepMs(play_ms);
  const auto all = capture.sound->TakeCapture();
  player->StopThreads();
  std::vector<int16_t> left;
  for (size_t i = 0; i < all.size(); i += 2) left.push_back(all[i]);
  return left;
}

// A 350 ms tune that loops smoothly over the TrackFrames(350) frames a
// repetition takes: one slow and one fast sine, each a whole number of
// periods in the loop (so no two stretches of the loop are alike, and its
// largest step from sample to sample is small).
std::vector<int16_t> LoopTune(test::TAudioMedia& media, const std::string& name, size_t loop, std::string& path) {
  const uint32_t frames = 15435;  // 350 ms
  std::vector<int16_t> left(frames);
  std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
  auto le = [&b](uint32_t v, int n) {
    for (int k = 0; k < n; ++k) b.push_back(uint8_t(v >> (8 * k)));
  };
  le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  le(frames * 4, 4);
  const double w = 2 * 3.14159265358979323846 / double(loop);
  for (uint32_t j = 0; j < frames; ++j) {
    left[j] = int16_t(std::lround(8000 * std::sin(w * j) + 4000 * std::sin(20 * w * j)));
    le(uint16_t(left[j]), 2), le(uint16_t(left[j]), 2);
  }
  const uint32_t riff = uint32_t(b.size() - 8);
  for (int k = 0; k < 4; ++k) b[4 + size_t(k)] = uint8_t(riff >> (8 * k));
  path = media.Path(name);
  test::WriteFileBytes(path, b);
  return left;
}

TEST(MusicLoop, ARepeatingTrackJoinsItsRepetitionsSampleForSample) {
  test::TAudioMedia media;
  const size_t loop = size_t(TrackFrames(350));
  std::string tune;
  const std::vector<int16_t> want = LoopTune(media, "tune.wav", loop, tune);
  int file_step = 0;
  for (size_t i = 0; i + 1 < loop; ++i) file_step = std::max(file_step, std::abs(want[i + 1] - want[i]));
  file_step = std::max(file_step, std::abs(want[0] - want[loop - 1]));
  ASSERT_LT(file_step, 100);

  for (const char* mode : {"0", "1"}) {
    SCOPED_TRACE(std::string("opt_syncmode=") + mode);
    const std::string text = "object Music:TMusic\nobject T:TMusicTrack\nobject A:TMusicItem\nFileName=" + tune +
                             "\nDuration=350\nend\nend\nend\n[Main]\nopt_syncmode=" + mode +
                             "\n[Times]\nopt_slidescount=3\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
                             "opt_synchpos3=9000\n";
    // 2.5 s: past the first block the channel decodes ahead (1.5 s), so
    // repetitions join in both the first block and the later fills.
    const auto heard = PlayShow(text, 2500);
    // Where the track begins in the output: after the 10 ms fade-in the
    // samples are the file's.
    size_t at = heard.size();
    for (size_t o = 0; o + 441 + 2000 < heard.size() && at == heard.size(); ++o) {
      if (heard[o + 441] != want[441]) continue;
      bool same = true;
      for (size_t j = 441; j < 2441 && same; ++j) same = heard[o + j] == want[j];
      if (same) at = o;
    }
    ASSERT_LT(at, heard.size()) << "the track was not heard";
    const size_t heard_frames = heard.size() - at;
    ASSERT_GT(heard_frames, 4 * loop) << "too little was heard";
    // Every sample from there on is the file's, repetition after repetition.
    size_t joins = 0;
    for (size_t j = 441; j < heard_frames; ++j) {
      ASSERT_EQ(heard[at + j], want[j % loop]) << "frame " << j << " (repetition " << j / loop << ")";
      if (j % loop == 0) {
        ++joins;
        ASSERT_LE(std::abs(heard[at + j] - heard[at + j - 1]), file_step) << "a jump at repetition " << j / loop;
      }
    }
    EXPECT_GE(joins, 4u);
  }
}

}  // namespace
}  // namespace kav
