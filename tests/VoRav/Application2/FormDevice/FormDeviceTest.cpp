#include <gtest/gtest.h>

#include "VoRav/Application2/FormDevice/vxFormDevice.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winForms.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

class FormDeviceTest : public AppTest {
};

struct TActivations {
  int n = 0;
  void On(TRefObject*) { n++; }
};

}  // namespace

TEST_F(FormDeviceTest, FollowsTheFormsSizeForegroundAndActivation) {
  Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
  Ref<TVxFormDevice> device = MakeRef<TVxFormDevice>(form.get());
  EXPECT_EQ(device->Window(), form->Controller()->GetHandle());
  form->SetBoundsRect(TRect{100, 120, 500, 420});
  EXPECT_EQ(device->Bounds(), (TRect{100, 120, 500, 420}));
  EXPECT_EQ(device->Offset(), form->ClientToScreen(TPoint{0, 0}));
  EXPECT_FALSE(device->CanDraw());  // not shown yet
  TActivations acts;
  device->OnActivate = T3DNotifyEvent::Bind<&TActivations::On>(&acts);
  form->Show();
  EXPECT_TRUE(device->CanDraw());
  EXPECT_EQ(acts.n, 1);
  // A cursor change makes the window under the mouse ask again.
  TPoint inside = form->ClientToScreen(TPoint{5, 5});
  SetCursorPos(inside.X, inside.Y);
  form->SetCursor(-4);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_IBEAM));
}

// A full-screen device presents into the form's window itself: when that
// window is to be painted again (mapped again, uncovered), the device asks
// for its frame again, which a still slide draws no other way.
TEST_F(FormDeviceTest, APaintOfTheFormsWindowAsksForTheFrameAgain) {
  Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
  Ref<TVxFormDevice> device = MakeRef<TVxFormDevice>(form.get());
  TActivations repaints;
  device->OnRepaint = T3DNotifyEvent::Bind<&TActivations::On>(&repaints);
  form->Show();
  UpdateWindow(form->Controller()->GetHandle());
  const int shown = repaints.n;
  EXPECT_GE(shown, 1);
  InvalidateRect(form->Controller()->GetHandle(), nullptr, false);
  UpdateWindow(form->Controller()->GetHandle());
  EXPECT_EQ(repaints.n, shown + 1);
  device = nullptr;  // lets go of the form: a later paint reaches nothing
  InvalidateRect(form->Controller()->GetHandle(), nullptr, false);
  UpdateWindow(form->Controller()->GetHandle());
  EXPECT_EQ(repaints.n, shown + 1);
}

TEST_F(FormDeviceTest, AFormThatGoesFirstLeavesTheDeviceUsable) {
  Ref<TVxForm> form = MakeRef<TVxForm>(&CreateWinFormController);
  Ref<TVxFormDevice> device = MakeRef<TVxFormDevice>(form.get());
  form = nullptr;
  EXPECT_EQ(device->Form(), nullptr);
  EXPECT_FALSE(device->CanDraw());
  device = nullptr;
}
