#include <gtest/gtest.h>

#include "KavLib2/KavEngine/KavMouseMonitor.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

struct TCalls {
  int enter = 0, leave = 0, hidden = 0;
  void Enter(TMouseMonitor*) { enter++; }
  void Leave(TMouseMonitor*) { leave++; }
  void Hidden(TMouseMonitor*) { hidden++; }
};

class MouseMonitorTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    backend->SetManualClock(1000);
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    form = MakeRef<TVxForm>(&CreateWinFormController);
    form->SetBoundsRect(TRect{100, 100, 500, 400});
    form->Show();
    client_origin = form->ClientToScreen(TPoint{0, 0});
  }
  void TearDown() override {
    form = nullptr;
    app->Finalize();
    app = nullptr;
    WindowTest::TearDown();
  }
  void MoveTo(int32_t x, int32_t y, TMouseMonitor* m) {
    SetCursorPos(client_origin.X + x, client_origin.Y + y);
    m->HandleFormEvent(nullptr, kFormEventMouse, nullptr);
  }

  Ref<TVxApplication> app;
  Ref<TVxForm> form;
  TPoint client_origin;
};

}  // namespace

TEST_F(MouseMonitorTest, EnterAndLeaveStartAndStopThePollTimer) {
  auto m = MakeRef<TMouseMonitor>(form.get(), false);
  TCalls calls;
  m->SetEnterCallback(TMouseMonitorEvent::Bind<&TCalls::Enter>(&calls));
  SetCursorPos(0, 0);
  m->SetLeaveCallback(TMouseMonitorEvent::Bind<&TCalls::Leave>(&calls));
  // Marked inside, checked at once only when inside: nothing yet.
  EXPECT_EQ(calls.leave, 0);
  MoveTo(10, 10, m.get());
  EXPECT_TRUE(m->Inside());
  EXPECT_TRUE(m->Polling());
  MoveTo(-5, 10, m.get());
  EXPECT_EQ(calls.leave, 1);
  EXPECT_FALSE(m->Polling());
  const TRect client = form->GetClientRect();
  MoveTo(client.Width() - 1, client.Height() - 1, m.get());
  EXPECT_TRUE(m->Inside());
  EXPECT_TRUE(m->Polling());
  MoveTo(client.Width(), 0, m.get());
  EXPECT_FALSE(m->Inside());
  EXPECT_EQ(calls.enter, 1);  // the first inside check found it already marked inside
}

TEST_F(MouseMonitorTest, HidesAfterTheIntervalAndShowsOnFivePixels) {
  auto m = MakeRef<TMouseMonitor>(form.get(), false);
  TCalls calls;
  m->OnHiddenChanged = TMouseMonitorEvent::Bind<&TCalls::Hidden>(&calls);
  MoveTo(50, 50, m.get());
  m->SetInterval(2000);
  backend->Advance(1500);
  m->Check();
  EXPECT_FALSE(m->Hidden());
  backend->Advance(600);
  m->Check();
  EXPECT_TRUE(m->Hidden());
  EXPECT_EQ(calls.hidden, 1);
  MoveTo(54, 54, m.get());  // 4 and 4: still hidden
  EXPECT_TRUE(m->Hidden());
  MoveTo(55, 50, m.get());
  EXPECT_FALSE(m->Hidden());
  EXPECT_EQ(calls.hidden, 2);
}

TEST_F(MouseMonitorTest, IntervalZeroNeverHidesNorShows) {
  auto m = MakeRef<TMouseMonitor>(form.get(), false);
  m->SetInterval(-10);
  EXPECT_EQ(m->Interval(), 0);
  MoveTo(50, 50, m.get());
  backend->Advance(100000);
  m->Check();
  EXPECT_FALSE(m->Hidden());
  m->SetHidden(true);
  MoveTo(150, 150, m.get());
  EXPECT_TRUE(m->Hidden());
}

TEST_F(MouseMonitorTest, FormThatGoesDetachesAndReleasesAnOwnMonitor) {
  TMouseMonitor* m = new TMouseMonitor(form.get(), true);  // releases itself
  SetCursorPos(client_origin.X + 5, client_origin.Y + 5);
  TCalls calls;
  m->SetLeaveCallback(TMouseMonitorEvent::Bind<&TCalls::Leave>(&calls));
  m->HandleFormEvent(nullptr, kFormEventDestroy, nullptr);  // as the form's destruction does
  // The monitor is gone: ASan reports any later use; the form no longer calls it.
  form->SetVisible(false);
  form->SetVisible(true);
  EXPECT_EQ(calls.leave, 1);  // the last check found the cursor outside
}
