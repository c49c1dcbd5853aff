#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <thread>

#include "platform/display/Display.h"
#include "platform/display/null/NullDisplay.h"
#include "platform/display/sdl/SdlDisplay.h"

namespace kav {
namespace {

TEST(NullDisplay, DefaultIsOnePrimaryMonitorWithAWorkArea) {
  TNullDisplay d;
  ASSERT_EQ(d.Count(), 1);
  TDisplayMonitor m;
  ASSERT_TRUE(d.Monitor(0, m));
  EXPECT_EQ(m.Bounds, (TDisplayRect{0, 0, 1920, 1080}));
  EXPECT_EQ(m.WorkArea, (TDisplayRect{0, 0, 1920, 1040}));
  EXPECT_TRUE(m.Primary);
  EXPECT_EQ(m.BitsPerPixel, 32);
  EXPECT_EQ(m.RefreshRate, 60);
  EXPECT_FALSE(d.Monitor(1, m));
  EXPECT_FALSE(d.Monitor(-1, m));
}

TEST(NullDisplay, ChangesShowAfterUpdateAndExactlyOneMonitorIsPrimary) {
  TNullDisplay d;
  uint64_t g = d.Generation();
  // Two monitors both claiming to be primary: the first keeps the flag.
  d.SetSystemMonitors({TNullDisplay::MakeMonitor(-1280, 0, 1280, 1024, true),
                       TNullDisplay::MakeMonitor(0, 0, 1920, 1080, true)});
  EXPECT_EQ(d.Count(), 1);  // not before Update
  EXPECT_TRUE(d.Update());
  EXPECT_GT(d.Generation(), g);
  auto ms = d.Monitors();
  ASSERT_EQ(ms.size(), 2u);
  EXPECT_TRUE(ms[0].Primary);
  EXPECT_FALSE(ms[1].Primary);
  // None claiming it: the first one gets it.
  d.SetSystemMonitors({TNullDisplay::MakeMonitor(0, 0, 800, 600), TNullDisplay::MakeMonitor(800, 0, 800, 600)});
  d.Update();
  EXPECT_TRUE(d.Monitors()[0].Primary);
  // The same again changes nothing.
  g = d.Generation();
  EXPECT_FALSE(d.Update());
  EXPECT_EQ(d.Generation(), g);
  // A system without monitors gives an empty snapshot.
  d.SetSystemMonitors({});
  EXPECT_TRUE(d.Update());
  EXPECT_EQ(d.Count(), 0);
}

TEST(NullDisplay, SnapshotIsReadableFromOtherThreadsWhileUpdating) {
  TNullDisplay d;
  std::thread reader([&] {
    for (int i = 0; i < 2000; ++i) {
      auto ms = d.Monitors();
      for (auto& m : ms) ASSERT_FALSE(m.Bounds.IsEmpty());
    }
  });
  for (int i = 0; i < 200; ++i) {
    d.SetSystemMonitors({TNullDisplay::MakeMonitor(0, 0, 640 + i, 480, true)});
    d.Update();
  }
  reader.join();
}

TEST(NullDisplay, ScreenSaverSwitchRecordsAndCanRefuse) {
  TNullDisplay d;
  EXPECT_TRUE(d.ScreenSaverEnabled());
  EXPECT_TRUE(d.SetScreenSaverEnabled(false));
  EXPECT_FALSE(d.ScreenSaverEnabled());
  d.SetRefuseScreenSaver(true);
  EXPECT_FALSE(d.SetScreenSaverEnabled(true));
  EXPECT_FALSE(d.ScreenSaverEnabled());
  EXPECT_EQ(d.ScreenSaverCalls(), 2);
}

TEST(DisplayService, DefaultIsNullAndResetRestoresIt) {
  auto custom = std::make_shared<TNullDisplay>(std::vector<TDisplayMonitor>{TNullDisplay::MakeMonitor(0, 0, 10, 10)});
  auto previous = SetDisplayService(custom);
  EXPECT_EQ(DisplayService().get(), custom.get());
  SetDisplayService(nullptr);
  EXPECT_NE(DisplayService().get(), custom.get());
  EXPECT_EQ(DisplayService()->Count(), 1);
  SetDisplayService(previous);
}

// The SDL backend with SDL's headless video driver, which reports one display.
TEST(SdlDisplay, DummyDriverReportsOneMonitorWithItsMode) {
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  std::string error;
  auto d = TSdlDisplay::Create(&error);
  ASSERT_TRUE(d) << error;
  ASSERT_GE(d->Count(), 1);
  TDisplayMonitor m;
  ASSERT_TRUE(d->Monitor(0, m));
  EXPECT_TRUE(m.Primary);
  EXPECT_FALSE(m.Bounds.IsEmpty());
  EXPECT_FALSE(m.WorkArea.IsEmpty());
  EXPECT_GE(m.BitsPerPixel, 16);
  SDL_Rect r;
  ASSERT_EQ(SDL_GetDisplayBounds(0, &r), 0);
  EXPECT_EQ(m.Bounds, (TDisplayRect{r.x, r.y, r.x + r.w, r.y + r.h}));
  EXPECT_FALSE(d->Update());  // nothing changed
  EXPECT_TRUE(d->SetScreenSaverEnabled(false));
  EXPECT_FALSE(SDL_IsScreenSaverEnabled());
  EXPECT_TRUE(d->SetScreenSaverEnabled(true));
  EXPECT_TRUE(SDL_IsScreenSaverEnabled());
}

}  // namespace
}  // namespace kav
