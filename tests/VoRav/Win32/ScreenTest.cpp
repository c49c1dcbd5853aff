#include <gtest/gtest.h>

#include <vector>

#include "VoRav/Win32/winScreen.h"
#include "platform/display/null/NullDisplay.h"

namespace kav {
namespace {

// Installs a null display with the given monitors for one test.
class ScreenTest : public ::testing::Test {
 protected:
  void Use(std::vector<TDisplayMonitor> monitors) {
    display_ = std::make_shared<TNullDisplay>(std::move(monitors));
    previous_ = SetDisplayService(display_);
    Screen()->Refresh();
  }
  void TearDown() override {
    if (display_) SetDisplayService(previous_);
    Screen()->Refresh();
  }
  std::shared_ptr<TNullDisplay> display_;
  std::shared_ptr<TDisplayService> previous_;
};

struct TSeen {
  THMonitor Handle;
  TRect Rect;
};

bool Collect(THMonitor m, const TRect& r, void* data) {
  static_cast<std::vector<TSeen>*>(data)->push_back({m, r});
  return true;
}

TEST_F(ScreenTest, WithoutMonitorsOnePseudoMonitorStandsForThePrimaryScreen) {
  Use({});
  ASSERT_EQ(Screen()->MonitorCount(), 1);
  auto m = Screen()->GetMonitor(0);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Handle(), kPseudoMonitor);
  EXPECT_TRUE(m->IsPrimary());
  EXPECT_EQ(m->GetBounds(), (TRect{0, 0, kFallbackScreenWidth, kFallbackScreenHeight}));
  TMonitorInfo info;
  ASSERT_TRUE(GetMonitorInfo(kPseudoMonitor, info));
  EXPECT_EQ(info.Device, u"DISPLAY");
  EXPECT_EQ(info.Flags, kMonitorInfoPrimary);
  // A short record gets no device name; one below the plain size is refused.
  TMonitorInfo shorter;
  shorter.Size = kMonitorInfoSize;
  ASSERT_TRUE(GetMonitorInfo(kPseudoMonitor, shorter));
  EXPECT_TRUE(shorter.Device.empty());
  shorter.Size = kMonitorInfoSize - 1;
  EXPECT_FALSE(GetMonitorInfo(kPseudoMonitor, shorter));
  EXPECT_EQ(GetDesktopRect(), (TRect{0, 0, kFallbackScreenWidth, kFallbackScreenHeight}));
  EXPECT_EQ(GetScreenRefreshRate(), 0);
  // The pseudo-monitor cut to a clip rectangle, and not called at all when
  // the clip misses it.
  std::vector<TSeen> seen;
  TRect clip{-100, 700, 50, 900};
  EXPECT_TRUE(EnumDisplayMonitors(&clip, &Collect, &seen));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Rect, (TRect{0, 700, 50, kFallbackScreenHeight}));
  seen.clear();
  TRect away{5000, 5000, 5100, 5100};
  EXPECT_TRUE(EnumDisplayMonitors(&away, &Collect, &seen));
  EXPECT_TRUE(seen.empty());
}

TEST_F(ScreenTest, TwoMonitorsListedWithRectanglesWorkAreasAndPrimaryFlag) {
  auto left = TNullDisplay::MakeMonitor(-1280, 100, 1280, 1024);
  auto main = TNullDisplay::MakeMonitor(0, 0, 1920, 1080, true);
  main.WorkArea = {0, 30, 1920, 1080};
  main.RefreshRate = 75;
  main.BitsPerPixel = 16;
  main.DpiX = 120;
  main.DpiY = 144;
  Use({left, main});
  ASSERT_EQ(Screen()->MonitorCount(), 2);
  EXPECT_FALSE(Screen()->GetMonitor(0)->IsPrimary());
  EXPECT_TRUE(Screen()->GetMonitor(1)->IsPrimary());
  EXPECT_EQ(Screen()->GetMonitor(0)->GetBounds(), (TRect{-1280, 100, 0, 1124}));
  EXPECT_FALSE(Screen()->GetMonitor(2));
  EXPECT_EQ(GetScreenSize().cx, 1920);
  EXPECT_EQ(GetWorkArea(), (TRect{0, 30, 1920, 1080}));
  EXPECT_EQ(GetDesktopRect(), (TRect{-1280, 0, 1920, 1124}));
  EXPECT_EQ(GetScreenRefreshRate(), 75);
  EXPECT_EQ(GetScreenBitsPerPixel(), 16);
  int32_t dx = 0, dy = 0;
  GetScreenDpi(dx, dy);
  EXPECT_EQ(dx, 120);
  EXPECT_EQ(dy, 144);
  // The enumeration stops when the callback says so.
  int calls = 0;
  EXPECT_FALSE(EnumDisplayMonitors(
      nullptr, [](THMonitor, const TRect&, void* d) { ++*static_cast<int*>(d); return false; }, &calls));
  EXPECT_EQ(calls, 1);
}

TEST_F(ScreenTest, UnknownHandlesGiveThePrimaryScreenAndHandleZeroNothing) {
  Use({TNullDisplay::MakeMonitor(0, 0, 800, 600, true)});
  EXPECT_EQ(GetMonitorBounds(77), (TRect{0, 0, 800, 600}));
  EXPECT_EQ(GetMonitorBounds(kPseudoMonitor), (TRect{0, 0, 800, 600}));  // stands in only without monitors
  EXPECT_TRUE(GetMonitorBounds(0).IsEmpty());
  // A monitor that went away: its handle falls back too.
  auto m = Screen()->GetMonitor(0);
  display_->SetSystemMonitors({TNullDisplay::MakeMonitor(0, 0, 640, 480, true)});
  display_->Update();
  EXPECT_EQ(m->GetBounds(), (TRect{0, 0, 640, 480}));
  display_->SetSystemMonitors({});
  display_->Update();
  EXPECT_EQ(m->GetBounds(), (TRect{0, 0, kFallbackScreenWidth, kFallbackScreenHeight}));
}

TEST_F(ScreenTest, CenterInWorkAreaRoundsTowardZeroAndGoesNegativeWhenLarger) {
  auto m = TNullDisplay::MakeMonitor(0, 0, 1000, 800, true);
  m.WorkArea = {10, 20, 1001, 801};  // 991 x 781
  Use({m});
  EXPECT_EQ(CenterInWorkArea(100, 100), (TRect{10 + 445, 20 + 340, 10 + 445 + 100, 20 + 340 + 100}));
  // (991 - 1200) / 2 = -104 (toward zero, not -105).
  TRect big = CenterInWorkArea(1200, 900);
  EXPECT_EQ(big.Left, 10 - 104);
  EXPECT_EQ(big.Top, 20 - 59);
  EXPECT_EQ(big.Width(), 1200);
}

}  // namespace
}  // namespace kav
