#include <gtest/gtest.h>

#include "Kav/KavViewer/KavShowMusic.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "KavLib2/KavMusic/KavMusicPlayer.h"
#include "VoRav/vxTime.h"
#include "platform/sound/SndDevice.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"
#include "tests/KavLib2/KavEngine/EngineStubs.h"
#include "tests/VoRav/LogCapture.h"

using namespace kav;
using namespace kav::enginetest;

TEST(ShowMusic, EngineFactoryMakesShowMusicAndItKeepsTheStopTime) {
  InstallShowMusic();
  auto source = Source("", 3);
  Ref<TEngineMusic> music = NewEngineMusic(source.get());
  auto* show = dynamic_cast<TShowMusic*>(music.get());
  ASSERT_NE(show, nullptr);
  ASSERT_NE(show->Player(), nullptr);
  music->Start();
  music->SetPlaying(false);
  music->SeekTo(1500, 2500);
  EXPECT_EQ(music->StopTime(), 2500);
  music->SetStopTime(2800);
  EXPECT_EQ(music->StopTime(), 2800);
  music = nullptr;  // stops the music threads
  SetEngineMusicFactory(nullptr);
  EXPECT_NE(dynamic_cast<TSilentShowClock*>(NewEngineMusic(source.get()).get()), nullptr);
}

namespace {

// The engine with the show's music over a sound device that does not open.
class ShowWithoutSound : public EngineAppTest {
 protected:
  void SetUp() override {
    EngineAppTest::SetUp();
    before_ = SetSndDeviceFactory([]() -> Ref<TSndDevice> { return nullptr; });
    InstallShowMusic();
  }
  void TearDown() override {
    if (engine) engine->StopEngine();
    engine = nullptr;
    SetEngineMusicFactory(nullptr);
    SetSndDeviceFactory(before_);
    EngineAppTest::TearDown();
  }
  // Passes (the engine's own clock standing) until the engine plays; up to
  // 20 s of real time.
  bool PassUntilActive() {
    for (int i = 0; i < 4000; ++i) {
      engine->MainLoop();
      if (engine->Active()) return true;
      SleepMs(5);
    }
    return false;
  }

  Ref<TKavEngine> engine;
  TFactoryScope factory;
  TSndDeviceFactory before_ = nullptr;
};

// A synchronised track (in [Main]) and a comment on the first two slides:
// items the music waits for before the clock may start. The files need not
// exist: without a device nothing is opened.
const char* kMusicMain =
    "opt_syncmode=1\r\nobject Music:TMusic\nobject T:TMusicTrack\nobject A:TMusicItem\nFileName=tune.mp3\n"
    "Duration=4000\nend\nend\nend\n";
const char* kComments =
    "[Slide1]\nobject Root:TSlide\nobject Music:TMusic\nobject C:TSoundComment\nFileName=talk.wav\n"
    "Duration=800\nend\nend\nend\n"
    "[Slide2]\nobject Root:TSlide\nobject Music:TMusic\nobject C:TSoundComment\nFileName=talk.wav\n"
    "Duration=800\nend\nend\nend\n";

}  // namespace

TEST_F(ShowWithoutSound, TheShowPlaysOnTheProgramsClockWithOneLogLine) {
  test::TLogCapture log;
  engine = MakeRef<TKavEngine>(app.get(), rig->Device.get(), false, true, false);
  ASSERT_TRUE(engine->OpenShow(DiskAccessor().get(), ShowOptions(kMusicMain, 6, kComments).get(), 0));
  engine->EventList()->PostEvent(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive()) << "the clock never started";
  // The time runs on the wall clock: wait (generously) for it to pass 300 ms.
  const double start = engine->LoaderTime();
  double now = start;
  for (int i = 0; i < 2000 && now < start + 300; ++i) {
    SleepMs(10);
    engine->MainLoop();
    now = engine->LoaderTime();
  }
  EXPECT_GE(now, start + 300);
  EXPECT_TRUE(engine->Active());
  int said = 0;
  for (const std::u16string& line : log.Lines()) said += line.find(u"No sound output") != std::u16string::npos;
  EXPECT_EQ(said, 1);
}
