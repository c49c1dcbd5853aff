// A show as its viewer sees it: the engine over the real slide production,
// drawing through the software device into the offscreen sink, on the fake
// engine clock. Two slides, each one box of its own colour over the whole
// slide: red (3000 ms) and blue (3000 ms).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "VoRav/vxTime.h"
#include "tests/KavLib2/KavClasses/ShowFixture.h"
#include "tests/Kav/KavViewer/ShowDeviceFixture.h"
#include "tests/KavLib2/KavEngine/EngineAppFixture.h"
#include "tests/KavLib2/KavObjects/ShowFolderTestUtil.h"
#include "tests/VoRav/LogCapture.h"

using namespace kav;
using namespace kav::enginetest;

namespace {

constexpr int32_t kW = 192, kH = 108;  // the 16:9 show fills the window

std::string Box(const std::string& colour) {
  return test::Obj("box", "Box",
                   "Size=1920,1080\nFillMode=HGradient\nColor1=" + colour + "\nColor2=" + colour + "\n" +
                       test::KeyPoint("Time=0\nPosition=0,0\nScaleX=100\nScaleY=100\n"));
}

std::string Effect(const std::string& ref, int time = 1000) {
  return "object TheEffect:AnEffect\r\nref=" + ref + "\r\ntime=" + std::to_string(time) + "\r\nend\r\n";
}

// `into_second`: the transition into the blue slide ("quick" for none);
// the red slide comes in without one.
std::string Project(const std::string& repeat, const std::string& into_second, const std::string& first_extra = "") {
  return "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\nopt_repeat=" + repeat +
         "\r\nobject TheEffect:AnEffect\r\ntime=1000\r\n"
         "object dissolve:Effect\r\nchecked=1\r\nstdidx=2\r\nend\r\n"
         "object push:Effect\r\nchecked=1\r\ndirection=1000\r\nstdidx=9\r\nend\r\n"
         "end\r\n"
         "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n"
         "[Slide1]\r\n" + first_extra + Box("200,30,30") + Effect("quick") +
         "[Slide2]\r\n" + Box("30,30,200") + Effect(into_second);
}

int Red(uint32_t c) { return int((c >> 16) & 0xFF); }
int Blue(uint32_t c) { return int(c & 0xFF); }
bool IsRed(uint32_t c) { return Red(c) > 170 && Blue(c) < 60; }
bool IsBlue(uint32_t c) { return Blue(c) > 170 && Red(c) < 60; }

class ShowPlaybackTest : public ShowDeviceTest<kW, kH> {
 protected:

  void Open(const std::string& project, int32_t start, bool loop_and_action = false) {
    folder.WriteText("Project.kav", project);
    if (engine) engine->StopEngine();
    engine = MakeRef<TKavEngine>(app.get(), rig->Device.get(), false, true, false);
    engine->SetLoopAndAction(loop_and_action);
    auto files = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>(folder.Wide()).get());
    ASSERT_TRUE(engine->OpenShow(files.get(), test::ProjectIni(project).get(), start));
  }
  // Passes (the fake clock standing) until a frame with the full window of
  // slides was drawn.
  bool PassUntilDrawn() {
    const int64_t before = engine->FramesDrawn();
    for (int i = 0; i < 10000; ++i) {  // the loader's thread makes the slides: a generous wait
      engine->MainLoop();
      if (engine->SlideCount() == 3 && engine->FramesDrawn() > before) return true;
      SleepMs(2);
    }
    return false;
  }
  void Resume() {
    engine->EventList()->PostEvent(kEngineMode, new TModeData(false));
    for (int i = 0; i < 5000 && !engine->Active(); ++i) {
      engine->MainLoop();
      SleepMs(2);
    }
  }
  // Advances the fake clock in steps of 20 ms with one pass each.
  void Play(int ms) {
    for (int t = 0; t < ms; t += 20) {
      Now += 20;
      engine->MainLoop();
    }
  }
  // One pass, then the fake clock moves on as the real one would have: by
  // the wait the pass chose when it drew nothing, else by a few ms.
  void PassAsWaited(bool* drew) {
    const int64_t frames = engine->FramesDrawn();
    engine->MainLoop();
    *drew = engine->FramesDrawn() != frames;
    Now += *drew ? 3 : std::max<int64_t>(engine->IdleWaitMs(), 1);
  }
  uint32_t Centre(const std::string& dump) {
    rig->Sink->WritePng(dxtest::kWindow, test::SlideDumpPath(dump));
    return rig->Pixel(kW / 2, kH / 2);
  }

  test::TShowFolder folder;
};

// Mid-way through a dissolve both slides are seen: the red slide that
// leaves is still whole, not its black background.
TEST_F(ShowPlaybackTest, MidDissolveMixesBothSlides) {
  Open(Project("repeat", "dissolve"), 3500);
  ASSERT_TRUE(PassUntilDrawn());
  const uint32_t c = Centre("playback_mid_dissolve.png");
  EXPECT_NEAR(Red(c), 115, 30) << std::hex << c;
  EXPECT_NEAR(Blue(c), 115, 30) << std::hex << c;
  // Before and after the transition each slide alone.
  Open(Project("repeat", "dissolve"), 2500);
  ASSERT_TRUE(PassUntilDrawn());
  EXPECT_TRUE(IsRed(Centre("playback_before_dissolve.png")));
  Open(Project("repeat", "dissolve"), 4500);
  ASSERT_TRUE(PassUntilDrawn());
  EXPECT_TRUE(IsBlue(Centre("playback_after_dissolve.png")));
}

