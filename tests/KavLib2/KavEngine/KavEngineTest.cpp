#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "EngineAppFixture.h"
#include "platform/d3d/SwDeviceBackend.h"
#include "EngineStubs.h"
#include "KavLib2/KavEngine/KavEngine.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxTime.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::enginetest;
using namespace kav::win;

namespace {

struct TSeen {
  std::vector<std::vector<int32_t>> times;  // id, time, duration, finished
  std::vector<std::vector<int32_t>> events;  // code, params...
  std::vector<std::u16string> texts;
  int states = 0;
  void State(TCustomKavEngine*) { states++; }
  void Time(TCustomKavEngine* e, int32_t time, bool finished, int32_t duration) {
    times.push_back({e->OpenCounter(), time, duration, finished});
  }
  void Event(TCustomKavEngine*, TKavEventData* d) {
    std::vector<int32_t> v{int32_t(d->Code)};
    v.insert(v.end(), d->Params.begin(), d->Params.end());
    events.push_back(v);
    if (d->Code == kGuiAction) texts.push_back(d->Object ? static_cast<TStrValue*>(d->Object)->Value : u"");
  }
};

class ShowEngineTest : public EngineAppTest {
 protected:
  void TearDown() override {
    if (engine) engine->StopEngine();
    engine = nullptr;
    EngineAppTest::TearDown();
  }

  void Make(const std::string& main, const std::string& extra = "", int slides = 6, bool loop_and_action = false) {
    engine = MakeRef<TKavEngine>(app.get(), rig->Device.get(), false, true, false);
    engine->OnState = TKavStateEvent::Bind<&TSeen::State>(&seen);
    engine->OnTime = TKavTimeEvent::Bind<&TSeen::Time>(&seen);
    engine->OnEvent = TKavEngineEvent::Bind<&TSeen::Event>(&seen);
    engine->SetLoopAndAction(loop_and_action);
    ASSERT_TRUE(engine->OpenShow(DiskAccessor().get(), ShowOptions(main, slides, extra).get(), 0));
  }
  // Runs passes until the engine holds a full window of slides.
  bool PassUntilSlides() {
    for (int i = 0; i < 1000; ++i) {
      engine->MainLoop();
      if (engine->SlideCount() == 3) return true;
      SleepMs(2);
    }
    return false;
  }
  // Runs passes (the fake clock standing) until the engine plays.
  bool PassUntilActive() {
    for (int i = 0; i < 1000; ++i) {
      engine->MainLoop();
      if (engine->Active()) return true;
      SleepMs(2);
    }
    return false;
  }
  // Advances the fake clock by `ms` in steps of 20 with one pass each.
  void Play(int ms) {
    for (int t = 0; t < ms; t += 20) {
      Now += 20;
      engine->MainLoop();
    }
  }
  // One pass, then the fake clock moves on as the real one would have: by
  // the wait the pass chose when it drew nothing, else by a few ms. Answers
  // the pass's show time.
  double PassAsWaited() {
    const int64_t frames = engine->FramesDrawn();
    engine->MainLoop();
    const double t = engine->LoaderTime();
    Now += engine->FramesDrawn() != frames ? 3 : std::max<int64_t>(engine->IdleWaitMs(), 1);
    return t;
  }
  void Post(uint32_t code, TRefObject* param) { engine->EventList()->PostEvent(code, param); }
  void Seek(int32_t time) {
    auto req = MakeRef<TOpenParams>();
    req->RequestId = engine->NextEventId();
    req->StartTime = time;
    Post(kEngineOpen, req.release());
  }
  std::vector<int32_t> LastTime() { Drain(); return seen.times.empty() ? std::vector<int32_t>{} : seen.times.back(); }

  Ref<TKavEngine> engine;
  TFactoryScope factory;
  TSeen seen;
};

}  // namespace

