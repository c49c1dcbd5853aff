#include <gtest/gtest.h>

#include "EngineAppFixture.h"
#include "EngineStubs.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavShowViewer.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxTime.h"
#include "platform/display/null/NullDisplay.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::enginetest;
using namespace kav::win;

namespace {

Ref<TCommandsStorage> Commands(const std::u16string& line) {
  auto store = MakeRef<TCommandsStorage>();
  ParseCommandLine(line, nullptr, store.get());
  return store;
}

TDisplayMonitor Monitor(int32_t left, int32_t width, int32_t height, bool primary) {
  TDisplayMonitor m;
  m.Bounds = TDisplayRect{left, 0, left + width, height};
  m.WorkArea = m.Bounds;
  m.Primary = primary;
  return m;
}

}  // namespace

TEST(ShowWindowPlacement, LargeWindowIsScaledToFitAndCentred) {
  const TRect r = PlaceShowWindow(2000, 1500, TSize{16, 39}, TRect{0, 0, 1920, 1080});
  const double f = std::min((1920.0 - 16) / 2000, (1080.0 - 39) / 1500);
  const int32_t cw = int32_t(std::nearbyint(2000 * f)), ch = int32_t(std::nearbyint(1500 * f));
  EXPECT_EQ(r.Width(), cw + 16);
  EXPECT_EQ(r.Height(), ch + 39);
  EXPECT_EQ(r.Left, (1920 - r.Width()) / 2);
  EXPECT_EQ(r.Top, (1080 - r.Height()) / 2);
}

TEST(ShowWindowPlacement, SmallWindowKeepsItsSizeOnAnyMonitor) {
  EXPECT_EQ(PlaceShowWindow(640, 480, TSize{0, 0}, TRect{1920, 0, 3200, 1024}), (TRect{2240, 272, 2880, 752}));
  // Negative areas centre with truncating division.
  EXPECT_EQ(PlaceShowWindow(101, 101, TSize{0, 0}, TRect{-1000, -500, 0, 0}), (TRect{-550, -300, -449, -199}));
}

TEST(ShowWindowPlacement, DamagedSizesNeverDivideByZero) {
  const TRect zero = PlaceShowWindow(0, 0, TSize{16, 39}, TRect{0, 0, 800, 600});
  EXPECT_EQ(zero.Width(), 17);
  EXPECT_EQ(zero.Height(), 40);
  // A frame larger than the area leaves a one-pixel client.
  const TRect tiny = PlaceShowWindow(640, 480, TSize{50, 50}, TRect{0, 0, 40, 40});
  EXPECT_EQ(tiny.Width(), 51);
  EXPECT_EQ(tiny.Height(), 51);
  const TRect huge = PlaceShowWindow(2147483647, 2147483647, TSize{0, 0}, TRect{0, 0, 1920, 1080});
  EXPECT_LE(huge.Width(), 1920);
  EXPECT_LE(huge.Height(), 1080);
}

TEST(ShowWindowPlacement, CommandLineOptions) {
  auto previous = SetDisplayService(std::make_shared<TNullDisplay>(std::vector<TDisplayMonitor>{
      Monitor(0, 1280, 1024, false), Monitor(1280, 1920, 1080, true), Monitor(3200, 800, 600, false)}));
  Screen()->Refresh();
  EXPECT_EQ(CmdDisplayIndex(Commands(u"kavplay -display 3").get()), 2);
  EXPECT_EQ(CmdDisplayIndex(Commands(u"kavplay -display 0").get()), 1);  // the primary one
  EXPECT_EQ(CmdDisplayIndex(Commands(u"kavplay -display 4").get()), 1);
  EXPECT_EQ(CmdDisplayIndex(Commands(u"kavplay -display x").get()), 1);
  EXPECT_EQ(CmdDisplayIndex(Commands(u"kavplay").get()), 1);
  EXPECT_TRUE(CmdHasDesktopAlign(Commands(u"kavplay -DesktopAlign").get()));
  EXPECT_FALSE(CmdHasResize(Commands(u"kavplay show.kvshow").get()));
  EXPECT_TRUE(CmdHasResize(Commands(u"kavplay -resize").get()));
  SetDisplayService(previous);
  Screen()->Refresh();
}

