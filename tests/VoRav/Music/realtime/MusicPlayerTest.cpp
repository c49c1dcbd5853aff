// Channels on the null device in real time: fades, stops, the end of the
// data, positions, and the player's clock and volume.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <cmath>
#include <cstdio>

#include "VoRav/Music/MusicPlayer.h"
#include "VoRav/Music/vxFFMpegConverter.h"
#include "VoRav/vxTime.h"
#include "platform/sound/null/SndNullDevice.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/ConverterCheck.h"
#include "tests/VoRav/Music/MachineLoad.h"

namespace kav {
namespace {

// A null device on the real clock that keeps what it mixed.
struct TCaptureRig {
  static inline TSndNullDevice* current = nullptr;
  Ref<TSndNullDevice> sound = MakeRef<TSndNullDevice>();
  TSndDeviceFactory previous;
  Ref<TMusicPlayer> player;
  TCaptureRig() {
    sound->SetCapture(true);
    current = sound.get();
    previous = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return Ref<TSndDevice>(current); });
    player = CreateMusicPlayer();
  }
  ~TCaptureRig() {
    player = nullptr;
    SetSndDeviceFactory(previous);
    current = nullptr;
  }
  // Left samples of the output from the first non-silent one on.
  std::vector<int16_t> Heard() {
    auto all = sound->TakeCapture();
    std::vector<int16_t> left;
    size_t i = 0;
    while (i < all.size() && all[i] == 0) i += 2;
    for (i -= i % 2; i < all.size(); i += 2) left.push_back(all[i]);
    return left;
  }
};

std::string Level(test::TAudioMedia& media, const std::string& name, double seconds) {
  return media.Level(name, seconds, 16384);
}

// Counted on the channel killer's thread, read by the test's.
struct TEnds {
  std::atomic<int> count{0};
  void OnEnd(TChannel*) { ++count; }
};

// One channel played for 400 ms with a fade-in of 10 ms and stopped with a
// fade-out of 10 ms, as the device mixed it.
struct TFadeRun {
  std::vector<int16_t> heard;
  double played_ms = 0;
  double position = 0;
  int passes = -1;
  int ends = 0;
  // Frames the device reached while the refill thread was still writing
  // them: they sounded as silence.
  uint64_t late = 0;
};