TEST_F(ShowEngineTest, OpensPausedReportsItsWindowAndPlaysWhenResumed) {
  Make("opt_scr_full=0\r\nopt_withoutborder=0\r\nopt_scr_width=320\r\nopt_scr_height=200\r\n");
  ASSERT_TRUE(PassUntilSlides());
  Drain();
  ASSERT_FALSE(seen.events.empty());
  EXPECT_EQ(seen.events[0], (std::vector<int32_t>{kGuiWindowSize, 320, 200, kWindowBordered}));
  // Paused: the time stands at the start and was reported once.
  Play(200);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->LoaderTime(), 0);
  Drain();
  ASSERT_EQ(seen.times.size(), 1u);  // the forced first report
  EXPECT_EQ(seen.times[0], (std::vector<int32_t>{0, 0, 6000, 0}));
  EXPECT_EQ(seen.states, 1);  // the first frame was drawn
  Post(kEngineMode, new TModeData(false));
  engine->MainLoop();
  EXPECT_TRUE(engine->Active());
  Play(500);
  EXPECT_NEAR(engine->LoaderTime(), 500, 1e-6);
  Drain();
  ASSERT_FALSE(seen.times.empty());
  EXPECT_EQ(seen.times.back()[2], 6000);  // the show's duration
  EXPECT_EQ(seen.times.back()[3], 0);
  // Pausing freezes the time.
  Post(kEngineMode, new TModeData(true));
  engine->MainLoop();
  EXPECT_FALSE(engine->Active());
  const double frozen = engine->LoaderTime();
  Play(300);
  EXPECT_EQ(engine->LoaderTime(), frozen);
}

TEST_F(ShowEngineTest, SeekMovesTheTimeAndCarriesTheRequestId) {
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  Seek(3500);
  engine->MainLoop();
  EXPECT_EQ(engine->LoaderTime(), 3500);
  EXPECT_EQ(engine->CurrentOpenId(), 1);
  EXPECT_TRUE(engine->Paused());
  const auto t = LastTime();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[1], 3500);
  // A move arriving while another is pending changes that one's id and
  // time; two pause events before it is processed: the last one applies.
  Seek(1000);
  Seek(2200);
  Post(kEngineMode, new TModeData(false));
  Post(kEngineMode, new TModeData(true));
  engine->MainLoop();
  EXPECT_EQ(engine->CurrentOpenId(), 3);
  EXPECT_EQ(engine->LoaderTime(), 2200);
  EXPECT_TRUE(engine->Paused());
  EXPECT_FALSE(engine->Active());
}

// A picture that does not change is drawn once: passes that follow, paused
// or playing a slide without motion, draw nothing until something changes.
TEST_F(ShowEngineTest, AStillFrameIsNotDrawnAgain) {
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  ASSERT_GE(engine->FramesDrawn(), 1);
  Play(100);
  const int64_t paused = engine->FramesDrawn();
  for (int i = 0; i < 300; ++i) Play(20);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->FramesDrawn(), paused);
  // Playing: the clock moves inside one slide whose picture stands still.
  Seek(100);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(20);
  const int64_t playing = engine->FramesDrawn();
  for (int i = 0; i < 20; ++i) Play(20);
  EXPECT_TRUE(engine->Active());
  EXPECT_EQ(engine->FramesDrawn(), playing);
  // Slides that do not say they stand still are looked at every frame.
  EXPECT_LE(engine->IdleWaitMs(), 16u);
}

