// The music player's clock: pause and resume, seeks, the stop time, and a
// comment that a seek passed is not played.
#include <gtest/gtest.h>

#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxTime.h"
#include "platform/sound/null/SndNullDevice.h"
#include "tests/KavLib2/KavMusic/MusicTestShow.h"

namespace kav {
namespace {

using test::ShowSource;

TEST(KavMusicPlayer, ClockPausesResumesSeeksAndStopsAtTheStopTime) {
  auto before = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
  auto source = ShowSource("[Main]\n[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n");
  auto player = MakeRef<TKavMusicPlayer>(source.get(), false);
  player->StartThreads();
  player->SeekTo(1000, -1);
  EXPECT_EQ(player->GetTime(), 1000);
  player->SetActive(true);
  SleepMs(300);
  const double running = player->GetTime();
  EXPECT_GT(running, 1100);
  player->SetActive(false);
  // Paused: the clock stands (two reads 50 ms apart agree; 30 s at most,
  // a loaded machine) and stays.
  const uint32_t start = GetElapsedMs();
  double paused = player->GetTime();
  for (;;) {
    SleepMs(50);
    const double now = player->GetTime();
    if (now == paused || ElapsedSinceMs(start) > 30000) break;
    paused = now;
  }
  SleepMs(200);
  EXPECT_EQ(player->GetTime(), paused);
  player->SetActive(true);
  const uint32_t resumed = GetElapsedMs();
  SleepMs(30);
  // Continuous: no jump over the pause (no more than the time that passed).
  EXPECT_LT(player->GetTime() - paused, double(ElapsedSinceMs(resumed)) + 70);
  // Stops at the stop time: reaches it, then stands.
  const double stop = player->GetTime() + 2000;
  player->SetStopTime(stop);
  for (int i = 0; i < 3000 && player->GetTime() < stop; ++i) SleepMs(10);
  EXPECT_EQ(player->GetTime(), stop);
  SleepMs(200);
  EXPECT_LE(player->GetTime(), stop);
  player->SeekTo(4000, 1e9);
  EXPECT_EQ(player->GetTime(), 4000);
  player->StopThreads();
  player = nullptr;
  SetSndDeviceFactory(before);
}

TEST(KavMusicPlayer, ACommentThatASeekPassedIsNotPlayed) {
  auto before = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return MakeRef<TSndNullDevice>(); });
  // Slide 1 (0..3000) has a 1000 ms comment; a seek to 2000 passed it.
  auto source = ShowSource(
      "[Main]\nopt_fullyplaysound=1\nopt_repeat=stop\n[Times]\nopt_slidescount=2\nopt_synchpos1=3000\nopt_synchpos2=6000\n"
      "[Slide1]\nobject R:TSlide\nobject Music:TMusic\nobject C:TSoundComment\nFileName=/nonexistent/c.wav\n"
      "Duration=1000\nend\nend\nend\n");
  auto player = MakeRef<TKavMusicPlayer>(source.get(), false);
  EXPECT_EQ(player->ItemCount(), 1);  // scheduled from 0
  player->StartThreads();
  player->SeekTo(2000, -1);  // handled before it returns
  EXPECT_EQ(player->ItemCount(), 0);
  player->StopThreads();
  player = nullptr;
  SetSndDeviceFactory(before);
}

}  // namespace
}  // namespace kav