TFadeRun PlayAndStopWithAFade(const std::string& file) {
  TFadeRun run;
  TCaptureRig rig;
  EXPECT_TRUE(rig.player && rig.player->Init());
  if (!rig.player) return run;
  Ref<TChannel> ch = rig.player->CreateChannel(SystemUTF8ToWide(file), TMusicPlayer::kNoPosition);
  EXPECT_TRUE(ch);
  if (!ch) return run;
  TEnds ends;
  ch->OnEnd = TChannel::TEndHandler::Bind<&TEnds::OnEnd>(&ends);
  EXPECT_EQ(ch->GetDuration(), 20000u);
  // The device's clock runs from its making: what fell due while the file
  // was opened on a loaded machine is mixed now, as silence, so the
  // channel does not start with a backlog that plays it ahead of the clock.
  rig.sound->Advance();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(ch->Play(10));
  EXPECT_FALSE(ch->Play(10));  // already playing
  SleepMs(400);
  EXPECT_TRUE(ch->Stop(10));
  run.played_ms =
      double(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
  auto* music = static_cast<TChannelMusic*>(ch.get());
  for (int i = 0; i < 3000 && music->PassCount() > 0; ++i) SleepMs(10);  // 30 s at least
  run.passes = music->PassCount();
  run.ends = ends.count.load();
  run.heard = rig.Heard();
  run.late = rig.sound->LateFrames();
  run.position = double(ch->GetPosition());
  return run;
}

TEST(MusicPlayer, FadesInPlaysStopsWithAFadeAndIsReleased) {
  test::TAudioMedia media;
  // Long enough that a loaded machine's slow sleep never reaches its end.
  const std::string file = Level(media, "level.wav", 20.0);
  // The stop's fade is written over what is queued 25 ms ahead of the
  // device; a refill thread held up longer than that (a loaded machine,
  // ThreadSanitizer) leaves the device to reach the fade while it is still
  // being written, and it sounds as silence there, as a late refill does.
  // The position, read from the refill thread's last look at the device
  // and the time since, strays as far as that thread is held up. A run in
  // which the writer did not keep real time so shows nothing of the fade
  // or the position: while the machine is loaded it is set aside and
  // another is made; on a machine that is not loaded it counts, so a
  // refill late by our own doing still fails.
  TFadeRun run;
  std::string set_aside;
  bool measured = false;
  for (int attempt = 0; attempt < 4 && !measured; ++attempt) {
    run = PlayAndStopWithAFade(file);
    if (HasFailure()) return;
    const bool kept_real_time = run.late == 0 && std::abs(run.position - run.played_ms) <= 150;
    double load = 0;
    if (!kept_real_time && test::MachineLoaded(load)) {
      char line[160];
      std::snprintf(line, sizeof line,
                    " [load %.1f: %llu frames reached while being written, position %.0f ms after %.0f ms]", load,
                    static_cast<unsigned long long>(run.late), run.position, run.played_ms);
      set_aside += line;
      continue;
    }
    measured = true;
  }
  if (!measured) GTEST_SKIP() << "the machine is too loaded for the refill to keep up with the sound device:" << set_aside;
  EXPECT_EQ(run.passes, 0);  // the killer released the pass
  EXPECT_EQ(run.ends, 0);    // a stop is no end of the data
  const auto& heard = run.heard;
  ASSERT_GT(heard.size(), 44100u / 4);
  const int16_t level = heard[5000];

  EXPECT_NEAR(level, 16384, 2000);
  // Fade-in: 441 frames rising by 1/441 per frame.
  for (int i = 0; i < 441; ++i) ASSERT_NEAR(heard[size_t(i)], level * (i + 1) / 441.0, 2) << i;
  // Then the file as it is.
  for (size_t i = 441; i < 10000; ++i) ASSERT_EQ(heard[i], level) << i;
  // Fade-out to silence within 10 ms, then nothing.
  size_t last = heard.size();
  while (last > 0 && heard[last - 1] == 0) --last;
  size_t fade_start = last;
  while (fade_start > 0 && heard[fade_start - 1] < level) --fade_start;
  EXPECT_LE(last - fade_start, 442u);
  EXPECT_GE(last - fade_start, 430u) << run.late << " frames reached while being written";
  EXPECT_NEAR(run.position, run.played_ms, 150) << run.late << " frames reached while being written";
}

TEST(MusicPlayer, EndOfDataReleasesThePassAndCallsTheEndHandler) {
  test::TAudioMedia media;
  const std::string file = Level(media, "short.wav", 0.3);
  TCaptureRig rig;
  Ref<TChannel> ch = rig.player->CreateChannel(SystemUTF8ToWide(file), TMusicPlayer::kNoPosition);
  ASSERT_TRUE(ch);
  TEnds ends;
  ch->OnEnd = TChannel::TEndHandler::Bind<&TEnds::OnEnd>(&ends);
  rig.sound->Advance();  // the backlog before playing is silence
  const int64_t start = GetElapsedMs64();
  ch->Play(0);  // a fade of 0 ms still uses one step
  for (int i = 0; i < 6000 && ends.count == 0; ++i) SleepMs(5);  // 30 s at least: a loaded machine
  const int64_t took = GetElapsedMs64() - start;
  EXPECT_EQ(ends.count.load(), 1);
  // Released after the last queued byte was heard, never before.
  EXPECT_GE(took, 300);
  const auto heard = rig.Heard();
  EXPECT_EQ(heard[0], 16384);
  size_t n = 0;
  while (n < heard.size() && heard[n] != 0) ++n;
  EXPECT_EQ(n, 13230u);  // 0.3 s
}

TEST(MusicPlayer, SetPositionCrossFadesAndStartsThere) {
  test::TAudioMedia media;
  const std::string file = media.Sweep("sweep.wav", 44100, 2, 3.0);
  TCaptureRig rig;
  auto ch = rig.player->CreateChannel(SystemUTF8ToWide(file), 2000);
  ASSERT_TRUE(ch);
  EXPECT_EQ(ch->GetPosition(), 2000);
  ch->Play(10);
  SleepMs(200);
  const int64_t moved = GetElapsedMs64();
  ch->SetPosition(500);
  auto* music = static_cast<TChannelMusic*>(ch.get());
  const int passes = music->PassCount();
  // The old pass fades out beside the new. Its fade is written 25 ms ahead
  // of the device and the pass released 20 ms after that is heard: a look
  // within 20 ms of the seek finds both; a later one (this thread held up
  // on a loaded machine) may find the old one gone already.
  if (GetElapsedMs64() - moved <= 20)
    EXPECT_EQ(passes, 2);
  else
    EXPECT_TRUE(passes == 1 || passes == 2) << passes;
  for (int i = 0; i < 3000 && music->PassCount() > 1; ++i) SleepMs(10);  // 30 s at least
  EXPECT_EQ(music->PassCount(), 1);
  SleepMs(100);
  // The new pass started at 500 ms and has played since: never ahead of
  // the time measured since the seek, and moving on. Its pace is not
  // asserted: a loaded machine holds the mixer back.
  const int64_t played = GetElapsedMs64() - moved;
  const double at = double(ch->GetPosition());
  EXPECT_GE(at, 500.0);
  EXPECT_LE(at, 500.0 + double(played) + 120);
  for (int i = 0; i < 3000 && double(ch->GetPosition()) < at + 100; ++i) SleepMs(10);  // 30 s at least
  EXPECT_GE(double(ch->GetPosition()), at + 100);
  ch = nullptr;  // returns once the playing pass has faded and been released
  EXPECT_EQ(ChannelKillerPending(), 0);
}

TEST(MusicPlayer, RefusesWhatItCannotPlayAndRunsTheClock) {
  test::TAudioMedia media;
  TCaptureRig rig;
  EXPECT_FALSE(rig.player->CreateChannel(u"/nonexistent/file.wav", TMusicPlayer::kNoPosition));
  const std::string junk = media.Path("junk.wav");
  test::WriteFileBytes(junk, std::vector<uint8_t>(1000, 7));
  EXPECT_FALSE(rig.player->CreateChannel(SystemUTF8ToWide(junk), TMusicPlayer::kNoPosition));
  auto* player = static_cast<TMusicPlayerClass*>(rig.player.get());
  EXPECT_EQ(player->ChannelCount(), 0);
  // The clock: one timer channel, started on first use.
  EXPECT_EQ(player->TimerChannel(), nullptr);
  rig.player->GetClockTime();
  TTimerChannel* timer = player->TimerChannel();
  ASSERT_NE(timer, nullptr);
  SleepMs(200);
  const double t = rig.player->GetClockTime();
  EXPECT_GT(t, 50);
  EXPECT_EQ(player->TimerChannel(), timer);
  // Master volume reaches the channels.
  auto ch = rig.player->CreateChannel(SystemUTF8ToWide(Level(media, "v.wav", 0.5)), TMusicPlayer::kNoPosition);
  ASSERT_TRUE(ch);
  EXPECT_EQ(player->ChannelCount(), 1);
  rig.player->SetVolume(0.5f);
  EXPECT_FLOAT_EQ(ch->GetMasterVolume(), 0.5f);
  ch = nullptr;
  EXPECT_EQ(player->ChannelCount(), 0);
  // Without a sound device there is no player at all.
  auto before = SetSndDeviceFactory(nullptr);
  EXPECT_FALSE(CreateMusicPlayer());
  auto bare = MakeRef<TMusicPlayerClass>();
  EXPECT_FALSE(bare->Init());
  EXPECT_EQ(bare->GetClockTime(), 0);
  EXPECT_FALSE(bare->CreateChannel(u"x.wav", 0));
  SetSndDeviceFactory(before);
}

TEST(MusicPlayer, AnM4AFileIsMixedAsTheReferenceDecodesIt) {
  ASSERT_TRUE(InstallMediaLibraryAudio());
  test::TAudioMedia media;
  const std::string wav = media.Sweep("m4a.wav", 44100, 2, 1.0);
  const std::string m4a = media.Ffmpeg("m4a.m4a", wav, {"-c:a", "aac", "-b:a", "128k"});
  const auto ref = test::WavSamples(media.Ffmpeg("m4a.ref.wav", m4a, {"-vn", "-c:a", "pcm_s16le"}));
  std::vector<int16_t> want;
  size_t i = 0;
  while (i < ref.size() && ref[i] == 0) i += 2;
  for (i -= i % 2; i < ref.size(); i += 2) want.push_back(ref[i]);
  ASSERT_GT(want.size(), 20000u);
  {
    TCaptureRig rig;
    ASSERT_TRUE(rig.player && rig.player->Init());
    Ref<TChannel> ch = rig.player->CreateChannel(SystemUTF8ToWide(m4a), TMusicPlayer::kNoPosition);
    ASSERT_TRUE(ch);
    EXPECT_NEAR(double(ch->GetDuration()), 1000, 50);
    ch->Play(0);
    SleepMs(700);
    ch->Stop(0);
    auto* music = static_cast<TChannelMusic*>(ch.get());
    for (int k = 0; k < 300 && music->PassCount() > 0; ++k) SleepMs(10);
    const auto heard = rig.Heard();
    ASSERT_GT(heard.size(), 20000u);
    // One channel at full volume passes through the mixer unchanged: the
    // first 20,000 samples are ffmpeg's, from the first sound on (AAC
    // decodes to floats, which the two round to 16 bits a little apart).
    for (size_t j = 0; j < 20000; ++j) ASSERT_NEAR(heard[j], want[j], 2) << j;
    ch = nullptr;
  }
  UninstallMediaLibraryAudio();
}

}  // namespace
}  // namespace kav