// A still slide's pass waits until a frame before the next change the
// clock brings (the next slide), at most a quarter of a second; paused, the
// longest wait. A message, an expose or a lost device ends the wait at once.
TEST_F(ShowEngineTest, AStillSlideWaitsForItsNextChange) {
  TStubSlide::StillAfter = 0;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  ASSERT_GE(engine->FramesDrawn(), 1);
  Play(100);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  Seek(100);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(40);
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  // Near the end of the first slide the wait ends a frame before the next.
  while (engine->LoaderTime() < 800) Play(20);
  const double t = engine->LoaderTime();
  EXPECT_EQ(engine->IdleWaitMs(), uint32_t(1000 - t - 16));
  while (engine->LoaderTime() < 975) Play(20);
  EXPECT_LE(engine->IdleWaitMs(), 16u);
  // The clock after a long wait is taken as it is (not predicted from a
  // step of many frames).
  Play(20);
  Play(20);
  const double before = engine->LoaderTime();
  Play(20);
  EXPECT_NEAR(engine->LoaderTime() - before, 20, 4);

  // An expose (the device's repaint) and a lost device wake the engine.
  auto* list = static_cast<TKavThreadEventList*>(engine->EventList());
  for (int i = 0; i < 2; ++i) {
    list->WaitForMessage(0);  // takes any earlier wake
    const auto t0 = std::chrono::steady_clock::now();
    if (i == 0) rig->Device->Repaint();
    else engine->DrawController()->RndLost(nullptr);
    list->WaitForMessage(60000);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  }
  TStubSlide::StillAfter = -1;
}

// A change on a still slide that the clock brings later (an object's
// visible window, a keyframe): the wait ends a frame before it, not up to a
// quarter of a second after; once passed, the next slide is waited for.
TEST_F(ShowEngineTest, AStillSlideWakesAFrameBeforeAnObjectIsDue) {
  TStubSlide::StillAfter = 0;
  TStubSlide::ChangeAt = 500;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  // Paused, the clock standing, the change never comes.
  Play(100);
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  Seek(100);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(20);
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  while (engine->LoaderTime() < 300) Play(20);
  EXPECT_EQ(engine->IdleWaitMs(), uint32_t(500 - engine->LoaderTime() - 16));
  while (engine->LoaderTime() < 490) Play(20);
  EXPECT_LE(engine->IdleWaitMs(), 16u);
  while (engine->LoaderTime() < 800) Play(20);
  EXPECT_EQ(engine->IdleWaitMs(), uint32_t(1000 - engine->LoaderTime() - 16));
  // Passes that wait as chosen come to the next slide's change (1500)
  // within a frame of it.
  while (engine->LoaderTime() < 1100) Play(20);
  // The passes' show times: the last before the change lies within a frame
  // of it, and so does the first at or after it.
  double last = 0, t = 0;
  for (int i = 0; i < 1000 && t < 1500; ++i) {
    last = t;
    t = PassAsWaited();
  }
  EXPECT_GE(last, 1500 - 16 - 4);
  EXPECT_GE(t, 1500);
  EXPECT_LE(t, 1500 + 16 + 4);
  TStubSlide::ChangeAt = -1;
  TStubSlide::StillAfter = -1;
}

// Pausing on a still slide stops the clock where it stands at the pause,
// not at the last pass, which came before the slide's long wait; playing on
// later starts from there.
TEST_F(ShowEngineTest, PausingAStillSlideStopsTheClockAtThePause) {
  TStubSlide::StillAfter = 0;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  Seek(100);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(400);
  ASSERT_EQ(engine->IdleWaitMs(), 250u);
  const double last_pass = engine->LoaderTime();
  // The pass waits; 200 ms into its wait the person pauses.
  Now += 200;
  Post(kEngineMode, new TModeData(true));
  engine->MainLoop();
  EXPECT_FALSE(engine->Active());
  EXPECT_NEAR(engine->LoaderTime(), last_pass + 200, 2);
  const double frozen = engine->LoaderTime();
  Play(2000);
  EXPECT_EQ(engine->LoaderTime(), frozen);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(100);
  EXPECT_NEAR(engine->LoaderTime(), frozen + 100, 2);
  TStubSlide::StillAfter = -1;
}