// Mid-way through a push one part of the frame shows the leaving slide,
// the other the coming one.
TEST_F(ShowPlaybackTest, MidPushShowsBothSlides) {
  Open(Project("repeat", "push"), 3500);
  ASSERT_TRUE(PassUntilDrawn());
  rig->Sink->WritePng(dxtest::kWindow, test::SlideDumpPath("playback_mid_push.png"));
  const auto frame = rig->Frame();
  int red = 0, blue = 0;
  for (int32_t y = 2; y < kH - 2; ++y)
    for (int32_t x = 2; x < kW - 2; ++x) {
      const uint32_t c = frame.Pixels[size_t(y) * frame.Width + size_t(x)];
      red += IsRed(c);
      blue += IsBlue(c);
    }
  const int all = (kW - 4) * (kH - 4);
  EXPECT_GT(red, all / 4);
  EXPECT_GT(blue, all / 4);
}

// At the end of a show that stops there the last slide's last frame stays;
// the engine neither starts again nor draws while it stands there.
TEST_F(ShowPlaybackTest, TheEndOfAStoppingShowHoldsTheLastSlide) {
  Open(Project("stop", "dissolve"), 5500);
  ASSERT_TRUE(PassUntilDrawn());
  test::TLogCapture log;
  Resume();
  ASSERT_TRUE(engine->Active());
  Play(1000);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->LoaderTime(), 6000);
  EXPECT_TRUE(IsBlue(Centre("playback_stop_end.png")));
  // Many passes at the end: no state changes, no frames.
  log.Take();
  const int64_t frames = engine->FramesDrawn();
  for (int i = 0; i < 300; ++i) {
    Play(20);
    ASSERT_FALSE(engine->Active()) << i;
  }
  int switches = 0;
  for (const auto& line : log.Take()) switches += line.find(u"SetActive(") != std::u16string::npos;
  EXPECT_EQ(switches, 0);
  EXPECT_EQ(engine->FramesDrawn(), frames);
  EXPECT_TRUE(IsBlue(Centre("playback_stop_end_later.png")));
}

// A stop point on a slide the next one follows without a transition holds
// the stopping slide, not the next one.
TEST_F(ShowPlaybackTest, AStopPointWithoutTransitionHoldsItsSlide) {
  Open(Project("repeat", "quick", "Pers_EndAction=pause\r\n"), 2500, true);
  ASSERT_TRUE(PassUntilDrawn());
  Resume();
  ASSERT_TRUE(engine->Active());
  Play(1000);
  EXPECT_TRUE(engine->Barrier());
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->LoaderTime(), 3000);
  const int64_t frames = engine->FramesDrawn();
  Play(2000);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->FramesDrawn(), frames);
  EXPECT_TRUE(IsRed(Centre("playback_stop_point.png")));
  // Going on past the stop point shows the next slide.
  engine->ContinuePastStopPoint();
  Play(500);
  EXPECT_TRUE(engine->Active());
  EXPECT_TRUE(IsBlue(Centre("playback_past_stop_point.png")));
}

// On a slide that otherwise stands still, boxes due 100 ms apart (their
// visible windows open) and a box whose keyframes start later are each
// drawn within a frame of their time, while the engine waits long between
// them; show times compared, the clock moving by the waits the engine chose.
TEST_F(ShowPlaybackTest, ObjectsDueOnAStillSlideAreDrawnOnTime) {
  std::string boxes;
  for (int i = 0; i < 5; ++i)
    boxes += test::Obj("g" + std::to_string(i), "Box",
                       "Size=200,200\nFillMode=HGradient\nColor1=30,200,30\nColor2=30,200,30\nDeltaTime1=" +
                           std::to_string(1000 + 100 * i) + "\n" +
                           test::KeyPoint("Time=0\nPosition=" + std::to_string(-80 + 40 * i) +
                                          ",0\nScaleX=15\nScaleY=15\n"));
  boxes += test::Obj("mover", "Box",
                     "Size=100,100\nFillMode=HGradient\nColor1=30,30,200\nColor2=30,30,200\n" +
                         test::KeyPoint("Time=2200\nPosition=0,60\nScaleX=10\nScaleY=10\n") +
                         test::KeyPoint("Time=2600\nPosition=40,60\nScaleX=10\nScaleY=10\n"));
  std::string project = Project("repeat", "quick");
  project.insert(project.find("[Slide2]"), boxes);
  Open(project, 500);
  ASSERT_TRUE(PassUntilDrawn());
  Resume();
  ASSERT_TRUE(engine->Active());
  double seen[5] = {-1, -1, -1, -1, -1};
  double moved = -1;
  bool waited_long = false;
  for (int i = 0; i < 5000 && engine->LoaderTime() < 2800; ++i) {
    bool drew = false;
    const double t = engine->LoaderTime();
    PassAsWaited(&drew);
    if (!drew) {
      waited_long = waited_long || engine->IdleWaitMs() >= 200;
      continue;
    }
    const double at = engine->LoaderTime() > t ? engine->LoaderTime() : t;
    if (at > 2200 && moved < 0) moved = at;
    const auto frame = rig->Frame();
    for (int b = 0; b < 5; ++b) {
      const uint32_t c = frame.Pixels[size_t(kH / 2) * frame.Width + size_t(96 + (-768 + 384 * b) / 10)];
      if (seen[b] < 0 && int((c >> 8) & 0xFF) > 150 && Red(c) < 80) seen[b] = at;
    }
  }
  Centre("playback_due_objects.png");
  EXPECT_TRUE(waited_long);
  for (int b = 0; b < 5; ++b) {
    const double due = 1000 + 100 * b;
    EXPECT_GE(seen[b], due) << b;
    EXPECT_LE(seen[b], due + 16 + 8) << b;
  }
  EXPECT_GT(moved, 2200);
  EXPECT_LE(moved, 2200 + 16 + 8);
}

}  // namespace