namespace {

struct TViewerSeen {
  std::vector<TKavAction> actions;
  std::vector<bool> times;
  void Action(const TKavAction& a) { actions.push_back(a); }
  void Time(bool finished) { times.push_back(finished); }
};

class ShowViewerTest : public EngineAppTest {
 protected:
  void SetUp() override {
    EngineAppTest::SetUp();
    form = MakeRef<TVxForm>(&CreateWinFormController);
  }
  void TearDown() override {
    viewer = nullptr;
    form = nullptr;
    EngineAppTest::TearDown();
  }
  template <class F>
  bool PumpUntil(F done) {
    for (int i = 0; i < 1000; ++i) {
      Drain();
      if (done()) return true;
      SleepMs(3);
    }
    return false;
  }

  Ref<TVxForm> form;
  Ref<TKavShowViewer> viewer;
  TFactoryScope factory;
  TViewerSeen seen;
};

}  // namespace

TEST_F(ShowViewerTest, FirstOpenPlacesTheWindowAndStartsTheEngine) {
  viewer = MakeRef<TKavShowViewer>(form.get());
  auto commands = MakeRef<TCommandsStorage>();
  viewer->SetCommands(commands.get());
  viewer->OnAction = TViewerActionEvent::Bind<&TViewerSeen::Action>(&seen);
  viewer->OnTimeChanged = TViewerTimeEvent::Bind<&TViewerSeen::Time>(&seen);
  // Requests before the engine runs are dropped.
  viewer->SetPosition(500);
  viewer->MouseInput(2, 1, 1, 0, 1);
  EXPECT_EQ(viewer->LastTime(), 0);

  auto options = ShowOptions("opt_scr_full=0\r\nopt_withoutborder=0\r\nopt_scr_width=800\r\nopt_scr_height=600\r\n", 6);
  viewer->Open(DiskAccessor().get(), options.get(), 0);
  ASSERT_NE(viewer->Engine(), nullptr);
  EXPECT_TRUE(viewer->Engine()->Running());
  const TRect bounds = form->Bounds();
  const TSize frame = form->GetNonClientSize();
  EXPECT_EQ(bounds.Width(), 800 + frame.cx);
  EXPECT_EQ(bounds.Height(), 600 + frame.cy);
  EXPECT_EQ(bounds.Left, (1920 - bounds.Width()) / 2);
  EXPECT_EQ(form->BorderStyle(), 5);

  // The first time report reaches the callback.
  ASSERT_TRUE(PumpUntil([&] { return !seen.times.empty(); }));
  EXPECT_EQ(viewer->Duration(), 6000);

  viewer->SetPosition(2500);
  EXPECT_EQ(viewer->LastTime(), 2500);
  ASSERT_TRUE(PumpUntil([&] { return viewer->Engine()->CurrentOpenId() == 1 && viewer->LastTime() == 2500; }));

  // A mouse release with an action that no slide takes comes back as an action.
  viewer->MouseInputWithAction(2, 10, 10, 0, 1, TKavAction{kActWebAddress, 0, u"example.org"});
  ASSERT_TRUE(PumpUntil([&] { return !seen.actions.empty(); }));
  EXPECT_EQ(seen.actions[0], (TKavAction{kActWebAddress, 0, u"example.org"}));

  viewer->SetPaused(false);
  EXPECT_FALSE(viewer->Paused());
  viewer = nullptr;  // stops the engine
}

TEST_F(ShowViewerTest, FullScreenShowFillsTheMonitorWithoutBorder) {
  viewer = MakeRef<TKavShowViewer>(form.get());
  auto commands = MakeRef<TCommandsStorage>();
  viewer->SetCommands(commands.get());
  viewer->Open(DiskAccessor().get(), ShowOptions("opt_scr_full=1\r\nopt_scr_width=300\r\n", 3).get(), 0);
  EXPECT_EQ(form->BorderStyle(), 0);
  EXPECT_EQ(form->Bounds(), (TRect{0, 0, 1920, 1080}));
}

TEST(ShowViewer, NeedsAForm) { EXPECT_THROW(MakeRef<TKavShowViewer>(nullptr), EAbort); }