// While the next slide comes in (the slide before still shows) a playing
// engine looks every frame; paused there, nothing moves and it waits long.
TEST_F(ShowEngineTest, APausedTransitionWaitsLongAPlayingOneDoesNot) {
  TStubSlide::StillAfter = 0;
  TStubSlide::NextEffectMs = 300;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  Seek(1100);
  engine->MainLoop();
  for (int i = 0; i < 100 && engine->SlideCount() < 2; ++i) {
    engine->MainLoop();
    SleepMs(2);
  }
  Play(40);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  Play(20);
  ASSERT_LT(engine->LoaderTime(), 1300);
  EXPECT_LE(engine->IdleWaitMs(), 16u);
  TStubSlide::NextEffectMs = 0;
  TStubSlide::StillAfter = -1;
}

// A slide the loader finishes preparing (its pictures ready) after the
// frame was drawn is drawn again once, though nothing on it moved, and the
// waiting engine is woken for it.
TEST_F(ShowEngineTest, ASlidePreparedAfterTheFrameIsDrawnAgain) {
  TStubSlide::StillAfter = 0;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  Play(100);
  const int64_t before = engine->FramesDrawn();
  ASSERT_GE(before, 1);
  EXPECT_EQ(engine->IdleWaitMs(), 250u);
  struct TItem : TDrawItem {
    void Draw(TDeviceDrawer*) override {}
  };
  struct TReadySlide : TStubSlide {
    TReadySlide() : TStubSlide(0) {}
    TDrawItem* Object() override { return item.get(); }
    Ref<TItem> item = MakeRef<TItem>();
  };
  auto ready = MakeRef<TReadySlide>();
  auto* list = static_cast<TKavThreadEventList*>(engine->EventList());
  list->WaitForMessage(0);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(factory.made->OnSlidePrepared);
  factory.made->OnSlidePrepared(ready.get());
  list->WaitForMessage(60000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  Play(20);
  EXPECT_EQ(engine->FramesDrawn(), before + 1);
  Play(100);
  EXPECT_EQ(engine->FramesDrawn(), before + 1);
  TStubSlide::StillAfter = -1;
}

// A frame the device could not draw (its renderer not made yet) is drawn
// again once it can, though nothing on the slide changed meanwhile.
TEST_F(ShowEngineTest, AFrameTheDeviceCouldNotDrawIsDrawnLater) {
  dxtest::TDxRig::OffGui = true;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  Play(100);
  EXPECT_EQ(engine->FramesDrawn(), 0);
  dxtest::TDxRig::RunGui();
  dxtest::TDxRig::OffGui = false;
  Play(100);
  EXPECT_GE(engine->FramesDrawn(), 1);
  EXPECT_GE(rig->Frame().Presents, 1u);
}

// A backend that draws nothing and whose presents fail while `Misses` is
// above 0 (as the OpenGL device's do after a call found the context busy).
struct TMissingBackend : TSwBackendFactory {
  struct TDev : TSwDeviceBackend {
    explicit TDev(TMissingBackend* f) : owner(f) {}
    TSwResult Clear(TSwDevice&, uint32_t, const TSwRect*, uint32_t, const TSwRect&) override { return TSwResult::Ok; }
    TSwResult Draw(TSwDevice&, TSwPrimitive, uint32_t, const uint8_t*, uint32_t, uint32_t, const TSwRect&) override {
      return TSwResult::Ok;
    }
    TSwResult StretchRect(TSwDevice&, TSwSurface&, const TSwRect&, TSwSurface&, const TSwRect&) override {
      return TSwResult::Ok;
    }
    TSwResult ReadRenderTarget(TSwDevice&, TSwSurface&, TSwSurface&) override { return TSwResult::Ok; }
    TSwResult Present(TSwDevice&, TSwSwapChain&, const TSwRect&, const TSwRect&, TSwWindow) override {
      ++owner->Presents;
      if (owner->Misses.load() > 0) {
        --owner->Misses;
        return TSwResult::InvalidCall;
      }
      return TSwResult::Ok;
    }
    void Sweep(TSwDevice&) override {}
    void DeviceGone(TSwDevice&) override {}
    TMissingBackend* owner;
  };
  Ref<TSwDeviceBackend> NewDevice(TSwDevice&) override { return MakeRef<TDev>(this); }
  std::string Description() const override { return "missing"; }
  std::atomic<int> Misses{0}, Presents{0};
};

// A frame the ready device did not show (its present failed) is drawn again
// at the next pass, though nothing on the still slide changed.
TEST_F(ShowEngineTest, AFrameTheDeviceDidNotShowIsDrawnAgain) {
  auto backend = MakeRef<TMissingBackend>();
  TSwConfig cfg;
  cfg.Backend = backend;
  rig.reset();
  rig = std::make_unique<dxtest::TDxRig>(64, 48, cfg);
  TStubSlide::StillAfter = 0;
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && backend->Presents.load() == 0; ++i) Play(20);
  ASSERT_GE(backend->Presents.load(), 1);
  const int64_t drawn = engine->FramesDrawn();
  backend->Misses = 2;
  rig->Device->Repaint();  // an expose: the frame is drawn again, and fails twice
  for (int i = 0; i < 20 && engine->FramesDrawn() == drawn; ++i) Play(20);
  EXPECT_EQ(backend->Misses.load(), 0);
  EXPECT_EQ(engine->FramesDrawn(), drawn + 1);
  // Then the still slide draws nothing more.
  Play(200);
  EXPECT_EQ(engine->FramesDrawn(), drawn + 1);
  TStubSlide::StillAfter = -1;
}

TEST_F(ShowEngineTest, EndOfAShowThatStopsIsReportedOnce) {
  Make("opt_repeat=stop\r\n");
  ASSERT_TRUE(PassUntilSlides());
  Seek(5900);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());  // once the window around 5900 arrived
  Play(400);
  Play(400);
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->LoaderTime(), 6000);
  Drain();
  int finished = 0;
  for (const auto& t : seen.times)
    if (t[3]) {
      ++finished;
      EXPECT_EQ(t[1], 6000);
      EXPECT_EQ(t[2], 6000);
    }
  EXPECT_EQ(finished, 1);
  // Standing at the end the engine neither starts again nor draws, pass
  // after pass; the slide that ends there is the one held.
  EXPECT_TRUE(engine->AtStop());
  const int64_t frames = engine->FramesDrawn();
  for (int i = 0; i < 200; ++i) {
    Play(20);
    ASSERT_FALSE(engine->Active()) << i;
  }
  EXPECT_EQ(engine->FramesDrawn(), frames);
  EXPECT_TRUE(engine->Root()->AtStop);
  // A new position plays again.
  Seek(5000);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  EXPECT_FALSE(engine->AtStop());
}

TEST_F(ShowEngineTest, StopPointHoldsTheClockAndLoopRewinds) {
  // Slide 2 pauses at its end (2000); slide 4 loops by its pause length.
  Make("", "[Slide2]\r\nPers_EndAction=PAUSE\r\n[Slide4]\r\nPers_EndAction=Loop\r\n", 6, true);
  ASSERT_TRUE(PassUntilSlides());
  EXPECT_TRUE(engine->LoopRecord().Present);
  EXPECT_EQ(engine->LoopRecord().Time, 2000);
  Seek(1500);
  Post(kEngineMode, new TModeData(false));
  engine->MainLoop();
  Play(1000);
  EXPECT_TRUE(engine->Barrier());
  EXPECT_FALSE(engine->Active());
  EXPECT_EQ(engine->LoaderTime(), 2000);
  Play(500);
  EXPECT_EQ(engine->LoaderTime(), 2000);
  // A new position clears the stop point; the loop of slide 4 (length
  // 1000) rewinds the clock before its end.
  Seek(3600);
  Post(kEngineMode, new TModeData(false));
  engine->MainLoop();
  EXPECT_FALSE(engine->Barrier());
  EXPECT_EQ(engine->LoopRecord().Time, 4000);
  EXPECT_GT(engine->LoopRecord().Length, 0);
  ASSERT_TRUE(PassUntilActive());
  Play(600);
  EXPECT_LT(engine->LoaderTime(), 4000);
  EXPECT_GE(engine->LoaderTime(), 4000 - engine->LoopRecord().Length);
}

// A timed program on a slide after a still one starts on time though the
// engine waited long before it.
TEST_F(ShowEngineTest, ATimedProgramAfterAStillSlideStartsOnTime) {
  TStubSlide::StillAfter = 0;
  Make("", "[Slide2]\r\nPers_RunApp=1\r\nRunAppFN=notes.txt\r\n", 6, true);
  ASSERT_TRUE(PassUntilSlides());
  for (int i = 0; i < 1000 && engine->FramesDrawn() == 0; ++i) engine->MainLoop();
  Seek(100);
  Post(kEngineMode, new TModeData(false));
  ASSERT_TRUE(PassUntilActive());
  double at = -1;
  bool waited_long = false;
  for (int i = 0; i < 2000 && at < 0 && engine->LoaderTime() < 3000; ++i) {
    const double t = PassAsWaited();
    waited_long = waited_long || engine->IdleWaitMs() >= 200;
    Drain();
    for (const auto& e : seen.events)
      if (e[0] == kGuiAction && at < 0) at = t;
  }
  EXPECT_TRUE(waited_long);
  // Due 1 ms into the second slide (show time 1001).
  EXPECT_GE(at, 1001);
  EXPECT_LE(at, 1001 + 16 + 4);
  TStubSlide::StillAfter = -1;
}

TEST_F(ShowEngineTest, TimedProgramAndMouseActionsGoToTheGuiThread) {
  Make("", "[Slide2]\r\nPers_RunApp=1\r\nRunAppFN=notes.txt\r\n", 6, true);
  ASSERT_TRUE(PassUntilSlides());
  Post(kEngineMode, new TModeData(false));
  engine->MainLoop();
  Play(1200);
  auto mouse = MakeRef<TEngineMouseData>();
  mouse->Action = TKavAction{kActGotoSlide, 3, u""};
  Post(kEngineMouse, mouse.release());
  auto none = MakeRef<TEngineMouseData>();  // no action: nothing to do
  Post(kEngineMouse, none.release());
  engine->MainLoop();
  Drain();
  std::vector<std::vector<int32_t>> actions;
  for (const auto& e : seen.events)
    if (e[0] == kGuiAction) actions.push_back(e);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0], (std::vector<int32_t>{kGuiAction, kActRunApp, 0}));
  EXPECT_EQ(seen.texts[0], u"notes.txt");
  EXPECT_EQ(actions[1], (std::vector<int32_t>{kGuiAction, kActGotoSlide, 3}));
}

TEST_F(ShowEngineTest, AShowThatCannotBeReadKeepsTheOldOne) {
  Make("");
  TKavSource* before = engine->Source();
  auto empty = MakeRef<TIniFile>();
  // An accessor is required by the source: a missing one is refused cleanly.
  EXPECT_FALSE(engine->OpenShow(nullptr, empty.get(), 0));
  EXPECT_EQ(engine->Source(), before);
}

TEST_F(ShowEngineTest, ImageRequestsAndDeviceReinitialisation) {
  Make("");
  ASSERT_TRUE(PassUntilSlides());
  Play(100);
  Drain();
  EXPECT_EQ(seen.states, 1);
  // An image of the current frame comes back as event 14.
  Post(kEngineRenderImage, nullptr);
  engine->MainLoop();
  Drain();
  bool image = false;
  for (const auto& e : seen.events) image |= e[0] == kGuiImage;
  EXPECT_TRUE(image);
  // A lost and re-initialised device: the first frame is reported again.
  engine->DrawController()->RndLost(nullptr);
  Play(100);
  Drain();
  EXPECT_EQ(seen.states, 2);
}
